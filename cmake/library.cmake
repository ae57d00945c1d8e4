# The fold as a library that other projects install and find (`cmake
# --install`, the libintsum-dev package): the public header under intsum/,
# libintsum.a with every kernel of this build, the CMake package intsum
# (the target intsum::fold, as in this tree) and intsum.pc. The internal
# headers and the knobs for tests and benchmarks stay in the tree.
include(CMakePackageConfigHelpers)

install(TARGETS intsum_core EXPORT intsum
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/intsum/sequential_compute.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/intsum COMPONENT dev)

set(intsum_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/intsum)
install(EXPORT intsum NAMESPACE intsum:: FILE intsumTargets.cmake DESTINATION ${intsum_cmake_dir}
        COMPONENT dev)
# Any 1.x takes the place of 1.0; a build for another word size does not.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/intsumConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES cmake/intsumConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/intsumConfigVersion.cmake
        DESTINATION ${intsum_cmake_dir} COMPONENT dev)

# intsum.pc finds the prefix from its own place (pkg-config's pcfiledir), as
# the CMake package does, so that it holds wherever `cmake --install
# --prefix`, DESTDIR or a package puts the files.
foreach(dir IN ITEMS LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(intsum_pc_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(intsum_pc_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(intsum_pc_prefix "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH intsum_pc_up /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" intsum_pc_up "${intsum_pc_up}")
  set(intsum_pc_prefix "\${pcfiledir}/${intsum_pc_up}")
endif()
configure_file(cmake/intsum.pc.in pkgconfig/intsum.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/intsum.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)
