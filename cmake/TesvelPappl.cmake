# Our own PAPPL: Debian 12's 1.3.1 source with the patches in
# third_party/pappl/patches, built once per build directory (at configure
# time, again whenever a patch or the recipe changes) and linked statically
# into tesvel-printer-app.  It is compiled with this build's C compiler and
# sanitizer flags, so faults inside PAPPL show in the sanitizer runs, and
# for the cross build's target.  Defines the target Tesvel::pappl and sets
# TESVEL_PAPPL_FOUND; only a cross build goes on without it (its libraries
# may be missing for the target), leaving the application out.
set(_pappl_dir ${CMAKE_SOURCE_DIR}/third_party/pappl)
set(_pappl_work ${CMAKE_BINARY_DIR}/pappl)
file(GLOB _pappl_inputs ${_pappl_dir}/patches/* ${_pappl_dir}/build-pappl.sh)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_pappl_inputs})

set(_pappl_cflags "${CMAKE_C_FLAGS} -g -O2")
if(TESVEL_FUZZ)
  string(APPEND _pappl_cflags " -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer")
elseif(SANITIZE)
  string(APPEND _pappl_cflags " -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined")
endif()
set(_pappl_args)
if(CMAKE_CROSSCOMPILING)
  list(APPEND _pappl_args --host=${CMAKE_LIBRARY_ARCHITECTURE})
endif()

# The stamp records what the library was built from: the recipe, every
# patch and the flags.  A match means the library in the work directory is
# the one this configuration asks for.
set(_pappl_key "${CMAKE_C_COMPILER} ${_pappl_cflags} ${_pappl_args}")
foreach(_f IN LISTS _pappl_inputs)
  file(SHA256 ${_f} _h)
  string(APPEND _pappl_key " ${_h}")
endforeach()
set(_pappl_stamp_file ${_pappl_work}/stamp)
set(_pappl_stamp "")
if(EXISTS ${_pappl_stamp_file} AND EXISTS ${_pappl_work}/src/pappl/libpappl.a)
  file(READ ${_pappl_stamp_file} _pappl_stamp)
endif()
if(NOT _pappl_stamp STREQUAL _pappl_key)
  message(STATUS "Building PAPPL with our patches in ${_pappl_work}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env CC=${CMAKE_C_COMPILER} CFLAGS=${_pappl_cflags}
            sh ${_pappl_dir}/build-pappl.sh ${_pappl_work} ${_pappl_args}
    RESULT_VARIABLE _pappl_result)
  if(NOT _pappl_result EQUAL 0)
    if(CMAKE_CROSSCOMPILING)
      message(WARNING "PAPPL could not be built (see ${_pappl_work}/*.log): tesvel-printer-app is not built")
      set(TESVEL_PAPPL_FOUND OFF)
      return()
    endif()
    message(FATAL_ERROR "PAPPL could not be built (see ${_pappl_work}/*.log)")
  endif()
  file(WRITE ${_pappl_stamp_file} "${_pappl_key}")
endif()

file(READ ${_pappl_work}/libs.txt _pappl_libs)
string(STRIP "${_pappl_libs}" _pappl_libs)
separate_arguments(_pappl_libs UNIX_COMMAND "${_pappl_libs}")
set(TESVEL_PAPPL_FOUND ON)
add_library(Tesvel::pappl STATIC IMPORTED GLOBAL)
set_target_properties(Tesvel::pappl PROPERTIES
  IMPORTED_LOCATION ${_pappl_work}/src/pappl/libpappl.a
  INTERFACE_INCLUDE_DIRECTORIES ${_pappl_work}/src
  INTERFACE_LINK_LIBRARIES "${_pappl_libs};m")
