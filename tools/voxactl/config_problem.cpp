#include "config_problem.h"

#include <cstdio>
#include <string_view>

namespace voxactl {
namespace {

constexpr std::string_view kSection = "VOXA_V01_ENGINE_CONFIG";

// The line as ASCII text, without its CR; false when it holds anything else.
bool AsciiLine(const std::u16string& text, size_t begin, size_t end, std::string& out) {
  out.clear();
  for (size_t i = begin; i < end; ++i) {
    const char16_t c = text[i];
    if (c == u'\r') continue;
    if (c > 0x7F) return false;
    out += static_cast<char>(c);
  }
  return true;
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

int Digits2(std::string_view s, size_t at) {
  if (at + 2 > s.size() || s[at] < '0' || s[at] > '9' || s[at + 1] < '0' || s[at + 1] > '9') return -1;
  return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

}  // namespace

std::string ConfigFileProblem(const std::string& file) {
  if (file.empty()) return "the file is empty";
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(file[i]); };
  if (file.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF)
    return "it is UTF-16 big-endian text; configuration files are UTF-16LE (byte-order mark FF FE)";
  const bool utf16 = file.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
  std::u16string text;
  if (utf16) {
    if (file.size() % 2 != 0) return "its UTF-16LE text is cut short (an odd number of bytes)";
    for (size_t i = 2; i + 1 < file.size(); i += 2) text += static_cast<char16_t>(byte(i) | (byte(i + 1) << 8));
  } else {
    // 8-bit text (UTF-8 or the system's code page): the letters that matter are ASCII.
    size_t nul = 0;
    const size_t from = file.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF ? 3 : 0;
    for (size_t i = from; i < file.size(); ++i) {
      if (byte(i) == 0) ++nul;
      text += static_cast<char16_t>(byte(i));
    }
    if (nul * 4 > file.size())
      return "it looks like UTF-16 text without its byte-order mark (FF FE); configuration files are UTF-16LE";
  }
  // The board's section and which REG[rr].ww entries it holds.
  bool section = false, in_section = false;
  uint8_t have[32] = {};
  std::string line;
  for (size_t begin = 0; begin <= text.size();) {
    size_t end = text.find(u'\n', begin);
    if (end == std::u16string::npos) end = text.size();
    if (AsciiLine(text, begin, end, line)) {
      const size_t first = line.find_first_not_of(" \t");
      const std::string_view t = first == std::string::npos ? std::string_view() : std::string_view(line).substr(first);
      if (!t.empty() && t.front() == '[' && t.find(']') != std::string::npos && t.substr(0, 4) != "REG[") {
        std::string_view name = t.substr(1, t.find(']') - 1);
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
        in_section = SameLetters(name, kSection);
        section = section || in_section;
      } else if (in_section && t.size() >= 10 && SameLetters(t.substr(0, 4), "REG[") && t.substr(6, 2) == "]." &&
                 t.find('=') != std::string::npos) {
        const int r = Digits2(t, 4), w = Digits2(t, 8);
        if (r >= 0 && r < 32 && w >= 0 && w < 8) have[r] = static_cast<uint8_t>(have[r] | (1u << w));
      }
    }
    begin = end + 1;
  }
  const std::string encoding = utf16 ? "" : " (and it is 8-bit text, not UTF-16LE as saved files are)";
  if (!section) return "it has no [" + std::string(kSection) + "] section" + encoding;
  int missing = 0;
  std::string named;
  for (int r = 0; r < 32; ++r)
    for (int w = 0; w < 8; ++w)
      if (!(have[r] & (1u << w)) && ++missing <= 3) {
        char key[16];
        std::snprintf(key, sizeof key, "REG[%02d].%02d", r, w);
        named += (named.empty() ? "" : ", ") + std::string(key);
      }
  if (missing)
    return std::to_string(missing) + " of its 256 register entries are missing (" + named +
           (missing > 3 ? ", ..." : "") + ")" + encoding;
  return "";
}

}  // namespace voxactl
