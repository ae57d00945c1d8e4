// What each byte is to the format, and a block's bytes sorted into masks of
// those classes (docs/design.md, "Byte classes").
#pragma once

#include <cstdint>

#include "block/block.h"

namespace intsum {
namespace block {
namespace {

// The one description from which the kernels build their class tables.
// White space is the space and other_white.
enum class byte_class : unsigned char { other, digit, minus, plus, space, comma, other_white };

constexpr byte_class class_of(unsigned char c) {
  if (c >= '0' && c <= '9') return byte_class::digit;
  if (c >= '\t' && c <= '\r') return byte_class::other_white;
  switch (c) {
    case '-':
      return byte_class::minus;
    case '+':
      return byte_class::plus;
    case ' ':
      return byte_class::space;
    case ',':
      return byte_class::comma;
    default:
      return byte_class::other;
  }
}

// A block's classes as masks of type M (block.h).
template <class M>
struct basic_classes {
  M digit;
  M minus;
  M sign;       // minus or plus
  M separator;  // space or comma: may follow an integer
  M comma;
  M other;  // none of those, nor white space: ends the list

  INTSUM_ALWAYS_INLINE static basic_classes of(M digit, M minus, M plus, M space, M comma, M other_white) {
    const M sign = minus | plus, separator = space | comma;
    return {digit, minus, sign, separator, comma, none_of(digit | other_white, sign, separator)};
  }

  // From four masks, where `variant` is minus, comma or other white space:
  // with sign and separator it tells minus from plus and comma from space,
  // and only "none of the classes" counts of the white space, so minus and
  // comma may be among it.
  INTSUM_ALWAYS_INLINE static basic_classes of_variant(M digit, M separator, M sign, M variant) {
    return of(digit, sign & variant, sign, separator, separator & variant, variant);
  }
};

using classes = basic_classes<std::uint64_t>;

}  // namespace
}  // namespace block
}  // namespace intsum
