// A block's bytes sorted into masks of their classes (core/byte_class.h;
// docs/design.md, "Byte classes").
#pragma once

#include <cstdint>

#include "block/block.h"
#include "core/byte_class.h"

namespace intsum {
namespace block {
namespace {

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
