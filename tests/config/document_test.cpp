// The configuration document: reading and rewriting file bytes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "config/document.h"
#include "config/text.h"

using voxa::config::Document;

namespace {

std::vector<uint8_t> Bytes8(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> Bytes16(const std::u16string& s) {
  std::vector<uint8_t> out{0xFF, 0xFE};
  voxa::config::AppendUtf16Le(s, out);
  return out;
}

std::u16string Value(const Document& d, std::u16string_view section, std::u16string_view key) {
  const std::u16string* v = d.Find(section, key);
  return v ? *v : u"<missing>";
}

}  // namespace

TEST(ConfigDocument, ReadingRules) {
  const Document d = Document::Parse(Bytes8(
      "orphan = before any section\n[ Main ]\r\n  Alpha   =   1  \n; comment = 9\n\n"
      "beta\t=\t\"  quoted  \" trailing\n\"gamma key\" = 3\nalpha = 2\na line without a key\n = no key\n"
      "de\rlta = 4\r\r\n[]\nignored = 5\n[main]\nepsilon = 6"));
  ASSERT_EQ(d.sections().size(), 1u);
  EXPECT_EQ(d.sections()[0].name, u"Main");
  EXPECT_EQ(Value(d, u"MAIN", u"ALPHA"), u"1");  // the first of two entries
  EXPECT_EQ(Value(d, u"main", u"beta"), u"  quoted  ");
  EXPECT_EQ(Value(d, u"main", u"gamma key"), u"3");
  EXPECT_EQ(Value(d, u"main", u"a line without a key"), u"");
  EXPECT_EQ(Value(d, u"main", u"delta"), u"4");
  EXPECT_EQ(Value(d, u"main", u"epsilon"), u"6");
  // Alpha, beta, gamma key, alpha, the keyless line, delta, epsilon.
  EXPECT_EQ(d.sections()[0].entries.size(), 7u);
}

TEST(ConfigDocument, EncodingsAndMalformedText) {
  // Bytes that are not UTF-8 are Latin-1; a UTF-8 mark is not text.
  const Document l = Document::Parse(Bytes8("\xEF\xBB\xBF[S]\nk = caf\xC3\xA9 caf\xE9 \xFF\xC3\n"));
  EXPECT_EQ(Value(l, u"s", u"k"), u"caf\u00e9 caf\u00e9 \u00ff\u00c3");

  // A UTF-16 file of odd length loses only its dangling byte.
  std::vector<uint8_t> odd = Bytes16(u"[S]\nk = 1\n");
  odd.push_back(0x41);
  EXPECT_EQ(Value(Document::Parse(odd), u"s", u"k"), u"1");

  // Unpaired surrogates are kept and written back as they were.
  const std::u16string lone = std::u16string(u"a") + char16_t(0xD800) + u"b" + char16_t(0xDC01);
  const Document d = Document::Parse(Bytes16(u"[S]\nk = " + lone + u"\n"));
  EXPECT_EQ(Value(Document::Parse(d.Serialize()), u"s", u"k"), lone);
  EXPECT_FALSE(voxa::config::EncodeUtf8(lone).has_value());  // no file name for it
}

// Whatever the bytes, reading never fails, and a written document reads
// back as the same document.
TEST(ConfigDocument, ArbitraryBytesParseAndRewriteFaithfully) {
  std::mt19937 rng(1234);
  const char alphabet[] = "[]=;\"\r\t  ab\xC3\xA9\xFF";
  auto piece = [&](size_t n) {
    std::string t;
    for (size_t k = rng() % n; k > 0; --k)
      t += (rng() % 8 == 0) ? static_cast<char>(rng()) : alphabet[rng() % (sizeof alphabet - 1)];
    return t;
  };
  for (int round = 0; round < 500; ++round) {
    std::string text;
    for (int line = rng() % 12; line > 0; --line) {
      if (rng() % 4 == 0) {
        text += '[';
        text += piece(6);
        text += ']';
      } else {
        text += piece(16);
      }
      text += rng() % 2 ? "\n" : "\r\n";
    }
    std::vector<uint8_t> bytes(text.begin(), text.end());
    if (round % 3 == 0) {
      bytes = {0xFF, 0xFE};
      for (char ch : text) bytes.push_back(static_cast<uint8_t>(ch)), bytes.push_back(rng() % 8 == 0 ? 0xD8 : 0);
    }
    const Document d = Document::Parse(bytes);
    const Document back = Document::Parse(d.Serialize());
    ASSERT_EQ(back.sections().size(), d.sections().size()) << "round " << round;
    for (size_t s = 0; s < d.sections().size(); ++s) {
      const auto& a = d.sections()[s];
      const auto& b = back.sections()[s];
      ASSERT_EQ(b.name, a.name);
      ASSERT_EQ(b.entries.size(), a.entries.size()) << "round " << round;
      for (size_t k = 0; k < a.entries.size(); ++k) {
        EXPECT_EQ(b.entries[k].key, a.entries[k].key) << "round " << round;
        EXPECT_EQ(b.entries[k].value, a.entries[k].value) << "round " << round;
      }
    }
  }
}
