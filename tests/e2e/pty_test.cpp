// Linux only (Windows has no pseudo-terminals): the library's serial link
// to a simulated board behind a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>

#include "sim.h"
#include "support/eventually.h"
#include "voxa/voxa.h"

using namespace voxa_sim;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using voxa::test::Eventually;

TEST(E2EPty, SerialBoardOverAPseudoTerminal) {
  auto sim = SimBoard::StartPty();
  ASSERT_TRUE(sim);
  const auto opened = Clock::now();
  const int board = VOXA_Open_CommDevice(sim->DevicePath().c_str(), 115200);
  ASSERT_GE(board, 0) << "VOXA_Open_CommDevice(" << sim->DevicePath() << ") failed, error " << VOXA_Get_LastErr();
  EXPECT_TRUE(Eventually([] { return VOXA_Is_Link() == 1; }, 3500ms));
  EXPECT_LT(Clock::now() - opened, 3200ms);

  VOXA_Set_DriveVel(20000);
  VOXA_Set_Acc(0);
  VOXA_Enable_CompleteStatePacket(1);
  const int to[8] = {2500, 1250};
  VOXA_Set_CmdID(51);
  VOXA_Line(0x03, to);
  VOXA_Set_CmdID(0xFE);
  EXPECT_EQ(VOXA_WaitMotion(51, 3000), 1);
  EXPECT_EQ(sim->Position(0), 2500);
  EXPECT_EQ(sim->Position(1), 1250);
  VOXA_Set_StateTimer(2 | 0x400 | 0x1000);
  EXPECT_TRUE(Eventually([] { return VOXA_Get_CurPos(0x01) == 2500 && VOXA_Get_CurPos(0x02) == 1250; }, 2000ms));
  char buf[64] = {};
  VOXA_Get_EngineVer(buf, sizeof buf);
  EXPECT_STREQ(buf, "V02.07 Normal Engine K7R2");
  EXPECT_EQ(VOXA_Close(), 1);
  EXPECT_TRUE(sim->Frames([](const RxFrame& f) { return !f.Valid(); }).empty());
}
