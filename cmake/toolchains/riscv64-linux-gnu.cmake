# Cross build for riscv64 Linux with Debian's g++-riscv64-linux-gnu; programs
# built here run under qemu-user (package qemu-user), tests included.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR riscv64)

set(CMAKE_C_COMPILER riscv64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER riscv64-linux-gnu-g++)

# Libraries, headers and packages come from the target's root only, so the
# host's (an x86-64 GTest, say) are never picked up; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/riscv64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(INTSUM_QEMU qemu-riscv64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${INTSUM_QEMU} -L /usr/riscv64-linux-gnu)
