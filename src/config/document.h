// The configuration document: an INI-style list of sections, each a list of
// key = value entries, read from and written to the bytes of a file. It
// knows bytes and text only; reading and writing files is the caller's.
//
// Written as UTF-16LE with the FF FE mark and CR LF line ends. Read from
// UTF-16LE with the mark, or else from 8-bit text. Section names and keys
// compare without regard to the case of A-Z.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace voxa::config {

// Files larger than this are refused.
constexpr size_t kMaxDocumentBytes = 1000000;

class Document {
 public:
  struct Entry {
    std::u16string key;
    std::u16string value;
  };
  struct Section {
    std::u16string name;
    std::vector<Entry> entries;
  };

  // Reads a document from the bytes of a file (any size; the size limit is
  // the file reader's).
  static Document Parse(const uint8_t* bytes, size_t size);
  static Document Parse(const std::vector<uint8_t>& bytes) { return Parse(bytes.data(), bytes.size()); }

  // The value of the first entry of that key in the first section of that
  // name, or nullptr.
  const std::u16string* Find(std::u16string_view section, std::u16string_view key) const;

  // Replaces the first entry of that key (its key text and value) or
  // appends one to the section, appending the section when there is none.
  void Set(std::u16string_view section, std::u16string_view key, std::u16string_view value);

  // The file's bytes: FF FE, then per section "[name]", one "key = value"
  // line per entry and an empty line, each line ended by CR LF.
  std::vector<uint8_t> Serialize() const;

  const std::vector<Section>& sections() const { return sections_; }

 private:
  Section* FindSection(std::u16string_view name);
  const Section* FindSection(std::u16string_view name) const;
  void ParseText(std::u16string_view text);

  std::vector<Section> sections_;
};

// True when a and b are equal ignoring the case of A-Z.
bool SameNoCase(std::u16string_view a, std::u16string_view b);

// A value as an unsigned 32-bit number: leading white space and one sign
// are skipped, digits are read up to the first other character, a minus
// sign negates (two's complement), values past 4294967295 give 0xFFFFFFFF
// and text without digits gives 0.
uint32_t ParseUnsigned(std::u16string_view text);

}  // namespace voxa::config
