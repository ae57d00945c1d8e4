# find_package(intsum CONFIG): the imported target intsum::fold, the fold
# as a static library (libintsum.a) with its header <intsum/sequential_compute.h>.
# It needs nothing but the C and C++ libraries.
include(${CMAKE_CURRENT_LIST_DIR}/intsumTargets.cmake)
