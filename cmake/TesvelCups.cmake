# Locates libcups and libcupsimage and defines the imported targets
# Cups::cups and Cups::image.  pkg-config first (CUPS 2.5 ships cups.pc),
# then cups-config (Debian 12 has no cups.pc), then the plain library names.
find_package(PkgConfig QUIET)
set(_cups_found FALSE)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(CUPS_PC QUIET IMPORTED_TARGET cups)
  if(CUPS_PC_FOUND)
    add_library(Cups::cups ALIAS PkgConfig::CUPS_PC)
    set(_cups_found TRUE)
  endif()
endif()

if(NOT _cups_found)
  find_path(CUPS_INCLUDE_DIR cups/cups.h)
  find_library(CUPS_LIBRARY NAMES cups)
  if(NOT CUPS_INCLUDE_DIR OR NOT CUPS_LIBRARY)
    message(FATAL_ERROR "libcups development files not found (install libcups2-dev)")
  endif()
  add_library(Cups::cups UNKNOWN IMPORTED)
  set_target_properties(Cups::cups PROPERTIES
    IMPORTED_LOCATION ${CUPS_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${CUPS_INCLUDE_DIR})
endif()

find_library(CUPSIMAGE_LIBRARY NAMES cupsimage)
if(NOT CUPSIMAGE_LIBRARY)
  message(FATAL_ERROR "libcupsimage development files not found (install libcupsimage2-dev)")
endif()
add_library(Cups::image UNKNOWN IMPORTED)
set_target_properties(Cups::image PROPERTIES
  IMPORTED_LOCATION ${CUPSIMAGE_LIBRARY}
  INTERFACE_LINK_LIBRARIES Cups::cups)

# CUPS's own directories, for install rules and for tests that run the
# real filter chain: pkg-config first, then cups-config, then the usual
# default.  Each can be overridden on the command line.
find_program(CUPS_CONFIG cups-config)
if(NOT CUPS_SERVERBIN AND PKG_CONFIG_FOUND AND CUPS_PC_FOUND)
  pkg_get_variable(_pc_serverbin cups cups_serverbin)
  if(_pc_serverbin)
    set(CUPS_SERVERBIN ${_pc_serverbin} CACHE PATH "CUPS server binary directory")
  endif()
endif()
if(NOT CUPS_DATADIR AND PKG_CONFIG_FOUND AND CUPS_PC_FOUND)
  pkg_get_variable(_pc_datadir cups cups_datadir)
  if(_pc_datadir)
    set(CUPS_DATADIR ${_pc_datadir} CACHE PATH "CUPS data directory")
  endif()
endif()
if(NOT CUPS_SERVERBIN)
  set(_serverbin /usr/lib/cups)
  if(CUPS_CONFIG)
    execute_process(COMMAND ${CUPS_CONFIG} --serverbin OUTPUT_VARIABLE _serverbin
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  set(CUPS_SERVERBIN ${_serverbin} CACHE PATH "CUPS server binary directory")
endif()
if(NOT CUPS_DATADIR)
  set(_datadir /usr/share/cups)
  if(CUPS_CONFIG)
    execute_process(COMMAND ${CUPS_CONFIG} --datadir OUTPUT_VARIABLE _datadir
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  set(CUPS_DATADIR ${_datadir} CACHE PATH "CUPS data directory")
endif()

find_program(PPDC_EXECUTABLE ppdc REQUIRED)

# The PPD API is marked deprecated in CUPS 2.x but is what every PPD-driven
# filter uses; keep the compiler quiet about it for our code.
add_library(Cups::ppd INTERFACE IMPORTED)
set_target_properties(Cups::ppd PROPERTIES
  INTERFACE_LINK_LIBRARIES Cups::cups
  INTERFACE_COMPILE_OPTIONS -Wno-deprecated-declarations)
