// Fuzz target: the configuration document read from the bytes of a file.
//
// Checks, beyond the sanitizers: every entry read can be found again by its
// section and key; writing the document and reading the written bytes gives
// the same sections and entries (a load, save and load loses nothing), and
// writing that again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "config/document.h"

namespace {

using voxa::config::Document;

bool SameContent(const Document& a, const Document& b) {
  const auto& x = a.sections();
  const auto& y = b.sections();
  if (x.size() != y.size()) return false;
  for (size_t s = 0; s < x.size(); ++s) {
    if (x[s].name != y[s].name || x[s].entries.size() != y[s].entries.size()) return false;
    for (size_t e = 0; e < x[s].entries.size(); ++e)
      if (x[s].entries[e].key != y[s].entries[e].key || x[s].entries[e].value != y[s].entries[e].value) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Document d = Document::Parse(data, size);
  size_t looked_up = 0;  // lookups are linear: a few per input
  for (const Document::Section& s : d.sections()) {
    if (s.name.empty()) std::abort();
    for (const Document::Entry& e : s.entries) {
      if (e.key.empty()) std::abort();
      if (++looked_up <= 16 && d.Find(s.name, e.key) == nullptr) std::abort();
      (void)voxa::config::ParseUnsigned(e.value);
    }
  }
  const std::vector<uint8_t> written = d.Serialize();
  const Document back = Document::Parse(written);
  if (!SameContent(d, back)) std::abort();
  if (back.Serialize() != written) std::abort();

  // Setting an entry that was read reads back (keys with quotes in them can
  // be written only without a value, as the line they were read from).
  if (!d.sections().empty() && !d.sections()[0].entries.empty() &&
      d.sections()[0].entries[0].key.find(u'"') == std::u16string::npos) {
    Document changed = back;
    const auto& s = d.sections()[0];
    changed.Set(s.name, s.entries[0].key, u" 42 ");
    const Document reread = Document::Parse(changed.Serialize());
    const std::u16string* v = reread.Find(s.name, s.entries[0].key);
    if (v == nullptr || *v != u" 42 ") std::abort();
  }
  return 0;
}
