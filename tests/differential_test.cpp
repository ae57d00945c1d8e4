// Random inputs checked against a model of the format written the way the
// format is described: read an integer ("%d"), skip spaces and commas, push
// back the first other character, repeat.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support.h"

namespace intsum::testing {

std::string check_lanes_against_blocks(unsigned seed, int cases);  // rules_avx512.cpp, where built

namespace {

struct model_stream {
  std::string_view s;
  std::size_t pos = 0;
  int get() { return pos < s.size() ? static_cast<unsigned char>(s[pos++]) : EOF; }
  void unget() { --pos; }
};

bool model_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// 10^k mod 2^32 for each digit's place, instead of Horner's rule.
std::uint32_t model_value(const std::string& digits, bool negative) {
  std::uint32_t v = 0, place = 1;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    v += static_cast<std::uint32_t>(*it - '0') * place;
    place *= 10;
  }
  return negative ? 0u - v : v;
}

std::optional<std::uint32_t> model_read_int(model_stream& in) {
  int c;
  do c = in.get();
  while (model_space(c));
  bool negative = false;
  if (c == '-' || c == '+') {
    negative = c == '-';
    c = in.get();
  }
  std::string digits;
  while (c >= '0' && c <= '9') {
    digits += static_cast<char>(c);
    c = in.get();
  }
  if (c != EOF) in.unget();
  if (digits.empty()) return std::nullopt;
  return model_value(digits, negative);
}

std::vector<std::uint32_t> model_integers(std::string_view s) {
  model_stream in{s};
  std::vector<std::uint32_t> out;
  while (auto v = model_read_int(in)) {
    out.push_back(*v);
    int c;
    do c = in.get();
    while (c == ' ' || c == ',');
    if (c != EOF) in.unget();
  }
  return out;
}

int model_fold(const std::vector<std::uint32_t>& xs, combiner f) {
  if (xs.empty()) return 0;
  int r = static_cast<int>(xs[0]);
  for (std::size_t i = 1; i < xs.size(); ++i) r = f(r, static_cast<int>(xs[i]));
  return r;
}

// Mostly well-formed lists, with every separator form, long digit runs, and
// now and then a byte that may end the list.
std::string random_input(std::mt19937_64& rng, std::size_t tokens, int junk_per_mille, int max_digits) {
  static const char* separators[] = {" ",  ",",      ", ", " ,", ",,, ",   "\n", "\r\n",
                                     "\t", " ,\n\t", "\v", "\f", "  \n  ", "",   ",\n"};
  static const char junk[] = {'x', '.', ';', '\0', '\x80', '\xff', ',', '-', '+', '\t', '\n', ' ', 'e', '0'};
  auto roll = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::string s;
  for (std::size_t t = 0; t < tokens; ++t) {
    if (roll(1000) < junk_per_mille) s += junk[roll(sizeof junk)];
    int sign = roll(6);
    if (sign == 0) s += '-';
    if (sign == 1) s += '+';
    int len = roll(20) == 0 ? 1 + roll(max_digits) : 1 + roll(std::min(max_digits, 10));
    for (int i = 0; i < len; ++i) s += static_cast<char>('0' + roll(10));
    s += separators[roll(sizeof separators / sizeof *separators)];
  }
  return s;
}

TEST(Model, AgreesWithScanf) {
  // The model against the C library itself, on integers short enough for "%d".
  std::mt19937_64 rng(7);
  for (int iter = 0; iter < 2000; ++iter) {
    std::string in = random_input(rng, 1 + rng() % 30, 40, 4);
    std::size_t run = 0, longest = 0;
    for (char c : in) longest = std::max(longest, run = (c >= '0' && c <= '9') ? run + 1 : 0);
    if (longest > 9) continue;

    std::vector<std::uint32_t> expect;
    FILE* f = fmemopen(in.data(), in.size(), "r");
    ASSERT_NE(f, nullptr);
    int x;
    while (std::fscanf(f, "%d", &x) == 1) {
      expect.push_back(static_cast<std::uint32_t>(x));
      int c;
      while ((c = std::fgetc(f)) == ' ' || c == ',') {
      }
      if (c != EOF) std::ungetc(c, f);
    }
    std::fclose(f);
    ASSERT_EQ(model_integers(in), expect) << '"' << in << '"';
  }
}

#if defined(INTSUM_TEST_AVX512_RULES)
// The rules are written once, but carrying through a group is not: the
// lanes guess both carries and pick afterwards.
TEST(Rules, EightLanesAgreeWithBlockByBlock) {
  const kernel* k = find_kernel("avx512");
  if (k == nullptr || !k->supported()) GTEST_SKIP() << "this CPU cannot run the AVX-512 kernel";
  EXPECT_EQ(check_lanes_against_blocks(3, 20000), "");
}
#endif

class Differential : public ::testing::TestWithParam<const kernel*> {};

// The sum and a combiner that sees order and count, in turn.
combiner nth_combiner(int i) { return i % 2 == 0 ? add : mix; }

TEST_P(Differential, ShortInputsWithRandomReads) {
  std::mt19937_64 rng(42);
  for (int iter = 0; iter < 10000; ++iter) {
    std::string in = random_input(rng, 1 + rng() % 60, iter % 8 < 2 ? 0 : 20, 40);
    const combiner f = nth_combiner(iter);
    fold_result r = fold_random_reads(in, f, GetParam(), rng, 1 + rng() % 200);
    ASSERT_EQ(r.status, fold_status::ok);
    ASSERT_EQ(r.value, model_fold(model_integers(in), f)) << '"' << in << '"';
  }
}

TEST_P(Differential, LongInputsWithRandomReads) {
  std::mt19937_64 rng(99);
  for (int iter = 0; iter < 8; ++iter) {
    // The occasional junk byte would end a long list early; place one at random instead.
    std::string in = random_input(rng, 300000, 0, 80);
    if (iter % 4 >= 2) in[rng() % in.size()] = "x,.\0-"[rng() % 5];
    const combiner f = nth_combiner(iter);
    const int want = model_fold(model_integers(in), f);
    for (std::size_t max_read : {100ul, 70000ul, 300000ul}) {
      fold_result r = fold_random_reads(in, f, GetParam(), rng, max_read);
      ASSERT_EQ(r.status, fold_status::ok);
      ASSERT_EQ(r.value, want) << "iteration " << iter << ", reads up to " << max_read;
    }
  }
}

TEST_P(Differential, RareSignsAndLongerIntegersAmongShortOnes) {
  // Kernels may weigh or convert stretches without negative or longer
  // integers more cheaply; one such integer anywhere, even across a block's
  // end, must still count in full, in its place.
  struct shape {
    int max_digits;
    std::vector<std::string> rare;
  };
  const shape shapes[] = {
      {2, {"-7", "1234", "12345", "123456"}},
      {3, {"-1", "-999", "4321", "+98765"}},
      {5, {"-12345", "123456", "9999999", "-1234567890123456"}},
      {8, {"-123456789", "12345678901234567", "-1"}},
      {5, {}},
  };
  static const char* separators[] = {" ", "\n", ", ", ",", "\r\n"};
  std::mt19937_64 rng(5);
  for (const shape& sh : shapes) {
    for (int iter = 0; iter < 300; ++iter) {
      std::string in;
      for (int piece = 0, pieces = 1 + static_cast<int>(rng() % 4); piece < pieces; ++piece) {
        for (std::size_t t = 0, tokens = rng() % 400; t < tokens; ++t) {
          for (int d = 0, len = 1 + static_cast<int>(rng() % static_cast<unsigned>(sh.max_digits)); d < len;
               ++d)
            in += static_cast<char>('0' + rng() % 10);
          in += separators[rng() % std::size(separators)];
        }
        if (!sh.rare.empty()) in += ' ' + sh.rare[rng() % sh.rare.size()] + ' ';
      }
      auto xs = model_integers(in);
      const combiner f = nth_combiner(iter);
      fold_result r = fold_random_reads(in, f, GetParam(), rng, 1 + rng() % 5000);
      ASSERT_EQ(r.status, fold_status::ok);
      ASSERT_EQ(r.value, model_fold(xs, f)) << '"' << in << '"';
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, Differential, ::testing::ValuesIn(available_kernels()),
                         [](const auto& info) { return std::string(info.param->name); });

}  // namespace
}  // namespace intsum::testing
