# The router's CPU: 32-bit big-endian MIPS32r2, o32 ABI, with Debian's
# mips-linux-gnu cross compilers and their sysroot.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mips-linux-gnu.cmake \
#         [-DVELOXD_MIPS_STAGE=DIR] ...
#
# VELOXD_MIPS_STAGE: prefix holding target libraries the project does not
# build (json-c, GoogleTest; see tests/cross/mips_stage.sh). Programs built
# here run on the host under qemu-mips when it is installed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(VELOXD_MIPS_SYSROOT /usr/mips-linux-gnu)
set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)
set(CMAKE_C_FLAGS_INIT "-EB -march=mips32r2")
set(CMAKE_CXX_FLAGS_INIT "-EB -march=mips32r2")

# try_compile projects read this file again without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELOXD_MIPS_STAGE)
set(CMAKE_FIND_ROOT_PATH ${VELOXD_MIPS_SYSROOT})
if(VELOXD_MIPS_STAGE)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VELOXD_MIPS_STAGE})
  list(APPEND CMAKE_PREFIX_PATH ${VELOXD_MIPS_STAGE})
  # Only the target's .pc files, never the host's.
  set(ENV{PKG_CONFIG_LIBDIR} ${VELOXD_MIPS_STAGE}/lib/pkgconfig)
else()
  set(ENV{PKG_CONFIG_LIBDIR} ${VELOXD_MIPS_SYSROOT}/lib/pkgconfig)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# try_run, test discovery and add_test run target programs through this;
# a command line may name another runner.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(VELOXD_QEMU_MIPS qemu-mips)
  if(VELOXD_QEMU_MIPS)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELOXD_QEMU_MIPS} -L ${VELOXD_MIPS_SYSROOT})
  endif()
endif()
