// The input format, run through every kernel, whole and split into reads.
#include <gtest/gtest.h>
#include <limits.h>
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support.h"

namespace intsum::testing {
namespace {

struct format_case {
  std::string contents;
  int sum;
};

std::string operator""_s(const char* s, std::size_t n) { return std::string(s, n); }

std::string repeated(std::string_view s, std::size_t times) {
  std::string r;
  for (std::size_t i = 0; i < times; ++i) r.append(s);
  return r;
}

const format_case format_cases[] = {
    // Separators.
    {"1 2 3", 6},
    {"1,2,3", 6},
    {"1, 2 ,3", 6},
    {"1,,, 2, 3,", 6},
    {"1\n2\n3\n", 6},
    {"1\r\n2", 3},
    {"1\t2\v3\f4", 10},
    {"1 ,\n 2", 3},
    {"1,\t2", 3},
    {"3, 4, 5\n", 12},
    {"  \n\t 8", 8},
    // Signs and digits.
    {"5", 5},
    {"-4, 10", 6},
    {"+7", 7},
    {"007", 7},
    {"1 -2", -1},
    {"10-3", 7},
    {"1+2", 3},
    {"-0", 0},
    // Where the list ends.
    {"0x10", 0},
    {"1\n,2", 1},
    {"1\t,2", 1},
    {"1 \n ,2", 1},
    {"1 2 x 3", 3},
    {"3.9 1", 3},
    {"10;20", 10},
    {"1 - 2", 1},
    {"1-+2", 1},
    {"--1", 0},
    {"+-1", 0},
    {"12 -", 12},
    {"1 2+", 3},
    {"1\0 2"_s, 1},
    {"1 \x80 2", 1},
    {"4 \xff", 4},
    // Other bytes just below '0' and above '9', and those below 0x20 that
    // are not white space, next to digits.
    {"1!2", 1},
    {"5/6", 5},
    {"12#3", 12},
    {"9:1", 9},
    {"-3;4", -3},
    {"7\x1f"
     "8",
     7},
    {"2\x10"
     "3",
     2},
    {"1\x0f", 1},
    {"\x0e"
     "1",
     0},
    // Nothing to fold.
    {"", 0},
    {" \n\t\r\v\f", 0},
    {",1", 0},
    {"x1", 0},
    {"-", 0},
    {"+ 1", 0},
    // Wrapping, and integers outside 32 bits.
    {"2147483647, 1", -2147483647 - 1},
    {"-2147483648 -1", 2147483647},
    {"2147483648", -2147483647 - 1},
    {"4294967297", 1},
    {"-4294967297", -1},
    {"10000000000000000000000000000000", -2147483647 - 1},  // 10^31
    {"100000000000000000000000000000000", 0},               // 10^32
    {"-9999999999999999999999999999999999999999", 1},       // -(10^40 - 1)
    {"123456789123456789123456789123456789123456789", -2080088299},
    // Runs of 15 and 16 digits, the longest some kernels weigh by lookups and one more.
    {"123456789012345 1", -2045911174},
    {"1234567890123456 1", 1015724737},
    {"-987654321098765,9", -821579780},
    {"-12 -3 -45", -60},
    {std::string(1000, '0') + "7", 7},
    // The steps of the vector kernels: runs of 15, 16 and 17 digits (the
    // lookup tables reach 15, Horner's four steps 16), and blocks of 32
    // integers, the most a block holds.
    {"999999999999999 -9999999999999999,99999999999999999", -1836089345},
    {repeated("1,", 40), 40},
    {repeated("-1", 40), -40},
    {std::string(100000, '0'), 0},
    {std::string("1").append(70, '0').append("5 5"), 10},
};

// Every kernel, at every alignment against its blocks, whole and byte by byte.
class FormatTest : public ::testing::TestWithParam<const kernel*> {};

// Blank bytes before a case: every alignment in the first two blocks, then
// the edges of each block up to the third group of eight.
std::vector<std::size_t> paddings() {
  std::vector<std::size_t> pads;
  for (std::size_t pad = 0; pad < 130; ++pad) pads.push_back(pad);
  for (std::size_t block = 2; block <= 17; ++block)
    for (std::size_t at : {0, 1, 31, 62, 63})
      if (64 * block + at >= 130) pads.push_back(64 * block + at);
  return pads;
}

TEST_P(FormatTest, SumsAsTheFormatSays) {
  const std::vector<std::size_t> pads = paddings();
  for (const auto& c : format_cases) {
    for (std::size_t pad : pads) {
      // At the end of the input, the case is in the last block or two, which
      // kernels run apart; blanks after it (which change no sum) put it in
      // whole blocks, in a chunk of three whole groups or more.
      const std::string lead = std::string(pad, pad % 3 == 0 ? '\n' : ' ') + c.contents;
      const std::size_t trail = std::max<std::size_t>(128, 1600 - std::min<std::size_t>(lead.size(), 1600));
      for (const std::string& in : {lead, lead + std::string(trail, pad % 2 == 0 ? ' ' : '\n')}) {
        SCOPED_TRACE(::testing::Message() << "pad " << pad << ", " << in.size() - lead.size()
                                          << " after, contents \"" << c.contents.substr(0, 60) << "\"");
        fold_result whole = fold_split(in, add, GetParam());
        ASSERT_EQ(whole.status, fold_status::ok);
        ASSERT_EQ(whole.value, c.sum);
        ASSERT_EQ(fold_split(in, mix, GetParam()).value, fold_split(in, mix, scalar_kernel()).value);
      }
      if (pad < 130 && lead.size() < 400) {
        ASSERT_EQ(fold_split(lead, add, GetParam(), {1}).value, c.sum) << "pad " << pad;
        ASSERT_EQ(fold_split(lead, add, GetParam(), {3, 1, 2}).value, c.sum) << "pad " << pad;
      }
    }
  }
}

TEST_P(FormatTest, EverySplitIntoTwoReads) {
  for (const auto& c : format_cases) {
    if (c.contents.size() > 200) continue;
    for (std::size_t cut = 0; cut <= c.contents.size(); ++cut) {
      fold_result r = fold_split(c.contents, add, GetParam(), {cut == 0 ? 1 : cut, 1 << 20});
      ASSERT_EQ(r.value, c.sum) << "cut " << cut << " of \"" << c.contents << "\"";
    }
  }
}

TEST_P(FormatTest, LongRunsAcrossReads) {
  // Digit, space and comma runs far longer than any buffer or block.
  // Appended, not added: GCC 12 gives a false -Wrestrict warning on the sum.
  std::string in = "5";
  in.append(300000, ' ').append(1, ',').append(200000, ',').append("\n").append(400000, '0').append("12");
  in.append(70000, ' ').append("-").append(999, '0').append("3");
  for (std::size_t size : {1ul, 7ul, 64ul, 4096ul, 131072ul}) {
    fold_result r = fold_split(in, add, GetParam(), {size});
    ASSERT_EQ(r.status, fold_status::ok);
    EXPECT_EQ(r.value, 14) << "reads of " << size;
  }
}

TEST_P(FormatTest, FailedReadIsAnError) {
  std::string in = "1 2 3 " + std::string(10000, '4') + " 5";
  fold_result r = fold_split(in, add, GetParam(), {5, 0});
  EXPECT_EQ(r.status, fold_status::read_failed);
  // Once the list has ended nothing more is read, so a later failure is never seen.
  r = fold_split("1 2 x 3 4", add, GetParam(), {6, 0});
  EXPECT_EQ(r.status, fold_status::ok);
  EXPECT_EQ(r.value, 3);
}

// The read buffer is not on the caller's stack: the fold runs on a thread
// with a small stack (small_stack_kib, or the least the C library allows, if more).
fold_result fold_on_small_stack(const std::string& in, combiner f, const kernel* k) {
  struct job {
    const std::string& in;
    combiner f;
    const kernel* k;
    fold_result r{fold_status::read_failed, 0};
  } j{in, f, k};
  auto body = [](void* p) -> void* {
    auto& j = *static_cast<job*>(p);
    j.r = fold_split(j.in, j.f, j.k);
    return nullptr;
  };
  pthread_attr_t attr;
  pthread_t t;
  const bool started = pthread_attr_init(&attr) == 0 &&
                       pthread_attr_setstacksize(
                           &attr, std::max<std::size_t>(small_stack_kib * 1024, PTHREAD_STACK_MIN)) == 0 &&
                       pthread_create(&t, &attr, body, &j) == 0;
  EXPECT_TRUE(started) << "no thread with a small stack";
  if (started) {
    EXPECT_EQ(pthread_join(t, nullptr), 0);
  }
  pthread_attr_destroy(&attr);
  return j.r;
}

TEST_P(FormatTest, FoldsOnASmallThreadStack) {
  std::string long_list = "7 ";
  long_list.append(200000, ' ').append("-3,\n").append(5000, '0').append("12");
  const fold_result r = fold_on_small_stack(long_list, add, GetParam());
  EXPECT_EQ(r.status, fold_status::ok);
  EXPECT_EQ(r.value, 16);
  const fold_result other = fold_on_small_stack(long_list, subtract, GetParam());
  EXPECT_EQ(other.status, fold_status::ok);
  EXPECT_EQ(other.value, -2);  // 7 - -3 - 12
}

// The contract of every kernel with the fold (scan.h), kept chunk by chunk.
// Each chunk is a heap block of exactly its bytes, so that AddressSanitizer
// catches a read past its end.
template <class Carry>
chunk_result run_exact(chunk_result (*scan)(Carry&, const unsigned char*, std::size_t, bool), Carry& c,
                       std::string_view bytes, bool eof) {
  const auto chunk = std::make_unique<unsigned char[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), chunk.get());
  return scan(c, chunk.get(), bytes.size(), eof);
}

::testing::AssertionResult keeps_contract(const chunk_result& r, std::size_t n, bool eof) {
  if (r.consumed > n) return ::testing::AssertionFailure() << "consumed " << r.consumed << " of " << n;
  if (eof && (r.consumed != n || !r.ended))
    return ::testing::AssertionFailure() << "at the end, consumed " << r.consumed << " of " << n
                                         << (r.ended ? "" : " and the list went on");
  if (!eof && !r.ended && n - r.consumed > max_tail)
    return ::testing::AssertionFailure() << "left " << n - r.consumed << " of " << n;
  return ::testing::AssertionSuccess();
}

std::uint32_t scalar_sum(std::string_view in) {
  sum_carry c;
  sum_scalar(c, reinterpret_cast<const unsigned char*>(in.data()), in.size(), true);
  return c.sum;
}

// Integers of 1 to 40 digits, signed or not, and separator runs longer than
// any tail a kernel may leave, so that chunks end inside each of them.
std::string contract_input(std::uint64_t seed) {
  static const std::string separators[] = {" ",
                                           ",",
                                           ", ",
                                           "\n",
                                           "\r\n",
                                           " ,\n\t",
                                           std::string(150, ' '),
                                           std::string(140, ',') + "\n",
                                           std::string(200, '\n')};
  std::mt19937_64 rng(seed);
  std::string s;
  while (s.size() < 2600) {
    s += "+-   "[rng() % 5];
    if (s.back() == ' ') s.pop_back();
    const std::size_t digits = rng() % 4 == 0 ? 16 + rng() % 25 : 1 + rng() % 10;
    for (std::size_t d = 0; d < digits; ++d) s += static_cast<char>('0' + rng() % 10);
    s += separators[rng() % std::size(separators)];
  }
  return s;
}

// Feeds `all` to a kernel as the fold reads: what the last chunk left, then
// n more bytes, until the end of input or of the list.
template <class Carry>
::testing::AssertionResult feed_in_chunks(chunk_result (*scan)(Carry&, const unsigned char*, std::size_t,
                                                               bool),
                                          Carry& c, std::string_view all, std::size_t n) {
  std::string chunk;
  for (std::size_t pos = 0;;) {
    const std::size_t take = std::min(n, all.size() - pos);
    chunk.append(all.substr(pos, take));
    pos += take;
    const chunk_result r = run_exact(scan, c, chunk, take == 0);
    if (auto kept = keeps_contract(r, chunk.size(), take == 0); !kept) return kept << " at byte " << pos;
    if (r.ended || take == 0) return ::testing::AssertionSuccess();
    chunk.erase(0, r.consumed);
  }
}

TEST_P(FormatTest, KeepsTheChunkContract) {
  const kernel* k = GetParam();
  std::string ends = contract_input(2);
  ends[1000] = 'x';
  for (const std::string& in : {contract_input(1), ends}) {
    const std::string_view all = in;
    const std::uint32_t total = scalar_sum(all);
    for (std::size_t n = 0; n <= 1700; ++n) {
      SCOPED_TRACE(::testing::Message() << "chunks of " << n << (all == ends ? ", list ending" : ""));
      const std::string_view prefix = all.substr(0, n);
      // One chunk, then what it left over at the end of input.
      sum_carry c;
      chunk_result r = run_exact(k->sum, c, prefix, false);
      ASSERT_TRUE(keeps_contract(r, n, false));
      if (!r.ended) {
        ASSERT_TRUE(
            keeps_contract(run_exact(k->sum, c, prefix.substr(r.consumed), true), n - r.consumed, true));
      }
      ASSERT_EQ(c.sum, scalar_sum(prefix));
      // The same chunk as the end of input.
      c = {};
      ASSERT_TRUE(keeps_contract(run_exact(k->sum, c, prefix, true), n, true));
      ASSERT_EQ(c.sum, scalar_sum(prefix));
      if (n == 0) continue;
      c = {};
      ASSERT_TRUE(feed_in_chunks(k->sum, c, all, n));
      ASSERT_EQ(c.sum, total);
    }
  }
}

// The same for the fold with another combiner, chunk after chunk.
TEST_P(FormatTest, KeepsTheChunkContractFolding) {
  std::string ends = contract_input(4);
  ends[1200] = ';';
  for (const std::string& in : {contract_input(3), ends}) {
    const int want = fold_split(in, mix, scalar_kernel()).value;
    for (std::size_t n = 1; n <= 1700; n += n < 300 ? 1 : 7) {
      fold_carry c{.state = {}, .f = mix};
      ASSERT_TRUE(feed_in_chunks(GetParam()->fold, c, in, n)) << "chunks of " << n;
      ASSERT_EQ(c.result, want) << "chunks of " << n << (in == ends ? ", list ending" : "");
    }
  }
}

// The combiner gets the running result first, through every kernel.
TEST_P(FormatTest, CombinerTakesTheRunningResultFirst) {
  struct fold_case {
    const char* contents;
    int value;
  } cases[] = {
      {"10 3 2", 5},  // (10 - 3) - 2, not 10 - (3 - 2)
      {"7", 7},       // a single integer never reaches the combiner
      {"", 0},       {"1 2 x 3", -1}, {"-2147483648, 1", 2147483647},
  };
  for (const auto& c : cases)
    for (std::size_t size : {1ul, 3ul, 4096ul})
      EXPECT_EQ(fold_split(c.contents, subtract, GetParam(), {size}).value, c.value)
          << c.contents << ", " << size;
}

INSTANTIATE_TEST_SUITE_P(Kernels, FormatTest, ::testing::ValuesIn(available_kernels()),
                         [](const auto& info) { return std::string(info.param->name); });

TEST(Add, WrapsModulo2To32) {
  EXPECT_EQ(add(2147483647, 1), -2147483647 - 1);
  EXPECT_EQ(add(-2147483647 - 1, -1), 2147483647);
  EXPECT_EQ(add(-5, 3), -2);
}

}  // namespace
}  // namespace intsum::testing
