// Fuzz target: bytes from the board through the frame state machine, the
// packet dispatcher and the decoders, on a host register image the input
// sets up first.
//
// Input: a 16-byte header, then the received byte stream.
//   [0]      engine version in CHIPSTATUS word 7: major in the high nibble,
//            minor in the low one (up to 2.05 the host checks the limits)
//   [1]      CHIPSET word 1 bits 8-15 (the custom state register)
//   [2]      block size for FeedBlock (0: the whole stream at once)
//   [3]      AXISSET bits 16-23 of every axis (hard and soft limit switches)
//   [4..7]   the capture ring index the host starts from
//   [8..11]  SLIMITL of every axis, [12..15] SLIMITH of every axis
//
// Checks, beyond the sanitizers: feeding byte by byte and in blocks yields
// the same frames as the framing rule written plainly over the whole stream
// (below); every frame has a good checksum and fits its buffer; up to the
// first frame that fails its checksum, the simulated board's parser (which
// does not search a failed frame again) sees the same frames; the capture
// index stays in the ring.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec.h"
#include "state/receive.h"

namespace {

struct Seen {
  std::vector<uint8_t> bytes;  // start byte .. checksum
  int body_count;
  uint8_t tag;
};

Seen Record(const voxa::RxFrame& f) {
  if (f.n < 2 || f.n > 127 || f.body_count != f.n - 2) std::abort();
  unsigned sum = 0;
  for (int k = 0; k <= f.n; ++k) sum += f.bytes[k];
  if (static_cast<uint8_t>(sum) != f.checksum || f.bytes[f.n + 1] != f.checksum) std::abort();
  return Seen{std::vector<uint8_t>(f.bytes, f.bytes + f.n + 2), f.body_count, f.tag};
}

bool Same(const Seen& a, const Seen& b) { return a.bytes == b.bytes && a.body_count == b.body_count && a.tag == b.tag; }

struct Events : voxa::ReceiveEvents {
  uint32_t completes = 0, events = 0;
  void OnComplete(uint32_t) override { ++completes; }
  void OnEventPacket(uint32_t) override { ++events; }
};

// The framing rule over the whole stream, one index into it: the state
// table, and after a failed checksum the scan goes on from the byte after
// the failed frame's start byte. Returns the state the stream ends in.
int Reference(const uint8_t* s, size_t size, std::vector<Seen>& out) {
  int state = 0, n = 0;
  size_t start = 0, pos = 0;
  while (pos < size) {
    const uint8_t b = s[pos++];
    if (state == 0) {
      if (b == 0xFE) start = pos - 1, state = 1;
    } else if (state == 1) {
      if (b == 0xFE) {
        start = pos - 1;
      } else {
        n = b & 0x7F;
        state = n < 2 ? 0 : 2;
      }
    } else if (state == 2) {
      if (b == 0xFE)
        start = pos - 1, state = 1;
      else
        state = 3;
    } else if (pos - start == static_cast<size_t>(n) + 2) {  // b is the checksum
      state = 0;
      unsigned sum = 0;
      for (size_t k = start; k < pos - 1; ++k) sum += s[k];
      if (static_cast<uint8_t>(sum) == b)
        out.push_back(Seen{std::vector<uint8_t>(s + start, s + pos), n - 2, s[start + n]});
      else
        pos = start + 1;
    }
  }
  return state;
}

uint32_t Word(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kHeader = 16;
  if (size < kHeader) return 0;
  const uint8_t* h = data;
  const uint8_t* stream = data + kHeader;
  const size_t n = size - kHeader;

  // One mirror for the whole run: its capture ring is 320 KB.
  static voxa::StateMirror* mirror = new voxa::StateMirror();
  voxa::StateMirror& m = *mirror;
  {
    voxa::platform::Locked g(m.Lock());
    std::memset(m.Image(), 0, sizeof(uint32_t) * voxa::kImageWords);
    std::memset(m.Received(), 0, sizeof(uint32_t) * voxa::kImageWords);
    m.capture_index = static_cast<int32_t>(Word(h + 4));
    m.capture_count = static_cast<int32_t>(Word(h + 4) ^ 0x80000000u);
  }
  m.SetRegWord(voxa::CHIPSTATUS, 7, static_cast<uint32_t>(h[0]) << 8);
  m.SetRegWord(voxa::CHIPSET, 1, static_cast<uint32_t>(h[1]) << 8);
  for (int i = 0; i < 8; ++i) {
    m.SetRegWord(voxa::AXISSET, i, static_cast<uint32_t>(h[3]) << 16);
    m.SetRegWord(voxa::SLIMITL, i, Word(h + 8));
    m.SetRegWord(voxa::SLIMITH, i, Word(h + 12));
  }

  // Byte by byte.
  std::vector<Seen> one;
  voxa::FrameParser a;
  for (size_t k = 0; k < n; ++k) a.Feed(stream[k], [&](const voxa::RxFrame& f) { one.push_back(Record(f)); });

  // In blocks, dispatching each frame as the receive thread does.
  std::vector<Seen> blocks;
  voxa::FrameParser b;
  voxa::PacketCounters counters;
  Events ev;
  const size_t block = h[2] == 0 ? (n == 0 ? 1 : n) : h[2];
  for (size_t at = 0; at < n; at += block) {
    const size_t len = n - at < block ? n - at : block;
    b.FeedBlock(stream + at, len, [&](const voxa::RxFrame& f) {
      blocks.push_back(Record(f));
      const int result = voxa::DispatchFrame(m, counters, &ev, f);
      if (result != 0 && result != 1) std::abort();
    });
  }
  std::vector<Seen> plain;
  const int end_state = Reference(stream, n, plain);
  if (a.state() != end_state || b.state() != end_state) std::abort();
  if (one.size() != plain.size() || blocks.size() != plain.size()) std::abort();
  for (size_t k = 0; k < one.size(); ++k)
    if (!Same(one[k], plain[k]) || !Same(blocks[k], plain[k])) std::abort();

  // The simulated board frames the stream the same way until a frame fails
  // its checksum.
  voxa_sim::FrameParser s;
  size_t at = 0;
  for (size_t k = 0; k < n && s.ChecksumErrors() == 0; ++k) {
    if (!s.Feed(stream[k])) continue;
    if (at >= one.size() || s.Raw() != one[at].bytes) std::abort();
    ++at;
  }
  if (s.ChecksumErrors() == 0 && at != one.size()) std::abort();

  {
    voxa::platform::Locked g(m.Lock());
    const int32_t index = m.capture_index;
    if (index != static_cast<int32_t>(Word(h + 4)) && (index < 0 || index >= voxa::StateMirror::kCaptureEntries))
      std::abort();
  }
  if (counters.complete.load() != ev.completes || counters.event.load() != ev.events) std::abort();
  return 0;
}
