# cmake -DINTSUM_DIR=... -DINTSUM_OUTPUT=... -DINTSUM_SOURCE_DIR=... -P static-tarball.cmake
# Run by the build (static.cmake): the staged static package as a tarball.
include(${CMAKE_CURRENT_LIST_DIR}/source-date-epoch.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/tarball.cmake)
intsum_source_date_epoch(${INTSUM_SOURCE_DIR})
intsum_write_tarball(${INTSUM_DIR} ${INTSUM_OUTPUT})
