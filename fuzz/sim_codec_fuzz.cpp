// Fuzz target: the simulated board's side of the wire. Host bytes go through
// its frame state machine and command decoder; with bit 0 of the first byte
// set, every command that decodes is also run on a board model, with a few
// milliseconds of simulated time after each.
//
// Checks, beyond the sanitizers: a completed frame has a good checksum and
// its length; a command that decodes, built again by the host-side builders,
// decodes to the same command (the same word values for a write); every
// frame the board sends is one well-formed frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "board.h"
#include "codec.h"

namespace {

using voxa_sim::CmdKind;
using voxa_sim::HostCommand;

// Parses a frame the codec built: exactly one good frame, nothing left over.
bool DecodeBuilt(const std::vector<uint8_t>& frame, HostCommand* out) {
  voxa_sim::FrameParser p;
  bool done = false;
  for (size_t k = 0; k < frame.size(); ++k) {
    const bool completed = p.Feed(frame[k]);
    if (completed != (k + 1 == frame.size())) return false;
    done = completed;
  }
  return done && voxa_sim::DecodeCommand(p.Body(), p.BodySize(), out);
}

void CheckRebuilt(const HostCommand& c) {
  std::vector<uint8_t> again;
  switch (c.kind) {
    case CmdKind::kSystem: again = voxa_sim::HostSystem(c.opcode, c.tag); break;
    case CmdKind::kAction: again = voxa_sim::HostAction(c.opcode, c.mask, c.tag); break;
    case CmdKind::kReadRequest: again = voxa_sim::HostRead(c.reg, c.mask, c.immediate, c.tag); break;
    case CmdKind::kRegisterWrite: {
      if (c.delta) return;  // the builder writes absolute values only
      uint32_t words[voxa_sim::kWords] = {};
      for (int i = 0; i < voxa_sim::kWords; ++i) c.WordValue(i, &words[i]);
      again = voxa_sim::HostWrite(c.reg, c.mask, words, c.immediate, c.tag, c.width);
      break;
    }
    case CmdKind::kInvalid: return;
  }
  HostCommand d;
  if (!DecodeBuilt(again, &d)) std::abort();
  if (d.opcode != c.opcode || d.kind != c.kind || d.reg != c.reg || d.mask != c.mask || d.Tag() != c.Tag())
    std::abort();
  if (c.kind == CmdKind::kRegisterWrite) {
    for (int i = 0; i < voxa_sim::kWords; ++i) {
      uint32_t x = 0, y = 0;
      if (c.WordValue(i, &x) != d.WordValue(i, &y) || x != y) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool run_board = (data[0] & 1) != 0;
  std::vector<std::vector<uint8_t>> sent;
  voxa_sim::Board board([&sent](std::vector<uint8_t> f) { sent.push_back(std::move(f)); });

  voxa_sim::FrameParser parser;
  for (size_t k = 1; k < size; ++k) {
    if (!parser.Feed(data[k])) continue;
    const std::vector<uint8_t> raw = parser.Raw();
    if (parser.Length() < 2 || raw.size() != static_cast<size_t>(parser.Length()) + 2 ||
        voxa_sim::Checksum(raw.data(), raw.size() - 1) != parser.Checksum())
      std::abort();
    HostCommand c;
    const bool ok = voxa_sim::DecodeCommand(parser.Body(), parser.BodySize(), &c);
    if (ok != (c.kind != CmdKind::kInvalid)) std::abort();
    (void)c.Describe();
    if (!ok) continue;
    CheckRebuilt(c);
    if (run_board) {
      board.Handle(c);
      board.Advance(data[k] & 15);
    }
  }
  if (run_board) board.Advance(100);

  for (const std::vector<uint8_t>& f : sent) {
    voxa_sim::FrameParser p;
    for (size_t k = 0; k < f.size(); ++k)
      if (p.Feed(f[k]) != (k + 1 == f.size())) std::abort();
  }
  return 0;
}
