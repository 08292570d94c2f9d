# Code-model flags for the daemon's own targets (every target under daemon/)
# in a footprint build; the platform libraries keep the project's flags.
# Loaded after project() through CMAKE_PROJECT_INCLUDE by run.sh:
#   FOOTPRINT_NO_PIE  position-dependent code and a non-PIE program (on MIPS
#                     with -mplt, as toolchains built --with-mips-plt do)
#   FOOTPRINT_MIPS16  the MIPS16e instruction set
# Applied once the whole tree is configured, after the project's own PIC
# setting, which the flags must follow on the compile line.

function(footprint_targets_under dir out)
  get_property(_t DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(_subs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(_s ${_subs})
    footprint_targets_under(${_s} _more)
    list(APPEND _t ${_more})
  endforeach()
  set(${out} ${_t} PARENT_SCOPE)
endfunction()

function(footprint_daemon_flags)
  footprint_targets_under(${CMAKE_SOURCE_DIR}/daemon _targets)
  foreach(_t ${_targets})
    get_target_property(_type ${_t} TYPE)
    if(NOT _type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|OBJECT_LIBRARY)$")
      continue()
    endif()
    if(FOOTPRINT_NO_PIE)
      target_compile_options(${_t} PRIVATE -fno-pic -fno-pie)
      # Position-dependent MIPS code then jumps straight to a PLT entry the
      # linker makes, instead of loading each callee from the GOT through a
      # $gp every function sets up.
      if(CMAKE_SYSTEM_PROCESSOR MATCHES "^mips")
        target_compile_options(${_t} PRIVATE -mplt)
      endif()
      if(_type STREQUAL EXECUTABLE)
        target_link_options(${_t} PRIVATE -no-pie)
      endif()
    endif()
    if(FOOTPRINT_MIPS16)
      target_compile_options(${_t} PRIVATE -mips16)
    endif()
  endforeach()
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL footprint_daemon_flags)
