// The kernel contract: a kernel takes the bytes of the stream a chunk at a
// time and carries its state from one chunk to the next (docs/design.md,
// "The kernel contract").
#pragma once

#include <cstddef>
#include <cstdint>

#include "sequential_compute.h"

namespace intsum {

enum class phase : std::uint8_t {
  blank,      // skipping white space before an integer
  separator,  // just after an integer: skipping spaces and commas
  sign,       // a sign has been read, its digits must follow
  digits,     // inside an integer: `value` holds its digits not yet taken
  ended,      // the list has ended; nothing more is read
};

struct scan_state {
  phase at = phase::blank;
  bool negative = false;    // sign of the integer under way (sign, digits)
  std::uint32_t value = 0;  // digits so far, mod 2^32 (0 where a kernel has summed them already)
};

struct chunk_result {
  std::size_t consumed;  // bytes taken from the front of the chunk
  bool ended;            // the list has ended: stop reading
};

// Sum of the integers, mod 2^32 (an empty list sums to 0).
struct sum_carry {
  scan_state state;
  std::uint32_t sum = 0;
};

// The fold with any combiner.
struct fold_carry {
  scan_state state;
  combiner f;
  int result = 0;
  bool any = false;  // an integer has been taken
};

// Every kernel takes the chunk [p, p + n). Without `eof` it may leave a
// short tail unconsumed (the caller hands it back in front of the next
// chunk); with `eof` it consumes everything and finishes the list.
using sum_kernel = chunk_result (*)(sum_carry& c, const unsigned char* p, std::size_t n, bool eof);
// The same, applying the carry's combiner to each integer in file order.
using fold_kernel = chunk_result (*)(fold_carry& c, const unsigned char* p, std::size_t n, bool eof);

// The most a kernel leaves unconsumed when not at the end of input.
inline constexpr std::size_t max_tail = 127;

}  // namespace intsum
