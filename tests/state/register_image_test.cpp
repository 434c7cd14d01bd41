#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "state/state_mirror.h"

namespace voxa {
namespace {

TEST(RegisterImage, OperationsAndTheirResults) {
  StateMirror m;
  for (int r = 0; r < kRegisters; ++r)
    for (int i = 0; i < kWords; ++i) ASSERT_EQ(m.GetRegWord(r, i), 0u);
  m.SetRegWord(CHIPSET, 0, 0x20000701);
  m.SetRegField(CHIPSET, 0, 0x700, 0x300);
  EXPECT_EQ(m.GetRegWord(CHIPSET, 0), 0x20000301u);
  m.SetRegField(CHIPSET, 0, 0x700, 0xFFFFFFFF);  // bits outside the field are dropped
  EXPECT_EQ(m.GetRegWord(CHIPSET, 0), 0x20000701u);
  m.OrRegBits(AXISSET, 3, 0x40000);
  EXPECT_EQ(m.TestRegBits(AXISSET, 3, 0x40000), 0x40000u);  // the bits, not 1
  EXPECT_EQ(m.TestRegBits(AXISSET, 3, 0x80000), 0u);
  m.ClrRegBits(AXISSET, 3, 0x40000);
  EXPECT_EQ(m.GetRegWord(AXISSET, 3), 0u);
  EXPECT_STREQ(reinterpret_cast<const char*>(RegisterName(CUSTOM)), "CUSTOM");
  EXPECT_EQ(std::u16string(RegisterDisplayName(1)), u"[R01]: CHIPSTATUS");
  EXPECT_EQ(RegisterDisplayName(32), nullptr);
}

TEST(RegisterImage, ConcurrentBitChangesLoseNoUpdate) {
  StateMirror m;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&m, t] {
      for (int k = 0; k < 20000; ++k) {
        const uint32_t bit = 1u << (t * 8 + (k % 8));
        m.OrRegBits(CHIPSET, 0, bit);
        m.ClrRegBits(CHIPSET, 0, bit);
        m.OrRegBits(CHIPSET, 0, bit);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(m.GetRegWord(CHIPSET, 0), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace voxa
