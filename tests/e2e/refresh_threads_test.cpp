// Fresh state on request and a board per thread, against simulated boards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "sim.h"
#include "voxa/voxa.h"

using namespace voxa_sim;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct SimLink {
  std::unique_ptr<SimBoard> sim;
  int id = -1;
};

SimLink OpenSim() {
  SimLink l;
  l.sim = SimBoard::StartTcp(0, {});
  if (l.sim) l.id = VOXA_Open_Tcp(LoopbackAddress(), l.sim->Port(), 0);
  return l;
}

class Refresh : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = OpenSim();
    ASSERT_GE(a_.id, 0);
    ASSERT_TRUE(a_.sim->WaitForConnection(1, 3s));
  }
  void TearDown() override {
    VOXA_Set_ThreadBoardID(-1);
    for (SimLink* l : {&a_, &b_})
      if (l->id >= 0 && VOXA_Set_BoardID(l->id)) VOXA_Close();
  }
  SimLink a_, b_;
};

bool IsRefreshRead(const RxFrame& f) {
  return f.Valid() && f.cmd.kind == CmdKind::kReadRequest && f.cmd.tag == 0xFC;
}

}  // namespace

TEST_F(Refresh, GettersShowWhereTheBoardStoppedAfterAWait) {
  VOXA_Set_DriveVel(20000);
  VOXA_Set_Acc(0);
  VOXA_Set_Dec(0);
  VOXA_Enable_CompleteStatePacket(1);
  const int end[8] = {1000, 2000};
  VOXA_Set_CmdID(1);
  VOXA_Line(0x03, end);
  const uint64_t mark = a_.sim->FrameCount();
  ASSERT_EQ(VOXA_WaitMotion(1, 5000), 1);
  ASSERT_EQ(VOXA_Refresh(VOXA_REFRESH_STATUS, 500), 1);
  // A register a refresh had answered counts as reported by then.
  for (int r = 0; r < 32; ++r)
    if (VOXA_REFRESH_STATUS & (1u << r)) {
      EXPECT_GE(VOXA_Get_RegAge(r), 0) << r;
    }
  EXPECT_EQ(VOXA_Get_CurPos(0x01), 1000);
  EXPECT_EQ(VOXA_Get_CurPos(0x02), 2000);
  EXPECT_EQ(VOXA_Is_Complete(), 1);
  EXPECT_EQ(VOXA_Is_OnMotion(), 0);

  // One immediate read of all eight words per register, tagged apart from
  // the polls.
  std::vector<int> regs;
  for (const auto& f : a_.sim->Frames(IsRefreshRead, mark)) {
    EXPECT_TRUE(f.cmd.immediate);
    EXPECT_EQ(f.cmd.mask, 0xFF);
    regs.push_back(f.cmd.reg);
  }
  EXPECT_EQ(regs, (std::vector<int>{CHIPSTATUS, AXISSTATUS, CURPOS, ENCPOS, CURVEL, GIO, EXTIO}));
}

TEST_F(Refresh, RejectsAnEmptyMaskAndANegativeTimeout) {
  EXPECT_EQ(VOXA_Refresh(0, 100), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
  VOXA_Enable_Exe();
  EXPECT_EQ(VOXA_Refresh(1u << CURPOS, -1), 0);
  EXPECT_EQ(VOXA_Is_Err(), 1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
  EXPECT_EQ(a_.sim->Frames(IsRefreshRead).size(), 0u);
  VOXA_Refresh(1u << CURPOS, 0);  // a timeout of 0 is accepted
  EXPECT_EQ(VOXA_Is_Err(), 0);
}

TEST_F(Refresh, ABoardThatDoesNotAnswerTimesOutAndALaterRefreshWorks) {
  a_.sim->GoSilent(400ms);
  const auto t0 = Clock::now();
  EXPECT_EQ(VOXA_Refresh(VOXA_REFRESH_STATUS, 100), 0);
  EXPECT_GE(Clock::now() - t0, 100ms);
  EXPECT_EQ(VOXA_Is_Err(), 0);
  std::this_thread::sleep_for(400ms);
  // The unanswered requests are not waited for again.
  EXPECT_EQ(VOXA_Refresh(VOXA_REFRESH_STATUS, 500), 1);
}

TEST_F(Refresh, ACloseEndsAWaitingRefresh) {
  a_.sim->GoSilent(3000ms);
  std::atomic<int> result{-1};
  const auto t0 = Clock::now();
  std::thread waiter([&] { result = VOXA_Refresh(1u << CURPOS, 5000); });
  std::this_thread::sleep_for(50ms);
  VOXA_Close();
  waiter.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_LT(Clock::now() - t0, 1500ms);
  a_.id = -1;
}

TEST_F(Refresh, ThreadsWorkOnTheirOwnBoardsAtOnce) {
  b_ = OpenSim();
  ASSERT_GE(b_.id, 0);
  ASSERT_TRUE(b_.sim->WaitForConnection(1, 3s));
  ASSERT_EQ(VOXA_Set_BoardID(a_.id), 1);

  EXPECT_EQ(VOXA_Set_ThreadBoardID(8), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_BOARD_ID);
  EXPECT_EQ(VOXA_Set_ThreadBoardID(-2), 0);
  EXPECT_EQ(VOXA_Get_BoardID(), a_.id);

  // Each thread reads its own board and sees only its own results and errors.
  std::atomic<int> failures{0};
  auto drive = [&](const SimLink& l, uint32_t base) {
    if (!VOXA_Set_ThreadBoardID(l.id)) ++failures;
    for (uint32_t k = 1; k <= 20; ++k) {
      if (VOXA_Get_BoardID() != l.id) ++failures;
      if (VOXA_Refresh(0, 10) != 0 || VOXA_Get_LastErr() != VOXA_ERR_ARGUMENT) ++failures;
      l.sim->SetReg(CUSTOM, 0, base + k);
      uint32_t v = 0;
      if (VOXA_Refresh(1u << CUSTOM, 1000) != 1 || VOXA_Is_Err() || !VOXA_Get_RegWord(CUSTOM, 0, &v) || v != base + k)
        ++failures;
    }
  };
  std::thread ta(drive, std::cref(a_), 100u);
  std::thread tb(drive, std::cref(b_), 5000u);
  ta.join();
  tb.join();
  EXPECT_EQ(failures.load(), 0);
  // The process-wide current board and error state were left alone.
  EXPECT_EQ(VOXA_Get_BoardID(), a_.id);
  EXPECT_EQ(VOXA_Is_Err(), 0);

  // A thread whose board is closed fails as for a closed current board.
  std::thread([&] {
    VOXA_Set_ThreadBoardID(b_.id);
    EXPECT_EQ(VOXA_Close(), 1);
    EXPECT_EQ(VOXA_Get_BoardID(), -1);
    EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_NOT_OPEN);
    EXPECT_EQ(VOXA_Set_ThreadBoardID(-1), 1);
    EXPECT_EQ(VOXA_Get_BoardID(), a_.id);
  }).join();
  b_.id = -1;
}
