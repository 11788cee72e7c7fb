# Where an installed driver goes:
#   filters     <CUPS_SERVERBIN>/filter    (rasterfilter, jobwrapper), where CUPS runs them
#   prndecode   <prefix>/bin
#   PPDs        <TESVEL_PPD_INSTALL_DIR>   (/usr/share/ppd/tesvel by default): CUPS lists
#               every PPD below /usr/share/ppd, so `lpinfo -m` shows each model
#   udev rule   <TESVEL_UDEV_RULES_DIR>    gives the lp group the maker's USB printers
#   tesvel-printer-app  <prefix>/bin, with its systemd unit, its user (sysusers.d)
#               and its spool directory (tmpfiles.d)
# DESTDIR is honoured for all of them.
include(GNUInstallDirs)

set(TESVEL_PPD_INSTALL_DIR "/usr/share/ppd/tesvel" CACHE PATH "Where the PPD files are installed")
set(TESVEL_UDEV_RULES_DIR "/lib/udev/rules.d" CACHE PATH "Where the udev rule is installed")
set(TESVEL_SYSTEMD_UNIT_DIR "/lib/systemd/system" CACHE PATH "Where the systemd unit is installed")
set(TESVEL_SYSUSERS_DIR "/usr/lib/sysusers.d" CACHE PATH "Where sysusers.d files are installed")
set(TESVEL_TMPFILES_DIR "/usr/lib/tmpfiles.d" CACHE PATH "Where tmpfiles.d files are installed")

foreach(_filter rasterfilter jobwrapper)
  if(TARGET ${_filter})
    install(TARGETS ${_filter} RUNTIME DESTINATION ${CUPS_SERVERBIN}/filter)
  endif()
endforeach()
if(TARGET prndecode)
  install(TARGETS prndecode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(TARGET tesvel-printer-app)
  install(TARGETS tesvel-printer-app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(_systemd ${CMAKE_SOURCE_DIR}/printer-app/systemd)
  # The unit names the program where this install puts it: the prefix
  # given to cmake --install counts, so the unit is written at install time.
  install(CODE "
    set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${_systemd}/tesvel-printer-app.service.in\"
                   \"${CMAKE_BINARY_DIR}/tesvel-printer-app.service\" @ONLY)")
  install(FILES ${CMAKE_BINARY_DIR}/tesvel-printer-app.service DESTINATION ${TESVEL_SYSTEMD_UNIT_DIR})
  install(FILES ${_systemd}/tesvel-printer-app.sysusers DESTINATION ${TESVEL_SYSUSERS_DIR}
          RENAME tesvel-printer-app.conf)
  install(FILES ${_systemd}/tesvel-printer-app.tmpfiles DESTINATION ${TESVEL_TMPFILES_DIR}
          RENAME tesvel-printer-app.conf)
endif()

install(DIRECTORY ${TESVEL_PPD_DIR}/ DESTINATION ${TESVEL_PPD_INSTALL_DIR}
        FILES_MATCHING PATTERN "*.ppd")
install(FILES ${CMAKE_SOURCE_DIR}/scripts/60-tesvel-printers.rules
        DESTINATION ${TESVEL_UDEV_RULES_DIR})

# make uninstall: removes what the last install wrote.
if(NOT TARGET uninstall)
  add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
            -DOWN_DIRS=${TESVEL_PPD_INSTALL_DIR}
            -P ${CMAKE_SOURCE_DIR}/cmake/TesvelUninstall.cmake
    COMMENT "Removing the installed driver")
endif()
