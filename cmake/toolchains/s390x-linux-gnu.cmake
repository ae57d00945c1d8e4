# Cross build for s390x Linux, a big-endian processor (debian-cross.cmake).
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
