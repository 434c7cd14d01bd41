// voxactl's showing of traced frames: the descriptions, the poll filter and
// the configuration writes.
#include "frame_text.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace voxactl {
namespace {

// FE, L, id 0, body, checksum.
std::vector<uint8_t> Frame(std::initializer_list<uint8_t> body) {
  std::vector<uint8_t> f;
  f.reserve(body.size() + 4);
  f.push_back(0xFE);
  f.push_back(static_cast<uint8_t>(body.size() + 2));
  f.push_back(0x00);
  for (uint8_t b : body) f.push_back(b);
  uint8_t sum = 0;
  for (uint8_t b : f) sum = static_cast<uint8_t>(sum + b);
  f.push_back(sum);
  return f;
}

std::string Describe(int direction, const std::vector<uint8_t>& f) {
  return DescribeFrame(direction, f.data(), static_cast<int>(f.size()));
}

TEST(FrameText, DescribesCommandsWithTheirOperandsAndTags) {
  const auto drivevel = Frame({0x33, 0x03, 0x21, 0xE8, 0x03, 0x00, 0x00});
  EXPECT_EQ(HexBytes(drivevel.data(), static_cast<int>(drivevel.size())), "FE 09 00 33 03 21 E8 03 00 00 49");
  EXPECT_EQ(Describe(kSent, drivevel), "Write DRIVEVEL mask=03 values=1000");
  EXPECT_EQ(Describe(kSent, Frame({0x9F, 0x03, 0x22, 0x64, 0, 0, 0, 0x9C, 0xFF, 0xFF, 0xFF, 0x05})),
            "Write CAL0 imm mask=03 values=100,-100 tag=05");
  EXPECT_EQ(Describe(kSent, Frame({0x5B, 0x03, 0x07})), "Line mask=03 tag=07");
  EXPECT_EQ(Describe(kSent, Frame({0xD0, 0x00, 0xD3})), "ImStop imm mask=00 tag=D3");
  EXPECT_EQ(Describe(kSent, Frame({0x89, 0xFD})), "KeepAlive imm tag=FD");
  EXPECT_EQ(Describe(kSent, Frame({0x92, 0xFF, 0x28, 0xFD})), "Read CHIPSTATUS imm mask=FF tag=FD");
  EXPECT_EQ(Describe(kSent, Frame({0x0F})), "System 0F");
  EXPECT_EQ(Describe(kSent, Frame({0x7E, 0x01})), "Action 7E mask=01");
  // A write whose descriptor promises more values than the frame holds.
  EXPECT_EQ(Describe(kSent, Frame({0x33, 0x03, 0x22, 0xE8, 0x03})), "Write DRIVEVEL (malformed)");
  const std::vector<uint8_t> truncated{0xFE, 0x09, 0x00, 0x33};
  EXPECT_EQ(DescribeFrame(kSent, truncated.data(), 4), "(short frame)");
}

TEST(FrameText, DescribesPacketsAndTellsPollTrafficApart) {
  const std::vector<uint8_t> heartbeat{0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B};
  EXPECT_EQ(Describe(kReceived, heartbeat), "Heartbeat");
  EXPECT_TRUE(IsPollTraffic(kReceived, heartbeat.data(), 6));
  EXPECT_EQ(Describe(kReceived, Frame({0x0E, 0x07, 0, 0, 0})), "Complete id=7");
  EXPECT_EQ(Describe(kReceived, Frame({0x8B, 0x1F})), "State mask=1F");

  const auto polled = Frame({0x1C, 0x05, 0x22, 0x10, 0x27, 0, 0, 0x20, 0x4E, 0, 0, 0xFD});
  EXPECT_EQ(Describe(kReceived, polled), "Reply CURPOS mask=05 values=10000,20000 tag=FD");
  EXPECT_TRUE(IsPollTraffic(kReceived, polled.data(), static_cast<int>(polled.size())));
  const auto untagged = Frame({0x1C, 0x05, 0x22, 0x10, 0x27, 0, 0, 0x20, 0x4E, 0, 0});
  EXPECT_FALSE(IsPollTraffic(kReceived, untagged.data(), static_cast<int>(untagged.size())));
  const auto keepalive = Frame({0x89, 0xFD});
  EXPECT_TRUE(IsPollTraffic(kSent, keepalive.data(), static_cast<int>(keepalive.size())));
  const auto line = Frame({0x5B, 0x03, 0x07});
  EXPECT_FALSE(IsPollTraffic(kSent, line.data(), static_cast<int>(line.size())));
}

TEST(FrameText, ConfigurationWritesAreThoseTaggedForALoad) {
  const auto load = Frame({0xCF, 0x01, 0x21, 0x01, 0x02, 0x03, 0x04, 0xE6});
  EXPECT_TRUE(IsConfigWrite(load.data(), static_cast<int>(load.size())));
  const auto setter = Frame({0xCF, 0x01, 0x21, 0x01, 0x02, 0x03, 0x04, 0xFE - 1});
  EXPECT_FALSE(IsConfigWrite(setter.data(), static_cast<int>(setter.size())));
  // An untagged write whose last value byte happens to be E6.
  const auto untagged = Frame({0xCF, 0x01, 0x21, 0x01, 0x02, 0x03, 0xE6});
  EXPECT_FALSE(IsConfigWrite(untagged.data(), static_cast<int>(untagged.size())));
}

}  // namespace
}  // namespace voxactl
