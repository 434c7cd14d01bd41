// Frames as they go on the wire, from the builder alone.
#include <gtest/gtest.h>

#include <vector>

#include "controller/frame.h"
#include "controller/soft_queue.h"

namespace voxa {
namespace {

std::vector<uint8_t> Wire(const FrameBuffer& f) {
  std::vector<uint8_t> w(f.bytes, f.bytes + f.size_without_checksum());
  w.push_back(FrameChecksum(w.data(), w.size()));
  return w;
}

TEST(FrameBuilder, SystemCommandsWithAndWithoutTag) {
  FrameBuffer f;
  ASSERT_TRUE(BuildSystemCommand(f, 0, 0x00, kNoTag));
  EXPECT_EQ(Wire(f), (std::vector<uint8_t>{0xFE, 0x03, 0x00, 0x00, 0x01}));
  ASSERT_TRUE(BuildSystemCommand(f, 0, 0x88, kTagSystem));
  auto w = Wire(f);
  ASSERT_EQ(w.size(), 6u);
  EXPECT_EQ(w[1], 0x04);
  EXPECT_EQ(w[4], 0xD3);
}

TEST(FrameBuilder, RegisterWriteDropsTrailingRepeats) {
  FrameBuffer f;
  uint32_t v[8] = {1000, 1000, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(BuildRegisterWrite(f, 0, 0x33, 0x03, kWidth4, kNoTag, v));
  auto w = Wire(f);
  EXPECT_EQ(w, (std::vector<uint8_t>{0xFE, 0x09, 0x00, 0x33, 0x03, 0x21, 0xE8, 0x03, 0x00, 0x00,
                                     static_cast<uint8_t>(0xFE + 0x09 + 0x33 + 0x03 + 0x21 + 0xE8 + 0x03)}));
  v[1] = 2000;
  ASSERT_TRUE(BuildRegisterWrite(f, 0, 0x33, 0x03, kWidth4, kNoTag, v));
  EXPECT_EQ(f.length(), 13);
  EXPECT_EQ(f.bytes[5], 0x22);
  // Only a trailing run is dropped: A, A, B keeps all three.
  uint32_t u[8] = {5, 5, 6, 0, 0, 0, 0, 0};
  ASSERT_TRUE(BuildRegisterWrite(f, 0, 0x11, 0x07, kWidth4, 0x12, u));
  EXPECT_EQ(f.bytes[5], 0x23);
  EXPECT_EQ(f.length(), 5 + 12 + 1);
  EXPECT_EQ(f.bytes[f.length()], 0x12);  // the tag is the last payload byte
}

TEST(FrameBuilder, NarrowWidthsMaskTheImageValues) {
  FrameBuffer f;
  uint32_t v[8] = {0x12345678, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(BuildRegisterWrite(f, 0, 0x11, 0x01, kWidth2, kNoTag, v));
  EXPECT_EQ(f.bytes[5], 0x11);
  EXPECT_EQ(f.bytes[6], 0x78);
  EXPECT_EQ(f.bytes[7], 0x56);
  EXPECT_EQ(f.length(), 7);
}

TEST(FrameBuilder, RefusesEmptyMasksAndBadWidths) {
  FrameBuffer f;
  uint32_t v[8] = {};
  EXPECT_FALSE(BuildRegisterWrite(f, 0, 0x11, 0x00, kWidth4, kNoTag, v));
  EXPECT_FALSE(BuildRegisterWrite(f, 0, 0x11, 0x01, 0x30, kNoTag, v));
  EXPECT_FALSE(BuildReadRequest(f, 0, 0x10, 0x00, kWidth4, kNoTag));
  ASSERT_TRUE(BuildReadRequest(f, 0, 0x90, 0xFF, kWidth4, kTagPoll));
  EXPECT_EQ(Wire(f), (std::vector<uint8_t>{0xFE, 0x06, 0x00, 0x90, 0xFF, 0x28, 0xFD,
                                           static_cast<uint8_t>(0xFE + 0x06 + 0x90 + 0xFF + 0x28 + 0xFD)}));
}

TEST(SoftQueue, FramesComeOutWholeAndInOrderAcrossTheWrap) {
  SoftQueue q;
  ASSERT_EQ(q.Allocate(600), 1);
  EXPECT_EQ(q.Allocate(600), 0);  // storage already held
  FrameBuffer f;
  uint8_t out[kFrameBufferSize];
  // Push and pop enough frames to wrap the 600-byte ring several times.
  for (int k = 0; k < 200; ++k) {
    BuildActionCommand(f, 0, 0x5B, static_cast<uint8_t>(k), kNoTag);
    ASSERT_EQ(q.Push(&f.bytes[1]), 1);
    ASSERT_EQ(q.frames(), 1);
    ASSERT_EQ(q.Pop(out, sizeof out), 4);
    EXPECT_EQ(out[2], 0x5B);
    EXPECT_EQ(out[3], static_cast<uint8_t>(k));
  }
  // A frame that would leave 256 bytes or less free is refused.
  int pushed = 0;
  while (q.Push(&f.bytes[1])) ++pushed;
  EXPECT_EQ(pushed, 85);  // while free bytes stay above the frame length plus 256
  q.Clear();
  EXPECT_EQ(q.frames(), 0);
  EXPECT_EQ(q.Pop(out, sizeof out), 0);
}

}  // namespace
}  // namespace voxa
