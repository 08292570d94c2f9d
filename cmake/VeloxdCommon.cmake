# Shared settings of the host build: warnings, sanitizers, json-c, GoogleTest.

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

# Tests: GoogleTest from the Debian package.
if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
