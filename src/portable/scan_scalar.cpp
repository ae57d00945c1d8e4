// The byte-at-a-time scanner: the reference for the input format, which
// the tests and the fuzzer hold every other kernel to, and the kernel of
// last resort.
#include "core/byte_class.h"
#include "core/kernels.h"

namespace intsum {
namespace {

// Tests of a compare or two each, rather than lookups in a table of
// class_of, each proven to be the classes it stands for.
constexpr bool is_digit(unsigned char c) { return static_cast<unsigned char>(c - '0') < 10; }
constexpr bool is_white_space(unsigned char c) {
  return c == ' ' || static_cast<unsigned char>(c - '\t') < 5;
}
constexpr bool is_separator(unsigned char c) { return c == ' ' || c == ','; }
constexpr bool is_sign(unsigned char c) { return c == '-' || c == '+'; }
constexpr bool is_minus(unsigned char c) { return c == '-'; }

static_assert(tests_class(is_digit, byte_class::digit));
static_assert(tests_class(is_white_space, byte_class::space, byte_class::other_white));
static_assert(tests_class(is_separator, byte_class::space, byte_class::comma));
static_assert(tests_class(is_sign, byte_class::minus, byte_class::plus));
static_assert(tests_class(is_minus, byte_class::minus));

// Runs the state machine over one chunk; `take` receives each integer, mod
// 2^32. The switch only resumes where the last chunk stopped; within a chunk
// the phases follow one another in their usual order.
template <class Take>
chunk_result scan(scan_state& state, const unsigned char* p, std::size_t n, bool eof, Take take) {
  phase at = state.at;
  bool negative = state.negative;
  std::uint32_t value = state.value;
  std::size_t i = 0;

  switch (at) {
    case phase::separator:
      goto separator;
    case phase::blank:
      goto blank;
    case phase::sign:
      goto sign;
    case phase::digits:
      goto digits;
    case phase::ended:
      goto done;
  }

separator:
  while (i < n && is_separator(p[i])) ++i;
  if (i == n) {
    at = phase::separator;
    goto done;
  }
blank:
  while (i < n && is_white_space(p[i])) ++i;
  if (i == n) {
    at = phase::blank;
    goto done;
  }
  negative = false;
  if (is_sign(p[i])) {
    negative = is_minus(p[i++]);
  sign:
    if (i == n) {
      at = phase::sign;
      goto done;
    }
  }
  if (!is_digit(p[i])) {
    at = phase::ended;
    goto done;
  }
  value = 0;
digits:
  while (i < n && is_digit(p[i])) value = value * 10 + (p[i++] - '0');
  if (i == n) {
    at = phase::digits;
    goto done;
  }
  take(negative ? 0u - value : value);
  goto separator;

done:
  if (eof && at != phase::ended) {
    if (at == phase::digits) take(negative ? 0u - value : value);
    at = phase::ended;
  }
  state = {at, negative, value};
  return {n, at == phase::ended};
}

}  // namespace

chunk_result sum_scalar(sum_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  std::uint32_t sum = c.sum;
  chunk_result r = scan(c.state, p, n, eof, [&sum](std::uint32_t v) { sum += v; });
  c.sum = sum;
  return r;
}

chunk_result fold_scalar(fold_carry& c, const unsigned char* p, std::size_t n, bool eof) {
  return scan(c.state, p, n, eof, [&c](std::uint32_t v) {
    int x = static_cast<int>(v);
    c.result = c.any ? c.f(c.result, x) : x;
    c.any = true;
  });
}

}  // namespace intsum
