// intsum's fold: the integers of a text file folded with any combiner, in
// file order. Everything is in namespace intsum; <sequential_compute.h>, in
// the source tree only, also names it all at global scope.
#pragma once

namespace intsum {

enum class fold_status {
  ok,           // value holds the fold
  open_failed,  // the file could not be opened
  read_failed,  // the file opened, but a read failed before the list ended
  no_memory,    // no read buffer could be allocated
};

struct fold_result {
  fold_status status;
  int value;  // meaningful only when status is ok
};

// A combiner takes the running result first and the integer just read second.
using combiner = int (*)(int a, int b);

// Folds the integers of the file at `filename`, in file order, with `f`:
// the first integer is taken as it is, `f` is applied once for each later one.
// A file holding no integer folds to 0.
fold_result sequential_compute(const char* filename, combiner f);

// a + b, wrapping modulo 2^32. Given as the combiner, it is recognised by its
// address and summed in the kernels' vector lanes, with no call per integer.
int add(int a, int b);

}  // namespace intsum
