// The fold's names at global scope, as the program and the callers built
// from this tree have always used them. Not installed: an installed caller
// includes <intsum/sequential_compute.h> and writes intsum::.
#pragma once

#include "intsum/sequential_compute.h"

using intsum::add;
using intsum::combiner;
using intsum::fold_result;
using intsum::fold_status;
using intsum::sequential_compute;
