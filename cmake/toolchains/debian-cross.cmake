# Cross build for Linux on CMAKE_SYSTEM_PROCESSOR (set by the including
# toolchain file) with Debian's g++-<processor>-linux-gnu; programs built
# here run under qemu-user (package qemu-user), tests included.
set(CMAKE_SYSTEM_NAME Linux)
set(intsum_triple ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)

set(CMAKE_C_COMPILER ${intsum_triple}-gcc)
set(CMAKE_CXX_COMPILER ${intsum_triple}-g++)

# Libraries, headers and packages come from the target's root only, so the
# host's (an x86-64 GTest, say) are never picked up; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${intsum_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(INTSUM_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${INTSUM_QEMU} -L /usr/${intsum_triple})
