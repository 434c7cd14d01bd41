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
// the same frames; every frame has a good checksum and fits its buffer; the
// simulated board's parser sees the same frames; the capture index stays in
// the ring.
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
  for (size_t k = 0; k < n; ++k)
    if (a.Feed(stream[k])) one.push_back(Record(a.frame()));

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
  if (a.state() != b.state() || one.size() != blocks.size()) std::abort();
  for (size_t k = 0; k < one.size(); ++k)
    if (!Same(one[k], blocks[k])) std::abort();

  // The simulated board frames the same stream the same way.
  voxa_sim::FrameParser s;
  size_t at = 0;
  for (size_t k = 0; k < n; ++k) {
    if (!s.Feed(stream[k])) continue;
    if (at >= one.size() || s.Raw() != one[at].bytes) std::abort();
    ++at;
  }
  if (at != one.size()) std::abort();

  {
    voxa::platform::Locked g(m.Lock());
    const int32_t index = m.capture_index;
    if (index != static_cast<int32_t>(Word(h + 4)) && (index < 0 || index >= voxa::StateMirror::kCaptureEntries))
      std::abort();
  }
  if (counters.complete.load() != ev.completes || counters.event.load() != ev.events) std::abort();
  return 0;
}
