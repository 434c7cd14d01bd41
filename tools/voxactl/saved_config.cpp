#include "saved_config.h"

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

bool ReplaceRegisterValues(std::string& file, uint32_t regs, const uint32_t (&words)[32][8]) {
  if (file.size() < 2 || file.size() % 2 != 0 || static_cast<uint8_t>(file[0]) != 0xFF ||
      static_cast<uint8_t>(file[1]) != 0xFE)
    return false;
  std::u16string text;
  for (size_t i = 2; i < file.size(); i += 2)
    text += static_cast<char16_t>(static_cast<uint8_t>(file[i]) | (static_cast<uint8_t>(file[i + 1]) << 8));

  std::u16string out;
  uint8_t done[32] = {};  // bit w: REG[r].w replaced (the first entry of a key counts)
  bool in_section = false;
  std::string line;
  for (size_t begin = 0; begin < text.size();) {
    size_t end = text.find(u'\n', begin);
    const bool last = end == std::u16string::npos;
    if (last) end = text.size();
    std::u16string replacement;
    bool replaced = false;
    if (AsciiLine(text, begin, end, line)) {
      const size_t first = line.find_first_not_of(" \t");
      const std::string_view trimmed =
          first == std::string::npos ? std::string_view() : std::string_view(line).substr(first);
      if (!trimmed.empty() && trimmed.front() == '[' && trimmed.find(']') == trimmed.size() - 1) {
        std::string_view name = trimmed.substr(1, trimmed.size() - 2);
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
        in_section = SameLetters(name, kSection);
      } else if (in_section && trimmed.size() >= 10 && SameLetters(trimmed.substr(0, 4), "REG[") &&
                 trimmed.substr(6, 2) == "]." && trimmed.find('=') != std::string::npos) {
        const int r = Digits2(trimmed, 4), w = Digits2(trimmed, 8);
        size_t eq = 10;
        while (eq < trimmed.size() && (trimmed[eq] == ' ' || trimmed[eq] == '\t')) ++eq;
        if (r >= 0 && r < 32 && w >= 0 && w < 8 && eq < trimmed.size() && trimmed[eq] == '=' &&
            (regs & (1u << r)) && !(done[r] & (1u << w))) {
          char entry[48];
          std::snprintf(entry, sizeof entry, "REG[%02d].%02d = %d", r, w, static_cast<int32_t>(words[r][w]));
          for (const char* p = entry; *p; ++p) replacement += static_cast<char16_t>(*p);
          if (end > begin && text[end - 1] == u'\r') replacement += u'\r';
          done[r] = static_cast<uint8_t>(done[r] | (1u << w));
          replaced = true;
        }
      }
    }
    if (replaced)
      out += replacement;
    else
      out.append(text, begin, end - begin);
    if (!last) out += u'\n';
    begin = end + 1;
  }
  for (int r = 0; r < 32; ++r)
    if ((regs & (1u << r)) && done[r] != 0xFF) return false;

  std::string bytes("\xFF\xFE", 2);
  bytes.reserve(2 + out.size() * 2);
  for (char16_t c : out) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  file.swap(bytes);
  return true;
}

}  // namespace voxactl
