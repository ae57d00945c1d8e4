# intsum-VERSION-linux-ARCH-static.tar.gz, for any Linux on the processor:
# the program linked statically (static-pie where the C library has it),
# stripped, with its man page and licence, in the layout of the .tar.gz.
# intsum needs nothing from the name service or dlopen, so glibc's libc.a
# is enough. Written by every build that can make it (INTSUM_STATIC AUTO).
set(INTSUM_STATIC AUTO CACHE STRING "Build the static binary and its tarball: AUTO, ON or OFF")
set_property(CACHE INTSUM_STATIC PROPERTY STRINGS AUTO ON OFF)

set(intsum_static_why "")
if(NOT INTSUM_STATIC)
  return()
elseif(INTSUM_SANITIZE OR INTSUM_FUZZ)
  if(INTSUM_STATIC STREQUAL "ON")
    message(FATAL_ERROR "INTSUM_STATIC=ON, but the sanitizers have no static runtime")
  endif()
  return()
else()
  set(intsum_static_probe [[
#include <cstdio>
int main(int argc, char**) { return std::printf("%d", argc) < 0; }
]])
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
  check_cxx_source_compiles("${intsum_static_probe}" INTSUM_HAS_STATIC_PIE)
  if(NOT INTSUM_HAS_STATIC_PIE)
    set(CMAKE_REQUIRED_LINK_OPTIONS -static)
    check_cxx_source_compiles("${intsum_static_probe}" INTSUM_HAS_STATIC)
  endif()
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(NOT INTSUM_HAS_STATIC_PIE AND NOT INTSUM_HAS_STATIC)
    set(intsum_static_why "no static C library (libc.a) links here")
  endif()
endif()
if(intsum_static_why)
  if(INTSUM_STATIC STREQUAL "AUTO")
    message(WARNING "No static binary and no -static.tar.gz: ${intsum_static_why}")
    return()
  endif()
  message(FATAL_ERROR "INTSUM_STATIC=ON, but ${intsum_static_why}")
endif()

add_executable(intsum_static src/main.cpp)
target_link_libraries(intsum_static PRIVATE intsum_core intsum_warnings)
set_target_properties(intsum_static PROPERTIES OUTPUT_NAME intsum
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/static)
# static-pie needs the library built position-independent (hardening.cmake).
# CMake's -pie would undo it, so the target leaves PIE to the flags here.
if(INTSUM_HAS_STATIC_PIE AND CMAKE_POSITION_INDEPENDENT_CODE)
  set_property(TARGET intsum_static PROPERTY POSITION_INDEPENDENT_CODE)
  target_compile_options(intsum_static PRIVATE ${CMAKE_CXX_COMPILE_OPTIONS_PIE})
  target_link_options(intsum_static PRIVATE -static-pie)
else()
  message(STATUS "No static-pie here: the static binary is not position-independent")
  # -static alone: CMake's -no-pie beside it is one flag too many for Clang.
  set_property(TARGET intsum_static PROPERTY POSITION_INDEPENDENT_CODE)
  target_link_options(intsum_static PRIVATE -static)
endif()

string(TOLOWER "intsum-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}-static" intsum_static_name)
set(stage ${CMAKE_CURRENT_BINARY_DIR}/static/${intsum_static_name})
set(tarball ${CMAKE_CURRENT_BINARY_DIR}/${intsum_static_name}.tar.gz)
add_custom_command(OUTPUT ${tarball}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/bin ${stage}/share/man/man1 ${stage}/share/doc/intsum
  COMMAND ${CMAKE_STRIP} --remove-section=.comment -o ${stage}/bin/intsum $<TARGET_FILE:intsum_static>
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_BINARY_DIR}/gz/intsum.1.gz ${stage}/share/man/man1/
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/copyright
          ${CMAKE_CURRENT_BINARY_DIR}/gz/changelog.gz ${stage}/share/doc/intsum/
  COMMAND ${CMAKE_COMMAND} -DINTSUM_DIR=${stage} -DINTSUM_OUTPUT=${tarball}
          -DINTSUM_SOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/static-tarball.cmake
  DEPENDS intsum_static ${intsum_gzipped} ${PROJECT_SOURCE_DIR}/packaging/copyright
          ${CMAKE_CURRENT_LIST_DIR}/static-tarball.cmake ${CMAKE_CURRENT_LIST_DIR}/tarball.cmake
  COMMENT "Writing ${intsum_static_name}.tar.gz"
  VERBATIM)
add_custom_target(intsum_static_tarball ALL DEPENDS ${tarball})
add_dependencies(intsum_static_tarball intsum_gzipped)

# The static binary sums the example (under the emulator in a cross build):
# a static-pie that cannot relocate itself fails here, not in a user's hands.
if(intsum_tests)
  add_test(NAME static_binary COMMAND intsum_static ${PROJECT_SOURCE_DIR}/examples/numbers.txt)
  set_tests_properties(static_binary PROPERTIES PASS_REGULAR_EXPRESSION "^Result: 4950\n$")
endif()
