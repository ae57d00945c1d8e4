// Deterministic benchmark inputs. Each shape stresses a different part of
// the scanner: long integers with one separator style, short lines, or a
// mix of lengths, signs and separators that defeats any single fast path.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace intsum::bench {

enum class shape { wide, small, mixed };
inline constexpr shape all_shapes[] = {shape::wide, shape::small, shape::mixed};

inline const char* shape_name(shape s) {
  switch (s) {
    case shape::wide:
      return "wide";
    case shape::small:
      return "small";
    case shape::mixed:
      return "mixed";
  }
  return "?";
}

inline std::optional<shape> parse_shape(std::string_view name) {
  for (shape s : all_shapes)
    if (name == shape_name(s)) return s;
  return std::nullopt;
}

// splitmix64: tiny, fast, and the same stream on every platform, which
// std::uniform_int_distribution does not promise.
class random_bits {
 public:
  explicit random_bits(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }

  // Uniform in [0, n) for n < 2^32 by multiply-and-shift; the bias is below
  // n / 2^32, far under anything a benchmark input could notice.
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(((next() >> 32) * n) >> 32); }

 private:
  std::uint64_t state_;
};

inline constexpr std::uint64_t default_seed = 0x1a75u;

namespace detail {

// Room for the longest record any shape writes: sign, 10 digits, separator.
inline constexpr std::size_t max_record = 32;

// Collects output in a large block and hands it to the sink whole, so the
// sink sees few, big writes.
template <class Sink>
class block_writer {
 public:
  block_writer(Sink& sink, std::size_t block) : sink_(sink), buf_(block) {}

  // Makes room for one more record.
  void reserve_record() {
    if (buf_.size() - used_ < max_record) flush();
  }
  void put(char c) { buf_[used_++] = c; }
  void put(std::string_view s) {
    for (char c : s) buf_[used_++] = c;
  }
  // Writes v in decimal.
  void put_decimal(std::uint32_t v) {
    char tmp[10];
    int n = 0;
    do {
      tmp[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0) buf_[used_++] = tmp[--n];
  }
  // Writes v in decimal, zero-padded to `width` digits.
  void put_decimal_padded(std::uint32_t v, int width) {
    for (int i = width - 1; i >= 0; --i) {
      buf_[used_ + static_cast<std::size_t>(i)] = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    used_ += static_cast<std::size_t>(width);
  }

  std::uint64_t total() const { return flushed_ + used_; }

  void flush() {
    if (used_ == 0) return;
    sink_(std::string_view(buf_.data(), used_));
    flushed_ += used_;
    used_ = 0;
  }

 private:
  Sink& sink_;
  std::vector<char> buf_;
  std::size_t used_ = 0;
  std::uint64_t flushed_ = 0;
};

inline constexpr std::array<std::uint32_t, 10> powers_of_ten = {
    1u, 10u, 100u, 1000u, 10000u, 100000u, 1000000u, 10000000u, 100000000u, 1000000000u};

inline constexpr std::string_view mixed_separators[] = {" ", ",", ", ", "\n", " ,\n\t", "\r\n", ",,, "};

}  // namespace detail

// Writes integers of shape `s` to `sink` (called with std::string_view
// blocks) until at least `min_bytes` are out, stopping right after the
// separator that reaches the size. The output depends only on the
// arguments, and a smaller size gives a prefix of a larger one.
template <class Sink>
void generate(shape s, std::uint64_t min_bytes, Sink&& sink, std::uint64_t seed = default_seed) {
  detail::block_writer<std::remove_reference_t<Sink>> out(sink, std::size_t{1} << 20);
  random_bits rng(seed);
  std::uint64_t count = 0;
  do {
    out.reserve_record();
    ++count;
    switch (s) {
      case shape::wide: {
        // Full int32 range; the magnitude of INT_MIN still fits in uint32.
        auto v = static_cast<std::uint32_t>(rng.next() >> 32);
        if (v & 0x80000000u) {
          out.put('-');
          v = ~v + 1;
        }
        out.put_decimal(v);
        out.put(count % 10 == 0 ? std::string_view("\n") : std::string_view(", "));
        break;
      }
      case shape::small:
        out.put_decimal(rng.below(100));
        out.put('\n');
        break;
      case shape::mixed: {
        std::uint32_t sign = rng.below(3);
        if (sign == 1) out.put('-');
        if (sign == 2) out.put('+');
        int digits = 1 + static_cast<int>(rng.below(10));
        if (digits == 1) {
          out.put_decimal(rng.below(10));
        } else {
          // A leading digit of 1-9, then the rest zero-padded: every length
          // keeps its exact digit count, even 10 digits past 2^32.
          out.put(static_cast<char>('1' + rng.below(9)));
          out.put_decimal_padded(rng.below(detail::powers_of_ten[static_cast<std::size_t>(digits - 1)]),
                                 digits - 1);
        }
        out.put(detail::mixed_separators[rng.below(
            static_cast<std::uint32_t>(std::size(detail::mixed_separators)))]);
        break;
      }
    }
  } while (out.total() < min_bytes);
  out.flush();
}

// The same input, in memory.
inline std::string generate(shape s, std::uint64_t min_bytes, std::uint64_t seed = default_seed) {
  std::string text;
  text.reserve(static_cast<std::size_t>(min_bytes) + detail::max_record);
  generate(
      s, min_bytes, [&](std::string_view block) { text.append(block); }, seed);
  return text;
}

}  // namespace intsum::bench
