# Cross build for riscv64 Linux (debian-cross.cmake).
set(CMAKE_SYSTEM_PROCESSOR riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
