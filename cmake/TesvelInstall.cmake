# Where an installed driver goes:
#   filters     <CUPS_SERVERBIN>/filter    (rasterfilter, jobwrapper), where CUPS runs them
#   prndecode   <prefix>/bin
#   PPDs        <TESVEL_PPD_INSTALL_DIR>   (/usr/share/ppd/tesvel by default): CUPS lists
#               every PPD below /usr/share/ppd, so `lpinfo -m` shows each model
#   udev rule   <TESVEL_UDEV_RULES_DIR>    gives the lp group the maker's USB printers
# DESTDIR is honoured for all of them.
include(GNUInstallDirs)

set(TESVEL_PPD_INSTALL_DIR "/usr/share/ppd/tesvel" CACHE PATH "Where the PPD files are installed")
set(TESVEL_UDEV_RULES_DIR "/lib/udev/rules.d" CACHE PATH "Where the udev rule is installed")

foreach(_filter rasterfilter jobwrapper)
  if(TARGET ${_filter})
    install(TARGETS ${_filter} RUNTIME DESTINATION ${CUPS_SERVERBIN}/filter)
  endif()
endforeach()
if(TARGET prndecode)
  install(TARGETS prndecode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(DIRECTORY ${TESVEL_PPD_DIR}/ DESTINATION ${TESVEL_PPD_INSTALL_DIR}
        FILES_MATCHING PATTERN "*.ppd")
install(FILES ${CMAKE_SOURCE_DIR}/scripts/60-tesvel-printers.rules
        DESTINATION ${TESVEL_UDEV_RULES_DIR})

# make uninstall: removes what the last install wrote.
if(NOT TARGET uninstall)
  add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
            -P ${CMAKE_SOURCE_DIR}/cmake/TesvelUninstall.cmake
    COMMENT "Removing the installed driver")
endif()
