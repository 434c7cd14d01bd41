#include "config/document.h"

#include "config/text.h"

namespace voxa::config {
namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r'; }

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

std::u16string_view Trim(std::u16string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSpace(s[b])) ++b;
  while (e > b && IsSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Quoted text: what lies between the opening quote at s[0] and the next
// quote, or the rest when no quote closes it.
std::u16string_view Unquote(std::u16string_view s) {
  const size_t close = s.find(u'"', 1);
  return close == std::u16string_view::npos ? s.substr(1) : s.substr(1, close - 1);
}

struct Line {
  enum Kind { Skip, SectionStart, Entry } kind = Skip;
  std::u16string_view name;  // section name or key
  std::u16string_view value;
};

// One line of text (CR already removed, LF not included).
Line ReadLine(std::u16string_view raw) {
  Line l;
  const std::u16string_view line = Trim(raw);
  if (line.empty() || line[0] == u';') return l;
  if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
    l.kind = Line::SectionStart;
    l.name = Trim(line.substr(1, line.size() - 2));
    return l;
  }
  const size_t eq = line.find(u'=');
  if (eq == std::u16string_view::npos) {
    // A line without a key: the whole line is the key.
    l.kind = Line::Entry;
    l.name = line;
    return l;
  }
  size_t rest;  // where the text after the '=' begins, or npos for none
  const size_t close = line[0] == u'"' ? line.find(u'"', 1) : std::u16string_view::npos;
  if (close != std::u16string_view::npos) {
    l.name = line.substr(1, close - 1);
    const size_t after = line.find(u'=', close + 1);
    rest = after == std::u16string_view::npos ? after : after + 1;
  } else {
    l.name = Trim(line.substr(line[0] == u'"' ? 1 : 0, eq - (line[0] == u'"' ? 1 : 0)));
    rest = eq + 1;
  }
  if (l.name.empty()) return l;  // no key: dropped
  l.kind = Line::Entry;
  if (rest != std::u16string_view::npos) {
    const std::u16string_view v = Trim(line.substr(rest));
    l.value = (!v.empty() && v[0] == u'"') ? Unquote(v) : v;
  }
  return l;
}

void AppendLine(std::u16string& out, std::u16string_view text) {
  out.append(text);
  out.append(u"\r\n");
}

// The line an entry is written as: "key = value". When that line would not
// read back as the entry (white space at either end, an '=' in a key, a
// leading quote or ';'), the key or the value goes in quotes, or a key
// without a value is written alone, as the line it was read from.
std::u16string EntryLine(const Document::Entry& e) {
  auto reads_back = [&](const std::u16string& line) {
    const Line back = ReadLine(line);
    return back.kind == Line::Entry && back.name == e.key && back.value == e.value;
  };
  const std::u16string plain = e.key + u" = " + e.value;
  if (reads_back(plain)) return plain;
  const bool can_quote_key = e.key.find(u'"') == std::u16string::npos;
  const bool can_quote_value = e.value.find(u'"') == std::u16string::npos;
  const std::u16string key = can_quote_key ? u'"' + e.key + u'"' : e.key;
  const std::u16string value = can_quote_value ? u'"' + e.value + u'"' : e.value;
  for (const std::u16string& line : {key + u" = " + e.value, e.key + u" = " + value, key + u" = " + value, e.key})
    if (reads_back(line)) return line;
  return plain;
}

}  // namespace

bool SameNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (Lower(a[k]) != Lower(b[k])) return false;
  return true;
}

uint32_t ParseUnsigned(std::u16string_view text) {
  size_t k = 0;
  while (k < text.size() && IsSpace(text[k])) ++k;
  bool negative = false;
  if (k < text.size() && (text[k] == u'+' || text[k] == u'-')) negative = text[k++] == u'-';
  uint64_t v = 0;
  bool overflow = false;
  for (; k < text.size() && text[k] >= u'0' && text[k] <= u'9'; ++k) {
    v = v * 10 + static_cast<uint64_t>(text[k] - u'0');
    if (v > 0xFFFFFFFFull) {
      overflow = true;
      v = 0xFFFFFFFFull;  // keeps v * 10 inside 64 bits
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  const uint32_t u = static_cast<uint32_t>(v);
  return negative ? 0u - u : u;
}

Document Document::Parse(const uint8_t* bytes, size_t size) {
  Document d;
  if (bytes == nullptr || size == 0) return d;
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    d.ParseText(DecodeUtf16Le(bytes + 2, size - 2));
  } else if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    // An editor's UTF-8 mark would otherwise stick to the first line.
    d.ParseText(Decode8Bit(bytes + 3, size - 3));
  } else {
    d.ParseText(Decode8Bit(bytes, size));
  }
  return d;
}

void Document::ParseText(std::u16string_view text) {
  Section* current = nullptr;  // none before the first section line
  std::u16string line;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(u'\n', at);
    if (end == std::u16string_view::npos) end = text.size();
    line.clear();
    for (size_t k = at; k < end; ++k)
      if (text[k] != u'\r') line.push_back(text[k]);
    at = end + 1;

    const Line l = ReadLine(line);
    if (l.kind == Line::SectionStart) {
      if (l.name.empty()) {
        current = nullptr;  // lines up to the next section line are ignored
        continue;
      }
      current = FindSection(l.name);
      if (current == nullptr) {
        sections_.push_back(Section{std::u16string(l.name), {}});
        current = &sections_.back();
      }
    } else if (l.kind == Line::Entry && current != nullptr) {
      current->entries.push_back(Entry{std::u16string(l.name), std::u16string(l.value)});
    }
  }
}

Document::Section* Document::FindSection(std::u16string_view name) {
  for (Section& s : sections_)
    if (SameNoCase(s.name, name)) return &s;
  return nullptr;
}

const Document::Section* Document::FindSection(std::u16string_view name) const {
  for (const Section& s : sections_)
    if (SameNoCase(s.name, name)) return &s;
  return nullptr;
}

const std::u16string* Document::Find(std::u16string_view section, std::u16string_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return nullptr;
  for (const Entry& e : s->entries)
    if (SameNoCase(e.key, key)) return &e.value;
  return nullptr;
}

void Document::Set(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  Section* s = FindSection(section);
  if (s == nullptr) {
    sections_.push_back(Section{std::u16string(section), {}});
    s = &sections_.back();
  }
  for (Entry& e : s->entries) {
    if (SameNoCase(e.key, key)) {
      e.key.assign(key);
      e.value.assign(value);
      return;
    }
  }
  s->entries.push_back(Entry{std::u16string(key), std::u16string(value)});
}

std::vector<uint8_t> Document::Serialize() const {
  std::u16string text;
  for (const Section& s : sections_) {
    text += u'[';
    text += s.name;
    AppendLine(text, u"]");
    for (const Entry& e : s.entries) AppendLine(text, EntryLine(e));
    AppendLine(text, u"");
  }
  std::vector<uint8_t> out{0xFF, 0xFE};
  out.reserve(2 + text.size() * 2);
  AppendUtf16Le(text, out);
  return out;
}

}  // namespace voxa::config
