// The receive path fed from byte arrays: framing, resynchronisation,
// dispatch and the decoders, with no thread and no socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "state/receive.h"

namespace voxa {
namespace {

struct Recorder : ReceiveEvents {
  std::vector<uint32_t> completes, events;
  std::vector<std::pair<int, int>> replies;  // register, tag
  void OnComplete(uint32_t p) override { completes.push_back(p); }
  void OnEventPacket(uint32_t p) override { events.push_back(p); }
  void OnReadReply(int r, int tag) override { replies.emplace_back(r, tag); }
};

// Feeds bytes; returns how many frames completed, dispatching each.
struct Rx {
  StateMirror m;
  PacketCounters c;
  Recorder ev;
  FrameParser parser;
  std::vector<int> results;
  int Feed(const std::vector<uint8_t>& bytes) {
    int frames = 0;
    for (uint8_t b : bytes)
      parser.FeedBlock(&b, 1, [&](const RxFrame& f) {
        ++frames;
        results.push_back(DispatchFrame(m, c, &ev, f));
      });
    return frames;
  }
  uint32_t img(int r, int i) { return m.GetRegWord(r, i); }
  uint32_t rec(int r, int i) {
    platform::Locked g(m.Lock());
    return m.Received()[r * 8 + i];
  }
};

std::vector<uint8_t> Frame(const std::vector<uint8_t>& body) {  // body: type, payload, tag
  std::vector<uint8_t> f;
  f.reserve(body.size() + 4);
  f.push_back(0xFE);
  f.push_back(static_cast<uint8_t>(body.size() + 2));
  f.push_back(0x00);
  for (uint8_t b : body) f.push_back(b);
  unsigned s = 0;
  for (uint8_t b : f) s += b;
  f.push_back(static_cast<uint8_t>(s));
  return f;
}

TEST(Framing, HeartbeatAndResynchronisation) {
  Rx rx;
  EXPECT_EQ(rx.Feed({0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}), 1);
  EXPECT_EQ(rx.c.heartbeat.load(), 1u);
  // Repeated start bytes while waiting for the length are ignored.
  EXPECT_EQ(rx.Feed({0xFE, 0xFE, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}), 1);
  // A start byte where the controller id belongs restarts the frame.
  EXPECT_EQ(rx.Feed({0xFE, 0x04, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}), 1);
  EXPECT_EQ(rx.c.heartbeat.load(), 3u);
  // Junk before a frame is dropped.
  EXPECT_EQ(rx.Feed({0x00, 0x12, 0x77, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}), 1);
  EXPECT_EQ(rx.c.heartbeat.load(), 4u);
}

TEST(Framing, BadChecksumDropsOnlyThatFrame) {
  Rx rx;
  EXPECT_EQ(rx.Feed({0xFE, 0x04, 0x00, 0x09, 0x00, 0x0C, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}), 1);
  EXPECT_EQ(rx.c.heartbeat.load(), 1u);
}

// Junk that begins with a start byte opens a frame that swallows what
// follows; when it fails, the frames among the bytes it took are found.
TEST(Framing, JunkStartingWithAStartByteCostsNoFollowingFrame) {
  const std::vector<uint8_t> heartbeat{0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B};
  const std::vector<std::vector<uint8_t>> junk = {
      {0xFE, 0x05, 0x11},              // fails inside the next frame
      {0xFE, 0x7F, 0x00},              // takes the next 21 frames with it
      {0xFE, 0x40, 0x00, 0xFE, 0x06},  // a second failure among the bytes taken again
      {0xFE, 0x04, 0x00, 0x09, 0x00},  // a frame cut short: the next start is its checksum
  };
  for (const auto& j : junk) {
    Rx rx;
    std::vector<uint8_t> stream = j;
    for (int k = 0; k < 30; ++k) stream.insert(stream.end(), heartbeat.begin(), heartbeat.end());
    for (size_t block : {size_t{1}, size_t{5}, stream.size()}) {
      const uint32_t before = rx.c.heartbeat.load();
      for (size_t k = 0; k < stream.size(); k += block)
        rx.parser.FeedBlock(stream.data() + k, std::min(block, stream.size() - k),
                            [&](const RxFrame& f) { DispatchFrame(rx.m, rx.c, &rx.ev, f); });
      EXPECT_EQ(rx.c.heartbeat.load() - before, 30u) << "junk of " << j.size() << " bytes, blocks of " << block;
      rx.parser.Reset();
    }
  }
}

TEST(Framing, LengthByteBit7IsInTheChecksumButNotTheLength) {
  Rx rx;
  // 0x84: n = 4, checksum over 0x84.
  EXPECT_EQ(rx.Feed({0xFE, 0x84, 0x00, 0x09, 0x00, 0x8B}), 1);
  EXPECT_EQ(rx.Feed({0xFE, 0x84, 0x00, 0x09, 0x00, 0x0B}), 0);
  // Lengths 1 and 0x81 drop the frame at once; the next start is taken.
  EXPECT_EQ(rx.Feed({0xFE, 0x01, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}), 1);
  EXPECT_EQ(rx.Feed({0xFE, 0x81, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}), 1);
  EXPECT_EQ(rx.c.heartbeat.load(), 3u);
}

TEST(Framing, BlockFeedingFindsTheSameFramesAsByteFeeding) {
  // Frames mixed with junk, corrupted checksums and stray start bytes, fed
  // byte by byte and in blocks of every size.
  std::vector<uint8_t> stream;
  uint32_t seed = 12345;
  auto rnd = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0xFF; };
  for (int k = 0; k < 300; ++k) {
    std::vector<uint8_t> body{static_cast<uint8_t>(rnd() % 40)};
    const int len = static_cast<int>(rnd() % 20);
    for (int q = 0; q < len; ++q) body.push_back(static_cast<uint8_t>(rnd()));
    auto f = Frame(body);
    if (rnd() % 7 == 0) f.back() ^= 1;
    stream.insert(stream.end(), f.begin(), f.end());
    if (rnd() % 5 == 0) stream.push_back(static_cast<uint8_t>(rnd()));
    if (rnd() % 9 == 0) stream.push_back(0xFE);
  }
  std::vector<std::vector<uint8_t>> by_byte;
  FrameParser one;
  for (uint8_t b : stream)
    one.FeedBlock(&b, 1, [&](const RxFrame& f) { by_byte.emplace_back(f.bytes, f.bytes + f.n + 1); });
  ASSERT_GT(by_byte.size(), 200u);
  for (size_t block : {1u, 2u, 3u, 7u, 64u, 4096u}) {
    FrameParser p;
    std::vector<std::vector<uint8_t>> got;
    for (size_t k = 0; k < stream.size(); k += block)
      p.FeedBlock(stream.data() + k, std::min(block, stream.size() - k),
                  [&](const RxFrame& f) { got.emplace_back(f.bytes, f.bytes + f.n + 1); });
    EXPECT_EQ(got, by_byte) << "block size " << block;
  }
}

TEST(Dispatch, TypesWithoutHandlerAndTheImmediateBit) {
  Rx rx;
  for (uint8_t t : {3, 8, 17, 79, 80, 127}) rx.Feed(Frame({t, 0x00}));
  for (int r : rx.results) EXPECT_EQ(r, 0);
  rx.results.clear();
  // 0x8B is dispatched as type 11 (a state packet with an empty mask).
  rx.Feed(Frame({0x8B, 0x00}));
  ASSERT_EQ(rx.results.size(), 1u);
  EXPECT_EQ(rx.results[0], 1);
}

TEST(Dispatch, ShortFramesNeverHandOnStaleBytes) {
  Rx rx;
  // Leave bytes 4..7 = 07 00 00 00 in the buffer with a complete packet.
  rx.Feed(Frame({14, 0x07, 0x00, 0x00, 0x00}));
  ASSERT_EQ(rx.ev.completes.size(), 1u);
  EXPECT_EQ(rx.ev.completes[0], 7u);
  // A complete packet with no payload: the missing bytes count as zero.
  rx.Feed(Frame({14}));
  ASSERT_EQ(rx.ev.completes.size(), 2u);
  EXPECT_EQ(rx.ev.completes[1], 0u);
  // A frame with no type byte at all is dropped.
  rx.results.clear();
  rx.Feed({0xFE, 0x02, 0x00, 0x00});
  ASSERT_EQ(rx.results.size(), 1u);
  EXPECT_EQ(rx.results[0], 0);
  EXPECT_EQ(rx.c.complete.load(), 2u);
}

TEST(Dispatch, BusyAndInterruptPacketsUpdateChipStatus) {
  Rx rx;
  rx.m.SetRegWord(CHIPSTATUS, 0, 0x12345678);
  rx.Feed(Frame({13, 0x40}));
  EXPECT_EQ(rx.img(CHIPSTATUS, 0), 0x12345641u);
  rx.Feed(Frame({15, 0xCD, 0xAB}));
  EXPECT_EQ(rx.img(CHIPSTATUS, 0), 0x1234ABCDu);
  EXPECT_EQ(rx.c.busy.load(), 1u);
  EXPECT_EQ(rx.c.interrupt.load(), 1u);
  rx.Feed(Frame({10, 0x11, 0x22, 0x33, 0x44}));
  ASSERT_EQ(rx.ev.events.size(), 1u);
  EXPECT_EQ(rx.ev.events[0], 0x44332211u);
}

TEST(StatePacket, AbsoluteDeltaAndRepeatedValues) {
  Rx rx;
  rx.m.SetRegWord(CURPOS, 5, 555);
  EXPECT_EQ(rx.Feed({0xFE, 0x0E, 0x00, 0x0B, 0x04, 0x03, 0x22, 0x64, 0x00, 0x00, 0x00, 0x9C, 0xFF, 0xFF, 0xFF, 0x3D}), 1);
  EXPECT_EQ(rx.img(CURPOS, 0), 100u);
  EXPECT_EQ(static_cast<int32_t>(rx.img(CURPOS, 1)), -100);
  EXPECT_EQ(static_cast<int32_t>(rx.rec(CURPOS, 1)), -100);
  EXPECT_EQ(rx.img(CURPOS, 5), 555u);
  // One delta unit of -2 applied to all eight words of both images.
  EXPECT_EQ(rx.Feed({0xFE, 0x07, 0x00, 0x0B, 0x04, 0xFF, 0x41, 0xFE, 0x52}), 1);
  EXPECT_EQ(rx.img(CURPOS, 0), 98u);
  EXPECT_EQ(rx.img(CURPOS, 5), 553u);
  EXPECT_EQ(static_cast<int32_t>(rx.rec(CURPOS, 7)), -2);
  // M = 0x0F with two values: A, B, B, B.
  rx.Feed(Frame({11, 0x08, 0x0F, 0x22, 1, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(rx.img(ENCPOS, 0), 1u);
  EXPECT_EQ(rx.img(ENCPOS, 1), 2u);
  EXPECT_EQ(rx.img(ENCPOS, 3), 2u);
  EXPECT_EQ(rx.img(ENCPOS, 4), 0u);
}

TEST(StatePacket, NarrowWidthsReplaceOrAddOnlyTheirBits) {
  Rx rx;
  rx.m.SetRegWord(CURVEL, 0, 0x5678);
  rx.Feed(Frame({11, 0x10, 0x01, 0x01, 0x12}));  // absolute 1-byte
  EXPECT_EQ(rx.img(CURVEL, 0), 0x5612u);
  rx.m.SetRegWord(CURVEL, 0, 0x5678);
  rx.Feed(Frame({11, 0x10, 0x01, 0x41, 0x12}));  // 1-byte delta
  EXPECT_EQ(rx.img(CURVEL, 0), 0x568Au);
  rx.m.SetRegWord(CURVEL, 0, 0x5678);
  rx.Feed(Frame({11, 0x10, 0x01, 0x51, 0xFF, 0xFF}));  // 2-byte delta of -1
  EXPECT_EQ(rx.img(CURVEL, 0), 0x5677u);
}

TEST(StatePacket, WholeAndTwoByteUnitsLandInBothImages) {
  Rx rx;
  // Eight 4-byte words (the common case), then 2-byte absolute values that
  // replace only the low half.
  std::vector<uint8_t> body{11, 0x04, 0xFF, 0x28};
  for (uint32_t i = 0; i < 8; ++i)
    for (int k = 0; k < 4; ++k) body.push_back(static_cast<uint8_t>((0x80706050u + i) >> (8 * k)));
  EXPECT_EQ(rx.Feed(Frame(body)), 1);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(rx.img(CURPOS, i), 0x80706050u + i);
    EXPECT_EQ(rx.rec(CURPOS, i), 0x80706050u + i);
  }
  EXPECT_EQ(rx.Feed(Frame({11, 0x04, 0x06, 0x11, 0x34, 0x12})), 1);
  EXPECT_EQ(rx.img(CURPOS, 0), 0x80706050u);
  EXPECT_EQ(rx.img(CURPOS, 1), 0x80701234u);
  EXPECT_EQ(rx.img(CURPOS, 2), 0x80701234u);
  EXPECT_EQ(rx.img(CURPOS, 3), 0x80706053u);
}

TEST(StatePacket, RejectionKeepsEarlierUnitsAndNeverReadsPastTheFrame) {
  Rx rx;
  // 0x20 announces GIO and EXTIO; only GIO is in the body.
  rx.Feed(Frame({11, 0x20, 0x01, 0x01, 0x0A}));
  ASSERT_EQ(rx.results.back(), 0);
  EXPECT_EQ(rx.img(GIO, 0), 0x0Au);
  // A unit whose values would run past byte n is rejected untouched.
  rx.Feed(Frame({11, 0x04, 0x01, 0x22, 0x01, 0x02}));
  EXPECT_EQ(rx.results.back(), 0);
  EXPECT_EQ(rx.img(CURPOS, 0), 0u);
  // Width code 3 and counts of 0 or 9 reject.
  for (uint8_t d : {0x31, 0x20, 0x29}) {
    rx.Feed(Frame({11, 0x04, 0x01, d, 1, 0, 0, 0}));
    EXPECT_EQ(rx.results.back(), 0);
  }
  // 0x80 alone selects nothing and is accepted.
  rx.Feed(Frame({11, 0x80}));
  EXPECT_EQ(rx.results.back(), 1);
}

TEST(StatePacket, CustomUnitFollowsChipsetWord1) {
  Rx rx;
  rx.m.SetRegField(CHIPSET, 1, 0x1F00, 17 << 8);
  rx.Feed(Frame({11, 0x40, 0x02, 0x01, 0x34}));
  EXPECT_EQ(rx.img(DRIVEVEL, 1), 0x34u);
}

TEST(ReadReply, CopyRulesPerRegister) {
  Rx rx;
  EXPECT_EQ(rx.Feed({0xFE, 0x0D, 0x00, 0x1C, 0x05, 0x22, 0x10, 0x27, 0x00, 0x00, 0x20, 0x4E, 0x00, 0x00, 0xF3}), 1);
  EXPECT_EQ(rx.img(CURPOS, 0), 10000u);
  EXPECT_EQ(rx.img(CURPOS, 2), 20000u);
  EXPECT_EQ(rx.img(CURPOS, 1), 0u);
  // DRIVEVEL replies reach only the received image.
  rx.m.SetRegWord(DRIVEVEL, 0, 7);
  rx.Feed(Frame({0x32, 0x01, 0x21, 0x10, 0x27, 0x00, 0x00}));
  EXPECT_EQ(rx.img(DRIVEVEL, 0), 7u);
  EXPECT_EQ(rx.rec(DRIVEVEL, 0), 10000u);
  // GIO: words 0..3 are copied, 4..7 stay in the received image.
  rx.Feed(Frame({16 + 2 * GIO, 0xFF, 0x21, 9, 0, 0, 0}));
  EXPECT_EQ(rx.img(GIO, 3), 9u);
  EXPECT_EQ(rx.img(GIO, 4), 0u);
  EXPECT_EQ(rx.rec(GIO, 7), 9u);
  // Descriptor bit 7 rejects without any change.
  rx.Feed(Frame({0x1C, 0x01, 0xA1, 0x05}));
  EXPECT_EQ(rx.results.back(), 0);
  EXPECT_EQ(rx.img(CURPOS, 0), 10000u);
}

TEST(ReadReply, TheTagIsTheByteAfterTheValues) {
  Rx rx;
  rx.Feed(Frame({0x1C, 0x01, 0x21, 0xFC, 0, 0, 0, 0xFC}));  // tagged 0xFC
  rx.Feed(Frame({0x1C, 0x01, 0x21, 0, 0, 0, 0xFC}));        // untagged: 0xFC is a value byte
  rx.Feed(Frame({0x1C, 0x01, 0xA1, 0x05, 0xFC}));           // rejected: not told
  EXPECT_EQ(rx.ev.replies, (std::vector<std::pair<int, int>>{{CURPOS, 0xFC}, {CURPOS, -1}}));
}

TEST(ReadReply, CaptureRingFillsAndWraps) {
  Rx rx;
  EXPECT_EQ(rx.Feed({0xFE, 0x0A, 0x00, 0x22, 0x01, 0x21, 0x11, 0x22, 0x33, 0x44, 0xCB, 0xC1}), 1);
  {
    platform::Locked g(rx.m.Lock());
    EXPECT_EQ(rx.m.CaptureEntry(0)[0], 0x44332211u);
    EXPECT_EQ(rx.m.capture_index, 1);
    EXPECT_EQ(rx.m.capture_count, 1);
  }
  EXPECT_EQ(rx.img(CAL2, 0), 0u);
  // Without the capture tag only the received image changes.
  rx.Feed(Frame({0x22, 0x01, 0x21, 1, 0, 0, 0, 0x00}));
  {
    platform::Locked g(rx.m.Lock());
    EXPECT_EQ(rx.m.capture_count, 1);
  }
  for (int k = 1; k < 10000; ++k) rx.Feed(Frame({0x24, 0x02, 0x21, static_cast<uint8_t>(k), 0, 0, 0, 0xCB}));
  {
    platform::Locked g(rx.m.Lock());
    EXPECT_EQ(rx.m.capture_index, 0);
    EXPECT_EQ(rx.m.capture_count, 10000);
  }
  rx.Feed(Frame({0x24, 0x02, 0x21, 0x55, 0, 0, 0, 0xCB}));
  platform::Locked g(rx.m.Lock());
  EXPECT_EQ(rx.m.CaptureEntry(0)[1], 0x55u);
  EXPECT_EQ(rx.m.CaptureEntry(0)[0], 0x44332211u);  // other words of the entry kept
  EXPECT_EQ(rx.m.capture_index, 1);
}

TEST(OldEngine, LimitCheckAppliesUpTo205Only) {
  for (uint32_t version : {0x0205u << 0, 0x0206u}) {
    Rx rx;
    const uint32_t w7 = ((version >> 8) << 12) | ((version & 0xFF) << 8);
    rx.m.SetRegWord(CHIPSTATUS, 7, w7);
    for (int axis : {2, 5}) {
      rx.m.SetRegWord(AXISSET, axis, 0x40000);
      rx.m.SetRegWord(CURPOS, axis, static_cast<uint32_t>(-10));
      rx.m.SetRegWord(SLIMITL, axis, 0);
    }
    rx.Feed(Frame({12}));
    if (version == 0x0205) {
      EXPECT_EQ(rx.img(AXISSTATUS, 5), 0x90u);
      EXPECT_EQ(rx.img(CHIPSTATUS, 0), 0x800080u);
    } else {
      EXPECT_EQ(rx.img(AXISSTATUS, 5), 0u);
      EXPECT_EQ(rx.img(CHIPSTATUS, 0), 0u);
    }
    EXPECT_EQ(rx.img(AXISSTATUS, 2), 0u);
  }
}

}  // namespace
}  // namespace voxa
