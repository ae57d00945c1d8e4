// The combiner the benchmarks fold with besides add: a * 31 + b, wrapping,
// which sees every integer, its order and the count. Never inlined, so the
// fold calls it through its pointer, as it would a caller's own.
#pragma once

#include <cstdint>

namespace intsum::bench {

[[gnu::noinline]] inline int mix(int a, int b) {
  return static_cast<int>(static_cast<std::uint32_t>(a) * 31u + static_cast<std::uint32_t>(b));
}

}  // namespace intsum::bench
