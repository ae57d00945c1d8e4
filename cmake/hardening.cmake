# Compiler and linker flags for every target defined after this file is
# included: build paths kept out of the objects, and the protections Debian's
# dpkg-buildflags applies (INTSUM_HARDEN). The sanitizer and fuzzer builds
# bring their own instrumentation and keep only the path mapping.
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)

# The same sources give the same objects wherever the tree and the build
# directory are. Last given wins in GCC, so the build directory, which may lie
# inside the sources, comes second.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                    -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)

option(INTSUM_HARDEN "Build with the protections Debian applies (stack protector, fortify, PIE, relro, now)" ON)
if(NOT INTSUM_HARDEN OR INTSUM_SANITIZE OR INTSUM_FUZZ)
  return()
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()

# Each flag only where the compiler takes it: -fcf-protection is x86 only,
# -mbranch-protection aarch64 only.
set(intsum_harden_flags -fstack-protector-strong -fstack-clash-protection)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  list(APPEND intsum_harden_flags -fcf-protection)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  list(APPEND intsum_harden_flags -mbranch-protection=standard)
endif()
# Clang only warns of a flag it ignores on the target (-fstack-clash-protection
# on riscv64), so its checks fail on that warning.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(CMAKE_REQUIRED_FLAGS "-Werror=unused-command-line-argument")
endif()
foreach(flag IN LISTS intsum_harden_flags)
  string(MAKE_C_IDENTIFIER "INTSUM_HAS${flag}" var)
  check_cxx_compiler_flag(${flag} ${var})
  if(${var})
    add_compile_options(${flag})
  endif()
endforeach()
unset(CMAKE_REQUIRED_FLAGS)

# Level 3 where the C library gives it (glibc 2.34 and GCC 12 or Clang 9),
# else 2; asking glibc itself avoids its warning for a level it would lower.
# Fortify needs optimization, so Debug builds go without.
set(CMAKE_REQUIRED_FLAGS "-O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3")
check_cxx_source_compiles([[
#include <cstdio>
#if __USE_FORTIFY_LEVEL != 3
#error no fortify level 3
#endif
int main() {}
]] INTSUM_HAS_FORTIFY_3)
unset(CMAKE_REQUIRED_FLAGS)
if(INTSUM_HAS_FORTIFY_3)
  set(intsum_fortify 3)
else()
  set(intsum_fortify 2)
endif()
add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${intsum_fortify}>")

check_linker_flag(CXX "LINKER:-z,relro,-z,now" INTSUM_HAS_RELRO_NOW)
if(INTSUM_HAS_RELRO_NOW)
  add_link_options("LINKER:-z,relro,-z,now")
endif()

# Every object of ours has the IBT and SHSTK marks from -fcf-protection, but
# Debian 12's glibc start files (crt1.o, crti.o) have none, so ld would drop
# them from the program: INTSUM_CET_MARKS keeps them, for the dynamic program
# only (package.cmake). That start-up code has no ENDBR64 in _init and _fini;
# no glibc of Debian 12 turns CET on, so the marks change nothing there. The
# static binary goes without: all of libc.a, not built for CET, would be in it.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$" AND INTSUM_HAS_fcf_protection)
  check_linker_flag(CXX "LINKER:-z,ibt,-z,shstk" INTSUM_HAS_CET_MARKS)
  if(INTSUM_HAS_CET_MARKS)
    set(INTSUM_CET_MARKS "LINKER:-z,ibt,-z,shstk")
  endif()
endif()
