# Shared settings: warnings, sanitizers, json-c, and directory discovery.

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(VELOXD_SANITIZE)
  string(REPLACE "," ";" _san_list "${VELOXD_SANITIZE}")
  set(_san_flags "-fsanitize=${VELOXD_SANITIZE}" -fno-omit-frame-pointer -g)
  if("undefined" IN_LIST _san_list)
    list(APPEND _san_flags -fno-sanitize-recover=all)
  endif()
  add_compile_options(${_san_flags})
  add_link_options(-fsanitize=${VELOXD_SANITIZE})
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(JSONC REQUIRED IMPORTED_TARGET json-c)
find_package(Threads REQUIRED)

# Add every immediate subdirectory of DIR that carries a CMakeLists.txt, so that
# components can land independently without editing their parents.
function(veloxd_add_subdirs dir)
  if(NOT IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${dir})
    return()
  endif()
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
    return()
  endif()
  file(GLOB _children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/${dir} ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*)
  list(SORT _children)
  foreach(_c ${_children})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${_c}/CMakeLists.txt)
      add_subdirectory(${dir}/${_c})
    endif()
  endforeach()
endfunction()

# Tests: GoogleTest from the Debian package.
if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
