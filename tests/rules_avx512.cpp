// The eight-lane rules of the AVX-512 kernel against the block-by-block
// rules they stand for. Built with the AVX-512 kernel's flags; called only
// where that kernel can run.
#include <cstdint>
#include <random>
#include <string>

#include "x86/avx512/lanes.h"

namespace intsum::testing {

namespace {

using namespace intsum::block;

// A class for every byte of 8 blocks and the block after them, in runs, so
// that runs cross block ends often.
void random_classes(std::mt19937_64& rng, std::uint64_t (&mask)[7][group_blocks + 1]) {
  for (auto& per_class : mask)
    for (auto& m : per_class) m = 0;
  unsigned at = 0, run = 0;
  for (unsigned bit = 0; bit < 64 * (group_blocks + 1); ++bit) {
    if (run == 0) {
      // Mostly digits and separators, as in a list; the rest now and then.
      static constexpr unsigned weights[7] = {1, 12, 2, 1,
                                              5, 3,  3};  // other, digit, minus, plus, space, comma, white
      unsigned pick = static_cast<unsigned>(rng() % 27);
      for (at = 0; pick >= weights[at]; ++at) pick -= weights[at];
      run = 1 + static_cast<unsigned>(rng() % (at == 1 ? 40 : 4));
    }
    --run;
    mask[at][bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
}

}  // namespace

// Empty when every case agrees; else what differed first.
std::string check_lanes_against_blocks(unsigned seed, int cases) {
  std::mt19937_64 rng(seed);
  for (int i = 0; i < cases; ++i) {
    std::uint64_t mask[7][group_blocks + 1];
    random_classes(rng, mask);
    const unsigned count = i % 4 == 0 ? 1 + static_cast<unsigned>(rng() % group_blocks) : group_blocks;
    const carry_bits in{rng() % 2, rng() % 2};

    alignas(64) std::uint64_t lane[6][group_blocks] = {};
    classes block[group_blocks + 1];
    for (unsigned j = 0; j <= group_blocks; ++j) {
      block[j] = classes::of(mask[1][j], mask[2][j], mask[3][j], mask[4][j], mask[5][j], mask[6][j]);
      if (j >= count) continue;
      const std::uint64_t* from[6] = {&block[j].digit,     &block[j].minus, &block[j].sign,
                                      &block[j].separator, &block[j].comma, &block[j].other};
      for (int c = 0; c < 6; ++c) lane[c][j] = *from[c];
    }
    alignas(64) std::uint64_t next_digit[group_blocks] = {};
    for (unsigned j = 0; j < count; ++j) next_digit[j] = block[j + 1].digit;
    auto load = [](const std::uint64_t* p) { return lanes(_mm512_load_si512(p)); };
    const group_classes c{load(lane[0]), load(lane[1]), load(lane[2]),
                          load(lane[3]), load(lane[4]), load(lane[5])};

    group_masks m;
    carry_bits lanes_carry = in;
    const bool lanes_ended = plan_lanes(c, load(next_digit), count, lanes_carry, m);

    carry_bits s = in;
    bool ended = false;
    for (unsigned j = 0; j < count; ++j) {
      const std::string where = "case " + std::to_string(i) + ", block " + std::to_string(j) + ": ";
      if (ended) {
        if (m.live[j] != 0) return where + "live digits after the end of the list";
        continue;
      }
      const plan_and_stop ps = plan_block(block[j], next_digit[j], s);
      if (m.live[j] != ps.p.live) return where + "live digits differ";
      if (m.negative[j] != ps.p.negative) return where + "negative digits differ";
      ended = ps.stop != 0;
    }
    const std::string where = "case " + std::to_string(i) + ": ";
    if (lanes_ended != ended) return where + "the lanes and the blocks disagree on the end of the list";
    if (!ended && (lanes_carry.after_integer != s.after_integer || lanes_carry.negative != s.negative))
      return where + "carries out of the group differ";
  }
  return {};
}

}  // namespace intsum::testing
