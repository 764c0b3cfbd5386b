#pragma once

// UTF-8 decoding and encoding beneath the text helpers. An ill-formed sequence
// is skipped by its maximal ill-formed subpart (Unicode's recommended practice,
// also ICU's), so a broken byte never swallows the well-formed text after it.

#include <cstddef>

namespace text::utf8 {

// What the decoders return for an ill-formed sequence; no scalar value.
inline constexpr char32_t kIllFormed = 0xFFFFFFFF;

// True when `byte` continues a sequence (0x80 to 0xBF).
constexpr bool is_trail(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// True when `byte` can start a sequence of two or more bytes (0xC2 to 0xF4).
constexpr bool is_lead(unsigned char byte) { return byte >= 0xC2 && byte <= 0xF4; }

// The length of the sequence `lead` starts: 1 for ASCII and for a byte that
// starts none, 2 to 4 for a lead byte.
constexpr std::size_t sequence_length(unsigned char lead) {
  if (!is_lead(lead)) return 1;
  return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// True when `second` may follow the lead byte `lead` (0xE0 to 0xF4) of a
// sequence of three or four bytes: this rules out overlong forms, surrogates
// and values beyond U+10FFFF at the first trail byte already.
constexpr bool valid_second(unsigned char lead, unsigned char second) {
  switch (lead) {
    case 0xE0:
      return second >= 0xA0 && second <= 0xBF;
    case 0xED:
      return second >= 0x80 && second <= 0x9F;
    case 0xF0:
      return second >= 0x90 && second <= 0xBF;
    case 0xF4:
      return second >= 0x80 && second <= 0x8F;
    default:
      return is_trail(second);
  }
}

// Decodes the character starting at `s[i]` (`i` < `size`) and advances `i`
// past it; an ill-formed sequence gives `kIllFormed` and advances past its
// maximal ill-formed subpart, at least one byte.
inline char32_t decode(const unsigned char* s, std::size_t size, std::size_t& i) {
  const unsigned char lead = s[i++];
  if (lead < 0x80) return lead;
  if (i == size) return kIllFormed;
  if (lead < 0xE0) {
    if (lead < 0xC2 || !is_trail(s[i])) return kIllFormed;
    return static_cast<char32_t>((lead & 0x1F) << 6 | (s[i++] & 0x3F));
  }
  if (lead > 0xF4 || !valid_second(lead, s[i])) return kIllFormed;
  auto c = static_cast<char32_t>((lead & (lead < 0xF0 ? 0x0F : 0x07)) << 6 | (s[i++] & 0x3F));
  if (lead >= 0xF0) {
    if (i == size || !is_trail(s[i])) return kIllFormed;
    c = c << 6 | (s[i++] & 0x3F);
  }
  if (i == size || !is_trail(s[i])) return kIllFormed;
  return c << 6 | (s[i++] & 0x3F);
}

// Decodes the character ending just before `s[i]` (`i` > 0) and moves `i` back
// to its start; an ill-formed ending gives `kIllFormed` and moves back over
// all of a sequence that is cut short there, otherwise over one byte.
inline char32_t decode_back(const unsigned char* s, std::size_t& i) {
  const unsigned char last = s[--i];
  if (last < 0x80) return last;
  if (!is_trail(last) || i == 0) return kIllFormed;
  const unsigned char b1 = s[i - 1];
  if (is_lead(b1)) {
    if (b1 < 0xE0) {
      --i;
      return static_cast<char32_t>((b1 & 0x1F) << 6 | (last & 0x3F));
    }
    if (valid_second(b1, last)) --i;
    return kIllFormed;
  }
  if (!is_trail(b1) || i == 1) return kIllFormed;
  const unsigned char b2 = s[i - 2];
  if (b2 >= 0xE0 && b2 <= 0xF4) {
    if (!valid_second(b2, b1)) return kIllFormed;
    i -= 2;
    if (b2 >= 0xF0) return kIllFormed;
    return static_cast<char32_t>((b2 & 0x0F) << 12 | (b1 & 0x3F) << 6 | (last & 0x3F));
  }
  if (!is_trail(b2) || i == 2) return kIllFormed;
  const unsigned char b3 = s[i - 3];
  if (b3 < 0xF0 || b3 > 0xF4 || !valid_second(b3, b2)) return kIllFormed;
  i -= 3;
  return static_cast<char32_t>((b3 & 0x07) << 18 | (b2 & 0x3F) << 12 | (b1 & 0x3F) << 6 |
                               (last & 0x3F));
}

// Writes the UTF-8 encoding of `c` to `out` (room for four bytes) and returns
// its length; a surrogate or a value beyond U+10FFFF is written as U+FFFD.
inline std::size_t encode(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | c >> 6);
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | c >> 12);
    out[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | c >> 18);
  out[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
  out[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

}  // namespace text::utf8
