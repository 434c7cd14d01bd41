#include "config/text.h"

namespace voxa::config {
namespace {

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The length of the valid UTF-8 sequence at p (0 when there is none) and
// the code point it encodes.
size_t DecodeUtf8Sequence(const uint8_t* p, size_t left, char32_t& cp) {
  const uint8_t b0 = p[0];
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t n;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (left < n) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[k] & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void AppendCodePoint(char32_t cp, std::u16string& out) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

}  // namespace

std::u16string DecodeUtf16Le(const uint8_t* bytes, size_t size) {
  std::u16string out;
  out.reserve(size / 2);
  for (size_t k = 0; k + 1 < size; k += 2)
    out.push_back(static_cast<char16_t>(bytes[k] | (bytes[k + 1] << 8)));
  return out;
}

std::u16string Decode8Bit(const uint8_t* bytes, size_t size) {
  std::u16string out;
  out.reserve(size);
  size_t k = 0;
  while (k < size) {
    char32_t cp = 0;
    const size_t n = DecodeUtf8Sequence(bytes + k, size - k, cp);
    if (n == 0) {
      out.push_back(static_cast<char16_t>(bytes[k]));  // Latin-1
      ++k;
    } else {
      AppendCodePoint(cp, out);
      k += n;
    }
  }
  return out;
}

std::optional<std::string> EncodeUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t k = 0; k < text.size(); ++k) {
    char32_t cp = text[k];
    if (IsHighSurrogate(cp)) {
      if (k + 1 >= text.size() || !IsLowSurrogate(text[k + 1])) return std::nullopt;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[k + 1] - 0xDC00);
      ++k;
    } else if (IsLowSurrogate(cp)) {
      return std::nullopt;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

void AppendUtf16Le(std::u16string_view text, std::vector<uint8_t>& out) {
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
}

}  // namespace voxa::config
