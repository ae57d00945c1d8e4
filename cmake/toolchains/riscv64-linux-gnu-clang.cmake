# Cross build for riscv64 Linux with Clang 19 (debian-cross.cmake), for the
# vector kernel: Debian 12's g++-riscv64-linux-gnu (GCC 12) has no RVV
# intrinsics. Clang takes the C library, libstdc++ and binutils of that
# cross GCC, so both builds need the same packages, and clang-19 besides.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(intsum_cross_clang 19)
# The emulator's CPU has the vector extension, with the shortest vectors
# RVA23 allows; the tests also run on others (tests/CMakeLists.txt).
set(INTSUM_QEMU_CPU rv64,v=true,vlen=128,vext_spec=v1.0)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
