# Cross build for Linux on CMAKE_SYSTEM_PROCESSOR (set by the including
# toolchain file) with Debian's g++-<processor>-linux-gnu, or with Clang of
# version intsum_cross_clang for that target, on the same libraries;
# programs built here run under qemu-user (package qemu-user), tests
# included, on the CPU INTSUM_QEMU_CPU if the including file names one.
set(CMAKE_SYSTEM_NAME Linux)
set(intsum_triple ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)

if(intsum_cross_clang)
  set(CMAKE_C_COMPILER clang-${intsum_cross_clang})
  set(CMAKE_CXX_COMPILER clang++-${intsum_cross_clang})
  set(CMAKE_C_COMPILER_TARGET ${intsum_triple})
  set(CMAKE_CXX_COMPILER_TARGET ${intsum_triple})
  # Clang links with the cross GCC's binutils; their strip too, as
  # llvm-strip rejects the static binary that GNU ld makes.
  set(CMAKE_STRIP ${intsum_triple}-strip)
else()
  set(CMAKE_C_COMPILER ${intsum_triple}-gcc)
  set(CMAKE_CXX_COMPILER ${intsum_triple}-g++)
endif()

# Libraries, headers and packages come from the target's root only, so the
# host's (an x86-64 GTest, say) are never picked up; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${intsum_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(INTSUM_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${INTSUM_QEMU})
if(INTSUM_QEMU_CPU)
  list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -cpu ${INTSUM_QEMU_CPU})
endif()
list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -L /usr/${intsum_triple})
