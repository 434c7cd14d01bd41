// The simulated board's frame parser, command decoder and data units,
// on byte sequences worked out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "codec.h"

using namespace voxa_sim;
using Bytes = std::vector<uint8_t>;

namespace {

// Feeds bytes; returns the raw frames completed.
std::vector<Bytes> Parse(FrameParser& p, const Bytes& in) {
  std::vector<Bytes> out;
  for (uint8_t b : in)
    if (p.Feed(b)) out.push_back(p.Raw());
  return out;
}

HostCommand Decode(const Bytes& frame) {
  FrameParser p;
  auto frames = Parse(p, frame);
  EXPECT_EQ(frames.size(), 1u);
  HostCommand c;
  DecodeCommand(p.Body(), p.BodySize(), &c);
  return c;
}

}  // namespace

TEST(SimParser, HeartbeatFrameIsAccepted) {
  FrameParser p;
  auto f = Parse(p, {0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B});
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(p.Length(), 4);
  EXPECT_EQ(p.BodySize(), 2);
  EXPECT_EQ(p.Body()[0], 0x09);
}

TEST(SimParser, RepeatedStartBytesAreIgnored) {
  FrameParser p;
  EXPECT_EQ(Parse(p, {0xFE, 0xFE, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}).size(), 1u);
}

TEST(SimParser, StartByteInIdPositionRestarts) {
  FrameParser p;
  auto f = Parse(p, {0xFE, 0x04, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B});
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], (Bytes{0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}));
}

TEST(SimParser, BadChecksumIsDroppedAndNextFrameAccepted) {
  FrameParser p;
  auto f = Parse(p, {0xFE, 0x04, 0x00, 0x09, 0x00, 0x0C, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B});
  EXPECT_EQ(f.size(), 1u);
  EXPECT_EQ(p.ChecksumErrors(), 1u);
}

TEST(SimParser, LengthBit7CountsInTheChecksum) {
  FrameParser p;
  // L = 0x84: n = 4, the sum includes 0x84.
  EXPECT_EQ(Parse(p, {0xFE, 0x84, 0x00, 0x09, 0x00, 0x8B}).size(), 1u);
  EXPECT_EQ(Parse(p, {0xFE, 0x84, 0x00, 0x09, 0x00, 0x0B}).size(), 0u);
}

TEST(SimParser, ShortLengthDropsTheFrameAtOnce) {
  for (uint8_t len : {0x01, 0x81, 0x00}) {
    FrameParser p;
    auto f = Parse(p, {0xFE, len, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B});
    EXPECT_EQ(f.size(), 1u) << int(len);
    EXPECT_EQ(p.LengthErrors(), 1u);
  }
}

TEST(SimParser, BodyMayContainStartBytes) {
  uint32_t words[8] = {0xFEFEFEFE, 0, 0, 0, 0, 0, 0, 0};
  Bytes frame = HostWrite(CAL0, 0x01, words, false, 0xFE);
  FrameParser p;
  ASSERT_EQ(Parse(p, frame).size(), 1u);
  HostCommand c;
  ASSERT_TRUE(DecodeCommand(p.Body(), p.BodySize(), &c));
  EXPECT_EQ(c.values[0], 0xFEFEFEFEu);
}

TEST(SimParser, JunkBeforeAFrameIsSkipped) {
  FrameParser p;
  EXPECT_EQ(Parse(p, {0x00, 0x13, 0x37, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}).size(), 1u);
  EXPECT_EQ(p.JunkBytes(), 3u);
}

TEST(SimDecode, ResetWithoutTag) {
  // FE 03 00 00 01: the reset command 0x00 without tag.
  HostCommand c = Decode({0xFE, 0x03, 0x00, 0x00, 0x01});
  EXPECT_EQ(c.kind, CmdKind::kSystem);
  EXPECT_EQ(c.code, 0x00);
  EXPECT_FALSE(c.HasTag());
  EXPECT_EQ(c.Tag(), kNoTag);
}

TEST(SimDecode, KeepAliveWithTag) {
  Bytes f = HostSystem(0x89, 0xFD);
  EXPECT_EQ(f.size(), 6u);
  HostCommand c = Decode(f);
  EXPECT_EQ(c.kind, CmdKind::kSystem);
  EXPECT_TRUE(c.immediate);
  EXPECT_EQ(c.code, 0x09);
  EXPECT_EQ(c.tag, 0xFD);
}

TEST(SimDecode, DriveVelWriteWithRepeatedValueDropped) {
  // FE 09 00 33 03 21 E8 03 00 00 cs: DRIVEVEL, mask 0x03, one value 1000.
  Bytes f{0xFE, 0x09, 0x00, 0x33, 0x03, 0x21, 0xE8, 0x03, 0x00, 0x00};
  f.push_back(Checksum(f.data(), f.size()));
  HostCommand c = Decode(f);
  EXPECT_EQ(c.kind, CmdKind::kRegisterWrite);
  EXPECT_EQ(c.reg, DRIVEVEL);
  EXPECT_EQ(c.mask, 0x03);
  EXPECT_EQ(c.count, 1);
  EXPECT_EQ(c.width, 4);
  EXPECT_FALSE(c.HasTag());
  uint32_t v = 0;
  ASSERT_TRUE(c.WordValue(1, &v));
  EXPECT_EQ(v, 1000u);
  EXPECT_FALSE(c.WordValue(2, &v));

  uint32_t words[8] = {1000, 1000};
  EXPECT_EQ(HostWrite(DRIVEVEL, 0x03, words, false), f);
  words[1] = 2000;
  Bytes two = HostWrite(DRIVEVEL, 0x03, words, false);
  EXPECT_EQ(two[1], 13);  // n = 2, L = 13
}

TEST(SimDecode, TagPresenceFollowsTheLength) {
  uint32_t words[8] = {5, 6, 7};
  HostCommand w = Decode(HostWrite(CAL0, 0x07, words, true, 0x22));
  EXPECT_EQ(w.kind, CmdKind::kRegisterWrite);
  EXPECT_TRUE(w.immediate);
  EXPECT_EQ(w.count, 3);
  EXPECT_EQ(w.tag, 0x22);

  HostCommand a = Decode(HostAction(0x5B, 0x03, 7));
  EXPECT_EQ(a.kind, CmdKind::kAction);
  EXPECT_EQ(a.mask, 0x03);
  EXPECT_EQ(a.tag, 7);
  EXPECT_FALSE(Decode(HostAction(0x5B, 0x03)).HasTag());

  HostCommand r = Decode(HostRead(CURPOS, 0xFF, true, 0xFD));
  EXPECT_EQ(r.kind, CmdKind::kReadRequest);
  EXPECT_EQ(r.reg, CURPOS);
  EXPECT_EQ(r.descriptor, 0x28);
  EXPECT_EQ(r.tag, 0xFD);
  EXPECT_FALSE(Decode(HostRead(CURPOS, 0xFF, true)).HasTag());
}

TEST(SimDecode, MalformedBodiesAreRejected) {
  HostCommand c;
  const uint8_t sys3[] = {0x09, 0xFD, 0x00};
  EXPECT_FALSE(DecodeCommand(sys3, 3, &c));
  const uint8_t act1[] = {0x5B};
  EXPECT_FALSE(DecodeCommand(act1, 1, &c));
  const uint8_t width3[] = {0x1F, 0x01, 0x31, 1, 2, 3, 4};
  EXPECT_FALSE(DecodeCommand(width3, 7, &c));
  const uint8_t short_write[] = {0x1F, 0x01, 0x21, 1, 2};
  EXPECT_FALSE(DecodeCommand(short_write, 5, &c));
  EXPECT_FALSE(DecodeCommand(nullptr, 0, &c));
  EXPECT_EQ(c.kind, CmdKind::kInvalid);
}

TEST(SimUnits, RepeatRuleFillsLaterWordsWithTheLastValue) {
  uint32_t w[8] = {};
  const uint32_t v[] = {0xA, 0xB};
  ApplyUnit(w, 0x0F, 4, false, v, 2);
  EXPECT_EQ(w[0], 0xAu);
  EXPECT_EQ(w[1], 0xBu);
  EXPECT_EQ(w[2], 0xBu);
  EXPECT_EQ(w[3], 0xBu);
  EXPECT_EQ(w[4], 0u);
}

TEST(SimUnits, WidthAndDeltaRules) {
  uint32_t w[8] = {0x5678, 0x5678, 0x5678};
  const uint32_t a[] = {0x12};
  ApplyUnit(w, 0x01, 1, false, a, 1);
  EXPECT_EQ(w[0], 0x5612u);
  ApplyUnit(w, 0x02, 1, true, a, 1);
  EXPECT_EQ(w[1], 0x568Au);
  const uint32_t m[] = {0xFFFF};
  ApplyUnit(w, 0x04, 2, true, m, 1);
  EXPECT_EQ(w[2], 0x5677u);
}

TEST(SimUnits, StatePacketBytes) {
  // FE 0E 00 0B 04 03 22 64 00 00 00 9C FF FF FF 3D
  uint32_t cur[8] = {100, static_cast<uint32_t>(-100)};
  Bytes body{kState, 0x04};
  AppendUnit(&body, 0x03, cur, 4, false);
  EXPECT_EQ(BuildFrame(body),
            (Bytes{0xFE, 0x0E, 0x00, 0x0B, 0x04, 0x03, 0x22, 0x64, 0, 0, 0, 0x9C, 0xFF, 0xFF, 0xFF, 0x3D}));
}

TEST(SimUnits, ReadReplyBytes) {
  // FE 0D 00 1C 05 22 10 27 00 00 20 4E 00 00 F3
  uint32_t cur[8] = {10000, 0, 20000};
  Bytes body{0x1C};
  AppendUnit(&body, 0x05, cur, 4, true);
  EXPECT_EQ(BuildFrame(body),
            (Bytes{0xFE, 0x0D, 0x00, 0x1C, 0x05, 0x22, 0x10, 0x27, 0, 0, 0x20, 0x4E, 0, 0, 0xF3}));
}

TEST(SimUnits, TrailingRepeatsAreDroppedAndEmptyMaskIsOneByte) {
  uint32_t w[8] = {7, 7, 7, 7, 7, 7, 7, 7};
  Bytes out;
  AppendUnit(&out, 0xFF, w, 4, false);
  EXPECT_EQ(out, (Bytes{0xFF, 0x21, 7, 0, 0, 0}));
  out.clear();
  AppendUnit(&out, 0x00, w, 4, false);
  EXPECT_EQ(out, (Bytes{0x00}));
}
