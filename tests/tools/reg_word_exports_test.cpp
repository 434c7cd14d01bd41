// The register-word exports: any word of the register image by number,
// the setter writing it to the board like every setter, and the names.
#include <gtest/gtest.h>

#include <climits>

#include "api/board_table.h"
#include "sim.h"
#include "voxa/voxa.h"

namespace {

using namespace std::chrono_literals;
using voxa_sim::RxFrame;
using voxa_sim::SimBoard;

constexpr int CAL1 = 8;

bool IsWrite(const RxFrame& f) { return f.cmd.kind == voxa_sim::CmdKind::kRegisterWrite; }

TEST(RegWordExports, WriteTheImageWordToTheBoardByTheCommandMode) {
  uint32_t v = 7;
  // No board yet (as the library loads; an earlier test may have selected
  // one): the guard refuses.
  voxa::api::CurrentBoard().store(-1);
  EXPECT_EQ(VOXA_Get_RegWord(0, 0, &v), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_BOARD_ID);
  EXPECT_EQ(v, 7u);

  auto sim = SimBoard::StartTcp();
  ASSERT_GE(VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sim->Port(), 0), 0);
  const uint64_t from = sim->FrameCount();
  VOXA_Set_CmdID(9);
  VOXA_Enter_ImCmd();
  EXPECT_EQ(VOXA_Set_RegWord(CAL1, 2, 0xDEADBEEF), 1);
  VOXA_Leave_ImCmd();
  VOXA_Set_CmdID(0xFE);
  auto write = sim->WaitFrame([](const RxFrame& f) { return IsWrite(f) && f.cmd.reg == CAL1; }, 2s, from);
  ASSERT_TRUE(write.has_value());
  EXPECT_TRUE(write->cmd.immediate);
  EXPECT_EQ(write->cmd.mask, 0x04);
  EXPECT_EQ(write->cmd.values[0], 0xDEADBEEFu);
  EXPECT_EQ(write->cmd.tag, 9);  // the register-write tag
  EXPECT_EQ(VOXA_Get_RegWord(CAL1, 2, &v), 1);
  EXPECT_EQ(v, 0xDEADBEEFu);
  EXPECT_EQ(VOXA_Is_Err(), 0);
  VOXA_Close();
}

TEST(RegWordExports, RejectOutOfRangeNumbersAndANullValueSendingNothing) {
  auto sim = SimBoard::StartTcp();
  ASSERT_GE(VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sim->Port(), 0), 0);
  const uint64_t from = sim->FrameCount();
  uint32_t v = 0x55;
  const int bad[][2] = {{-1, 0}, {32, 0}, {INT_MIN, 0}, {INT_MAX, 0}, {0, -1}, {0, 8}, {0, INT_MIN}, {0, INT_MAX}};
  for (const auto& rw : bad) {
    EXPECT_EQ(VOXA_Set_RegWord(rw[0], rw[1], 1), 0) << rw[0] << "," << rw[1];
    EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
    EXPECT_EQ(VOXA_Get_RegWord(rw[0], rw[1], &v), 0);
    EXPECT_EQ(VOXA_Is_Err(), 1);
  }
  EXPECT_EQ(v, 0x55u);
  EXPECT_EQ(VOXA_Get_RegWord(0, 0, nullptr), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);

  // A good write after them is the only write the board gets.
  EXPECT_EQ(VOXA_Set_RegWord(CAL1, 7, 42), 1);
  ASSERT_TRUE(sim->WaitFrame([](const RxFrame& f) { return IsWrite(f) && f.cmd.reg == CAL1; }, 2s, from));
  const auto writes = sim->Frames(IsWrite, from);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].cmd.mask, 0x80);
  VOXA_Close();
}

TEST(RegWordExports, NamesNeedNoBoard) {
  const int err = VOXA_Is_Err();  // an earlier test's; the names leave it alone
  EXPECT_STREQ(VOXA_Get_RegName(0), "CHIPSET");
  EXPECT_STREQ(VOXA_Get_RegName(6), "CURPOS");
  EXPECT_STREQ(VOXA_Get_RegName(31), "CUSTOM");
  for (int r : {-1, 32, INT_MIN, INT_MAX}) EXPECT_EQ(VOXA_Get_RegName(r), nullptr) << r;
  EXPECT_EQ(VOXA_Is_Err(), err);
}

}  // namespace

TEST(RegWordExports, TheReportedWordIsTheBoardsNotTheHosts) {
  // A setting the board has but this host did not set (another program set
  // it): the image shows the host's value, the reported word the board's.
  auto sim = SimBoard::StartTcp();
  sim->SetReg(17, 0, 4321);
  ASSERT_GE(VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sim->Port(), 0), 0);
  ASSERT_EQ(VOXA_Refresh(1u << 17, 2000), 1);
  uint32_t reported = 0, image = 0;
  EXPECT_EQ(VOXA_Get_ReportedRegWord(17, 0, &reported), 1);
  EXPECT_EQ(reported, 4321u);
  EXPECT_EQ(VOXA_Get_RegWord(17, 0, &image), 1);
  EXPECT_NE(image, 4321u);
  EXPECT_EQ(VOXA_Get_ReportedRegWord(32, 0, &reported), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
  VOXA_Close();
}
