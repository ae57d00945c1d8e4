# What `cmake --install` puts in place, and the .debs and .tar.gz that CPack
# makes of it (`cmake --workflow --preset package`): the program (component
# program: intsum_VERSION_ARCH.deb and the .tar.gz) and the fold as a library
# (component dev, library.cmake: libintsum-dev_VERSION_ARCH.deb).

install(TARGETS intsum RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
target_link_options(intsum PRIVATE ${INTSUM_CET_MARKS})  # hardening.cmake
# The compilers' version strings (.comment) are of no use at run time; Debian
# strips them from what it ships.
if(CMAKE_OBJCOPY)
  add_custom_command(TARGET intsum POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:intsum>
    VERBATIM)
endif()

# The man page and the changelog go in gzipped, with no timestamp in the
# header, so the same sources give the same package.
find_program(INTSUM_GZIP gzip REQUIRED)
set(intsum_gzipped)
foreach(source docs/intsum.1 packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/gz/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${source} ${copy}
    COMMAND ${INTSUM_GZIP} -9nf ${copy}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source}
    VERBATIM)
  list(APPEND intsum_gzipped ${copy}.gz)
endforeach()
add_custom_target(intsum_gzipped ALL DEPENDS ${intsum_gzipped})

install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gz/intsum.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT program)
install(FILES packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/gz/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)
# Every Debian package has its own copyright and changelog; a plain
# install has them once, above.
install(FILES packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/gz/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libintsum-dev COMPONENT dev EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME intsum)
set(CPACK_PACKAGE_VENDOR "the intsum authors")
set(CPACK_PACKAGE_CONTACT "the intsum authors <intsum@example.org>")
# A summary line, then lines of at most 80 characters, as Debian asks. Each
# package has its own summary, so CPACK_PACKAGE_DESCRIPTION_SUMMARY is left
# unset: CPack would put it in front of both.
string(JOIN "\n" CPACK_DEBIAN_PROGRAM_DESCRIPTION
  "sum the integers in a text file"
  "intsum FILE reads the decimal integers in a text file, separated by spaces,"
  "commas or newlines, and prints their sum as a signed 32-bit integer, wrapping"
  "modulo 2^32. It reads the file as a stream in constant memory, with vector"
  "kernels (AVX2, AVX-512) picked at run time where the CPU has them.")
string(JOIN "\n" CPACK_DEBIAN_DEV_DESCRIPTION
  "fold the integers in a text file with any combiner (static library)"
  "intsum::sequential_compute(filename, f) reads the decimal integers in a text"
  "file, as the intsum program does, and folds them in file order with any"
  "function f(int, int), with vector kernels picked at run time where the CPU"
  "has them. This package holds the header <intsum/sequential_compute.h>, the"
  "static library libintsum.a, the CMake package intsum (target intsum::fold)"
  "and intsum.pc for pkg-config.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# One .deb a component; the .tar.gz holds the program alone
# (cpack-checks.cmake).
set(CPACK_COMPONENTS_ALL program dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME intsum)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libintsum-dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (dpkg-dev) finds the library packages the binary needs;
# cpack-checks.cmake stops the .deb from being made without it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-checks.cmake)
# Same commit, same packages: file times from SOURCE_DATE_EPOCH, the last
# commit's time unless given (cpack-checks.cmake), and the .tar.gz written
# again in a fixed order, as CPack adds files in the order the file system
# lists them.
set(CPACK_INTSUM_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack-tarball.cmake)

include(CPack)
include(${CMAKE_CURRENT_LIST_DIR}/static.cmake)
