# The language every generation's compiler knows (gcc 4.6 at the oldest) and
# nothing of the C++ runtime: no standard library headers, exceptions, RTTI
# or guarded statics, and the C driver links, so libstdc++ is never needed.
# Per source file, as CMake 2.8.9 allows.
set(VELOXD_C_FLAGS "-std=gnu99")
set(VELOXD_CXX_FLAGS "-std=gnu++0x -nostdinc++ -fno-exceptions -fno-rtti -fno-threadsafe-statics")

# Warnings that catch real faults here, in forms gcc 4.6 and every clang
# know: format strings, shadowed names, functions without a declaration.
# The handlers' signatures are the bus library's, so unused parameters are
# not worth a warning. VELOXD_WERROR turns them into errors, as the suite
# builds the daemon against every generation's headers.
option(VELOXD_WERROR "Treat the daemon's warnings as errors" OFF)
set(_warn_flags "-Wall -Wextra -Wno-unused-parameter -Wformat=2 -Wshadow -Wmissing-declarations")
if(VELOXD_WERROR)
  set(_warn_flags "${_warn_flags} -Werror")
endif()
set(VELOXD_C_FLAGS "${VELOXD_C_FLAGS} ${_warn_flags} -Wmissing-prototypes -Wstrict-prototypes")
set(VELOXD_CXX_FLAGS "${VELOXD_CXX_FLAGS} ${_warn_flags}")

# Small on the router's flash: a section per function and object for the
# linker to drop what is not called, no symbols exported from a program, and
# no unwind tables where nothing throws or unwinds. Sanitizer reports unwind
# through the tables, so those builds keep them.
set(_size_flags "-ffunction-sections -fdata-sections -fvisibility=hidden")
if(NOT VELOXD_SANITIZE)
  set(_size_flags "${_size_flags} -fno-asynchronous-unwind-tables -fno-unwind-tables")
endif()
set(VELOXD_C_FLAGS "${VELOXD_C_FLAGS} ${_size_flags}")
set(VELOXD_CXX_FLAGS "${VELOXD_CXX_FLAGS} ${_size_flags}")
# Linking: drop unused sections, and libraries the program does not call.
set(VELOXD_LINK_FLAGS "-Wl,--gc-sections -Wl,--as-needed")

function(veloxd_language_flags)
  foreach(_src ${ARGN})
    if(_src MATCHES "\\.c$")
      set_source_files_properties(${_src} PROPERTIES COMPILE_FLAGS "${VELOXD_C_FLAGS}")
    else()
      set_source_files_properties(${_src} PROPERTIES COMPILE_FLAGS "${VELOXD_CXX_FLAGS}")
    endif()
  endforeach()
endfunction()

# A program of the daemon's own: its sources in the daemon's dialect, linked
# without the C++ runtime.
function(veloxd_runtime_free target)
  get_target_property(_sources ${target} SOURCES)
  veloxd_language_flags(${_sources})
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C LINK_FLAGS "${VELOXD_LINK_FLAGS}")
endfunction()

# Sanitized host builds: clang's UBSan checks calls through function
# pointers with C++ type information, which the daemon does not link.
if(VELOXD_SANITIZE MATCHES "undefined" AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(VELOXD_CXX_FLAGS "${VELOXD_CXX_FLAGS} -fno-sanitize=function")
endif()
