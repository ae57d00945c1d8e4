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
  # Each package's description has its own summary line (package.cmake);
  # CPack would put the project's in front of both.
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  # The .tar.gz holds the program's files, as intsum_VERSION_ARCH.deb does.
  string(REPLACE ";ALL;" ";program;" CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_INSTALL_CMAKE_PROJECTS}")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/source-date-epoch.cmake)
intsum_source_date_epoch(${CPACK_INTSUM_SOURCE_DIR})
