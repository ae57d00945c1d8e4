// A block's classes by compares (docs/design.md, "RVV"): every class of
// class_of but `other` is one range of bytes, so each mask is one compare,
// after a subtraction for a range of more than one byte. The ranges come
// from class_of itself.
#pragma once

#include "block/classes.h"
#include "block/rules.h"
#include "riscv/vectors.h"

namespace intsum {
namespace block {
namespace {

struct byte_range {
  unsigned char low, high;
};

constexpr byte_range range_of(byte_class k) {
  int low = -1, high = -1;
  for (int c = 0; c < 256; ++c) {
    if (class_of(static_cast<unsigned char>(c)) != k) continue;
    if (low < 0) low = c;
    high = c;
  }
  return {static_cast<unsigned char>(low), static_cast<unsigned char>(high)};
}

// Whether the bytes of class k are exactly those of its range.
constexpr bool is_one_range(byte_class k) {
  const byte_range r = range_of(k);
  for (int c = 0; c < 256; ++c)
    if ((class_of(static_cast<unsigned char>(c)) == k) != (c >= r.low && c <= r.high)) return false;
  return true;
}

static_assert(is_one_range(byte_class::digit) && is_one_range(byte_class::minus) &&
                  is_one_range(byte_class::plus) && is_one_range(byte_class::space) &&
                  is_one_range(byte_class::comma) && is_one_range(byte_class::other_white),
              "each class but other is one range of bytes");

template <int R, byte_class K>
INTSUM_ALWAYS_INLINE typename block_vectors<R>::mask in_class(typename block_vectors<R>::u8 v) {
  constexpr byte_range r = range_of(K);
  if constexpr (r.low == r.high)
    return __riscv_vmseq(v, r.low, lanes);
  else
    return __riscv_vmsleu(__riscv_vsub(v, r.low, lanes), static_cast<unsigned char>(r.high - r.low), lanes);
}

template <int R>
INTSUM_ALWAYS_INLINE classes classify_block(const unsigned char* p) {
  using V = block_vectors<R>;
  const typename V::u8 v = V::load(p);
  // All compares, then all moves to scalars, rather than a change of
  // element width between each.
  const typename V::mask digit = in_class<R, byte_class::digit>(v), minus = in_class<R, byte_class::minus>(v),
                         plus = in_class<R, byte_class::plus>(v), space = in_class<R, byte_class::space>(v),
                         comma = in_class<R, byte_class::comma>(v),
                         other_white = in_class<R, byte_class::other_white>(v);
  std::uint64_t bits[6] = {V::bits_of(digit), V::bits_of(minus), V::bits_of(plus),
                           V::bits_of(space), V::bits_of(comma), V::bits_of(other_white)};
  // Here, not where the next block wants them: else the compiler moves the
  // compares after the weighing of the block before, and the bytes hold
  // four registers all the while.
  for (std::uint64_t& b : bits) __asm__ volatile("" : "+r"(b));
  return classes::of(bits[0], bits[1], bits[2], bits[3], bits[4], bits[5]);
}

// run_blocks (chunk.h) as a pipeline: while a block is taken, the rules
// run for the next, its masks come over to scalars from the one after, and
// the bytes of the third after that are compared. On an in-order core such
// as the X280 a move from a vector register waits for the compare, and
// every instruction after it waits too, and the rules of a block cannot
// start before the block before was taken: this way neither waits.
// Reads as far as run_blocks: the lookahead block at most.
template <int R, class Pass>
INTSUM_ALWAYS_INLINE bool run_compared_blocks(const unsigned char* p, std::size_t count, carry_bits& carry,
                                              typename Pass::work& work,
                                              const typename Pass::kernel::constants& k) {
  using V = block_vectors<R>;
  if (count == 0) return false;
  typename V::mask digit, minus, plus, space, comma, other_white;
  auto compare = [&](const unsigned char* q) {
    const typename V::u8 v = V::load(q);
    digit = in_class<R, byte_class::digit>(v);
    minus = in_class<R, byte_class::minus>(v);
    plus = in_class<R, byte_class::plus>(v);
    space = in_class<R, byte_class::space>(v);
    comma = in_class<R, byte_class::comma>(v);
    other_white = in_class<R, byte_class::other_white>(v);
  };
  auto compared = [&] {
    return classes::of(V::bits_of(digit), V::bits_of(minus), V::bits_of(plus), V::bits_of(space),
                       V::bits_of(comma), V::bits_of(other_white));
  };
  const unsigned char* const lookahead = p + count * block_bytes;
  // Block b + 2, or the lookahead block in its place past the end.
  auto ahead = [&](std::size_t b) { return b + 2 <= count ? p + (b + 2) * block_bytes : lookahead; };
  compare(p + block_bytes);
  classes next = compared();
  compare(ahead(0));
  plan_and_stop planned = plan_block(classify_block<R>(p), next.digit, carry);
  for (std::size_t b = 0;; ++b) {
    // Block b is planned, `carry` after it; the classes of b + 1 are known
    // and b + 2 is compared. Past the lookahead block, the plan and classes
    // made here are never taken.
    const classes after = compared();
    compare(ahead(b + 1));
    carry_bits following = carry;
    const plan_and_stop upcoming = plan_block(next, after.digit, following);
    Pass::take(p + b * block_bytes, planned.p, work, k);
    if (planned.stop != 0) return true;
    if (b + 1 == count) return false;
    carry = following;
    planned = upcoming;
    next = after;
  }
}

}  // namespace
}  // namespace block
}  // namespace intsum
