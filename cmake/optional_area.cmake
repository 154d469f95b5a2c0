# pyranex_optional_area(<option> <help> [PACKAGE <find_package arguments>...]
#                       [PKG_CONFIG <module>...] [NEEDS <option>...])
#
# Declares the option of an optional area. A native build has every area by default and stops
# with a clear error when the dependency of an area that is on is missing. A cross build (the
# Windows build from Debian) turns an area on by default only when its package or pkg-config
# modules are found for the target system and the options it NEEDS are on, so the toolchain
# file alone gives a build that works. An option given on the command line always wins.
function(pyranex_optional_area name help)
  cmake_parse_arguments(A "" "" "PACKAGE;PKG_CONFIG;NEEDS" ${ARGN})
  set(default ON)
  if(CMAKE_CROSSCOMPILING AND NOT DEFINED ${name})
    foreach(need IN LISTS A_NEEDS)
      if(NOT ${need})
        set(default OFF)
      endif()
    endforeach()
    if(default AND A_PACKAGE)
      list(GET A_PACKAGE 0 package)
      find_package(${A_PACKAGE} QUIET)
      if(NOT ${package}_FOUND)
        set(default OFF)
      endif()
    endif()
    if(default AND A_PKG_CONFIG)
      find_package(PkgConfig QUIET)
      if(PKG_CONFIG_FOUND)
        pkg_check_modules(PYRANEX_PROBE_${name} QUIET ${A_PKG_CONFIG})
      endif()
      if(NOT PYRANEX_PROBE_${name}_FOUND)
        set(default OFF)
      endif()
    endif()
    message(STATUS "${name}: ${default} (what this cross build finds for its target)")
  endif()
  option(${name} "${help}" ${default})
endfunction()
