// What each byte is to the format: the one description of the byte classes
// (docs/design.md, "Byte classes"). Every kernel's classification is made
// from class_of, or, where a kernel keeps a test of its own (a range check,
// a word trick), proven equal to it by a static_assert over all 256 bytes
// with tests_class. A change here either moves every kernel alike or stops
// the build.
#pragma once

namespace intsum {
namespace {

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

// Whether test(c) holds for exactly the bytes c whose class is one of `set`.
template <class Test, class... Class>
constexpr bool tests_class(Test test, Class... set) {
  for (unsigned c = 0; c < 256; ++c) {
    const auto byte = static_cast<unsigned char>(c);
    if (static_cast<bool>(test(byte)) != ((class_of(byte) == set) || ...)) return false;
  }
  return true;
}

// Whether every byte from `first` on is other: what tables that hold only
// the bytes below `first` rely on.
constexpr bool other_from(unsigned first) {
  for (unsigned c = first; c < 256; ++c)
    if (class_of(static_cast<unsigned char>(c)) != byte_class::other) return false;
  return true;
}

}  // namespace
}  // namespace intsum
