# Read by cpack for each generator. Without dpkg-shlibdeps, or the `file`
# command that CPack uses to find binaries, the .deb would declare no library
# dependencies at all; better no package than a wrong one.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(INTSUM_DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(INTSUM_FILE file)
  if(NOT INTSUM_DPKG_SHLIBDEPS OR NOT INTSUM_FILE)
    message(FATAL_ERROR "The .deb needs dpkg-shlibdeps and file to declare its dependencies: "
                        "apt-get install dpkg-dev file (tools/test.sh does so where it can)")
  endif()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/source-date-epoch.cmake)
intsum_source_date_epoch(${CPACK_INTSUM_SOURCE_DIR})
