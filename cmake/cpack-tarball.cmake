# Run by cpack after each generator (CPACK_POST_BUILD_SCRIPTS): the .tar.gz
# written again from the files CPack staged, in a fixed order.
include(${CMAKE_CURRENT_LIST_DIR}/tarball.cmake)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.tar\\.gz$")
    intsum_write_tarball(${CPACK_TEMPORARY_DIRECTORY} ${package})
  endif()
endforeach()
