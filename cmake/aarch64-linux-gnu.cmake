# Cross-compiling for 64-bit ARM with Debian's cross compiler (g++-aarch64-linux-gnu), which
# brings the aarch64 C library in /usr/aarch64-linux-gnu. The programs run here through
# qemu-user-static, with QEMU_LD_PREFIX=/usr/aarch64-linux-gnu (the aarch64 preset, .ci/run).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
# Build tools (bats, gzip) are this machine's; libraries and headers the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
