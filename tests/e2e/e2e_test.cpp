// End to end: the library against the simulated board, over loopback TCP
// and over a pseudo-terminal, through the exported C API only. The board
// side is observed through the simulator's frame log and registers; the
// host side through the library's getters.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "sim.h"
#include "support/eventually.h"
#include "voxa/voxa.h"

using namespace voxa_sim;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using voxa::test::Eventually;

bool Code(const RxFrame& f, uint8_t code) { return f.Valid() && f.cmd.code == code; }

std::string EngineText() {
  char buf[64] = {};
  VOXA_Get_EngineVer(buf, sizeof buf);
  return buf;
}

class E2E : public ::testing::Test {
 protected:
  void SetUp() override { OpenTcp({}); }

  void OpenTcp(const SimOptions& opt) {
    sim_ = SimBoard::StartTcp(0, opt);
    ASSERT_TRUE(sim_);
    opened_ = Clock::now();
    board_ = VOXA_Open_Tcp(LoopbackAddress(), sim_->Port(), 0);
    ASSERT_GE(board_, 0) << "VOXA_Open_Tcp failed, error " << VOXA_Get_LastErr();
    ASSERT_TRUE(sim_->WaitForConnection(1, 3s));
  }

  void TearDown() override {
    if (board_ >= 0) VOXA_Close();
    board_ = -1;
    sim_.reset();
  }

  // Quick moves: 20000 pulses/s at once, no ramps.
  void FastProfile() {
    VOXA_Set_StartVel(0);
    VOXA_Set_DriveVel(20000);
    VOXA_Set_Acc(0);
    VOXA_Set_Dec(0);
  }
  // State packets every 25 ms with the status registers and positions.
  void StatePackets() { ASSERT_EQ(VOXA_Set_StateTimer(2 | 0x400 | 0x800 | 0x1000 | 0x2000 | 0x4000), 1); }

  std::unique_ptr<SimBoard> sim_;
  int board_ = -1;
  Clock::time_point opened_;
};

}  // namespace

TEST_F(E2E, OpenRaisesTheLinkFlagWithinThreeSeconds) {
  ASSERT_TRUE(Eventually([] { return VOXA_Is_Link() == 1; }, 3500ms));
  EXPECT_LT(Clock::now() - opened_, 3200ms);
  // What kept it up: keep-alives (0x89, tag 0xFD) every 200 ms, answered by
  // heartbeats, and immediate register polls.
  auto keepalives = sim_->Frames([](const RxFrame& f) { return Code(f, 0x09); });
  ASSERT_GE(keepalives.size(), 10u);
  EXPECT_EQ(keepalives[0].cmd.opcode, 0x89);
  EXPECT_EQ(keepalives[0].cmd.tag, 0xFD);
  auto polls = sim_->Frames([](const RxFrame& f) { return f.cmd.kind == CmdKind::kReadRequest; });
  ASSERT_GE(polls.size(), 10u);
  for (const auto& p : polls) {
    EXPECT_TRUE(p.cmd.immediate);
    EXPECT_EQ(p.cmd.mask, 0xFF);
    EXPECT_EQ(p.cmd.descriptor, 0x28);
    EXPECT_EQ(p.cmd.tag, 0xFD);
    EXPECT_NE(p.cmd.reg, CAL2);
    EXPECT_NE(p.cmd.reg, CAL3);
  }
  // Every frame the library sent was well formed.
  EXPECT_TRUE(sim_->Frames([](const RxFrame& f) { return !f.Valid(); }).empty());
  EXPECT_EQ(sim_->Stats().checksum_errors, 0u);
}

TEST_F(E2E, QueuedMotionCompletesWithTheCommandIds) {
  FastProfile();
  ASSERT_EQ(VOXA_Enable_CompleteStatePacket(1), 1);
  VOXA_Set_CompleteStatePacketCount(0);
  const int line[8] = {4000, -2000};
  const int centre[8] = {4000, 0};
  const int end[8] = {6000, 0};
  const int step[8] = {0, 0, 1500};
  const uint64_t mark = sim_->FrameCount();
  VOXA_Set_CmdID(11);
  VOXA_Line(0x03, line);
  VOXA_Set_CmdID(12);
  VOXA_ArcCCW(0x03, centre, end);
  VOXA_Set_CmdID(13);
  VOXA_IMove(0x04, step);
  VOXA_Set_CmdID(0xFE);
  EXPECT_EQ(VOXA_WaitMotion(13, 5000), 1);

  // The board saw the operands before each action, tagged with its ID.
  auto frames = sim_->Frames([](const RxFrame& f) { return f.cmd.kind == CmdKind::kRegisterWrite ||
                                                            f.cmd.kind == CmdKind::kAction; }, mark);
  std::vector<std::pair<uint8_t, int>> seen;
  for (const auto& f : frames)
    if (f.cmd.kind == CmdKind::kAction || f.cmd.reg == CAL0 || f.cmd.reg == CAL1)
      seen.emplace_back(f.cmd.opcode, f.cmd.tag);
  const std::vector<std::pair<uint8_t, int>> want = {
      {0x1F, 11}, {0x5B, 11}, {0x1F, 12}, {0x21, 12}, {0x5D, 12}, {0x1F, 13}, {0x59, 13}};
  EXPECT_EQ(seen, want);

  EXPECT_EQ(sim_->Position(0), 6000);
  EXPECT_EQ(sim_->Position(1), 0);
  EXPECT_EQ(sim_->Position(2), 1500);
  EXPECT_TRUE(Eventually([] { return VOXA_Get_CompleteStatePacketCount() == 3; }, 1000ms));
  // The host's image catches up with the final positions.
  StatePackets();
  EXPECT_TRUE(Eventually([] {
    return VOXA_Get_CurPos(0x01) == 6000 && VOXA_Get_CurPos(0x02) == 0 && VOXA_Get_CurPos(0x04) == 1500;
  }, 2000ms));
  EXPECT_TRUE(Eventually([] { return VOXA_Get_ExeCmdID() == 13; }, 2000ms)) << VOXA_Get_ExeCmdID();
}

TEST_F(E2E, NotifyCompleteAndWaitMotion) {
  FastProfile();
  const int far[8] = {3000};
  VOXA_Line(0x01, far);
  VOXA_Notify_Complete(5);
  const auto t0 = Clock::now();
  EXPECT_EQ(VOXA_WaitMotion(5, 3000), 1);
  // Only after the line: 3000 pulses at 20000 pulses/s.
  EXPECT_GE(Clock::now() - t0, 100ms);
  EXPECT_EQ(sim_->Position(0), 3000);
  EXPECT_EQ(VOXA_WaitMotion(9, 50), 0);
  EXPECT_EQ(VOXA_Is_Err(), 0);
}

TEST_F(E2E, GettersReflectTheBoard) {
  FastProfile();
  StatePackets();
  EXPECT_TRUE(Eventually([] { return EngineText() == "V02.07 Normal Engine K7R2"; }, 2000ms)) << EngineText();

  // Positions moved by the board, the encoder, completion and direction.
  const int target[8] = {-2500, 700};
  VOXA_Set_CmdID(21);
  VOXA_Line(0x03, target);
  VOXA_Set_CmdID(0xFE);
  ASSERT_TRUE(sim_->WaitFrame([](const RxFrame& f) { return Code(f, 0x5B); }, 2s));
  ASSERT_TRUE(sim_->WaitIdle(3s));
  EXPECT_TRUE(Eventually([] {
    return VOXA_Get_CurPos(0x01) == -2500 && VOXA_Get_CurPos(0x02) == 700 && VOXA_Get_EncPos(0x01) == -2500;
  }, 2000ms));
  EXPECT_TRUE(Eventually([] { return VOXA_Is_Complete() == 1 && VOXA_Is_CompleteAxis(0x03) == 1; }, 1000ms));
  EXPECT_EQ(VOXA_Is_CCW(0x01), 1);
  EXPECT_EQ(VOXA_Is_CW(0x02), 1);
  EXPECT_EQ(VOXA_Is_OnMotion(), 0);

  // Limit switch inputs.
  sim_->SetLimitInput(1, std::nullopt, true);
  EXPECT_TRUE(Eventually([] { return VOXA_Is_LimitH(0x02) == 1; }, 1000ms));
  sim_->SetLimitInput(1, std::nullopt, std::nullopt);
  EXPECT_TRUE(Eventually([] { return VOXA_Is_LimitH(0x02) == 0; }, 1000ms));

  // The board's own queue: held commands are counted and reported.
  sim_->HoldQueue(true);
  for (int i = 0; i < 6; ++i) VOXA_Wait();
  EXPECT_TRUE(Eventually([] { return VOXA_Get_EngineQueueLeftCmd() == 6; }, 2000ms));
  sim_->HoldQueue(false);
  EXPECT_TRUE(Eventually([] { return VOXA_Get_EngineQueueLeftCmd() == 0; }, 2000ms));
}

TEST_F(E2E, BusyBoardHoldsTheSoftQueueBack) {
  StatePackets();
  sim_->OverrideBusy(true);
  ASSERT_TRUE(Eventually([] { return VOXA_Is_Busy() == 1; }, 2000ms));
  const uint64_t mark = sim_->FrameCount();
  for (int i = 0; i < 10; ++i) VOXA_Wait();
  VOXA_Sleep(200);
  EXPECT_TRUE(sim_->Frames([](const RxFrame& f) { return Code(f, 0x52); }, mark).empty());
  EXPECT_EQ(VOXA_Get_SoftQueueLeftCmd(), 10);
  sim_->OverrideBusy(std::nullopt);
  EXPECT_EQ(sim_->WaitFrames([](const RxFrame& f) { return Code(f, 0x52); }, 10, 2s, mark).size(), 10u);

  // With 100 commands reported waiting nothing goes; at 95 they trickle.
  sim_->OverrideWaiting(100);
  ASSERT_TRUE(Eventually([] { return VOXA_Get_EngineQueueLeftCmd() == 100; }, 2000ms));
  const uint64_t mark2 = sim_->FrameCount();
  for (int i = 0; i < 10; ++i) VOXA_Wait();
  VOXA_Sleep(200);
  EXPECT_TRUE(sim_->Frames([](const RxFrame& f) { return Code(f, 0x52); }, mark2).empty());
  sim_->OverrideWaiting(95);
  EXPECT_EQ(sim_->WaitFrames([](const RxFrame& f) { return Code(f, 0x52); }, 10, 2s, mark2).size(), 10u);
  sim_->OverrideWaiting(std::nullopt);
}

TEST_F(E2E, ImmediateModeSendsAtOnce) {
  FastProfile();
  // Immediate commands overtake queued ones: let the profile reach the board.
  ASSERT_TRUE(Eventually([] { return VOXA_Get_SoftQueueLeftCmd() == 0; }, 1000ms));
  VOXA_Enter_ImCmd();
  const int to[8] = {1000};
  VOXA_Line(0x01, to);
  VOXA_Leave_ImCmd();
  auto f = sim_->WaitFrame([](const RxFrame& fr) { return Code(fr, 0x5B); }, 2s);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->cmd.opcode, 0xDB);
  EXPECT_TRUE(sim_->Frames([](const RxFrame& fr) { return fr.cmd.opcode == 0x9F; }).size() >= 1);
  EXPECT_TRUE(sim_->WaitIdle(2s));
  EXPECT_EQ(sim_->Position(0), 1000);
}

TEST_F(E2E, StopsPauseAndAlarmReset) {
  VOXA_Set_DriveVel(5000);
  VOXA_Set_Acc(0);
  StatePackets();
  const int far[8] = {1000000};
  VOXA_Line(0x01, far);
  ASSERT_TRUE(Eventually([] { return VOXA_Is_OnMotion() == 1; }, 2000ms));
  VOXA_Pause();
  EXPECT_TRUE(Eventually([] { return VOXA_Is_Pause() == 1; }, 2000ms));
  const int32_t held = sim_->Position(0);
  VOXA_Sleep(100);
  EXPECT_EQ(sim_->Position(0), held);
  VOXA_Resume();
  EXPECT_TRUE(Eventually([&] { return sim_->Position(0) > held; }, 2000ms));
  VOXA_ImStop();
  EXPECT_TRUE(Eventually([] { return VOXA_Is_EStop() == 1 && VOXA_Is_OnMotion() == 0; }, 2000ms));
  VOXA_AlarmReset();
  EXPECT_TRUE(Eventually([] { return VOXA_Is_EStop() == 0 && VOXA_Is_Alarm() == 0; }, 2000ms));
  VOXA_Line(0x01, far);
  ASSERT_TRUE(Eventually([] { return VOXA_Is_OnMotion() == 1; }, 2000ms));
  VOXA_DecStop();
  EXPECT_TRUE(sim_->WaitIdle(2s));
  EXPECT_TRUE(Eventually([] { return VOXA_Is_OnMotion() == 0 && VOXA_Is_EStop() == 0; }, 2000ms));
}

TEST_F(E2E, HomeReturnsToTheSensor) {
  FastProfile();
  StatePackets();
  sim_->SetHomeSensor(0, -800);
  VOXA_Set_HomeSeekVel(0x01, 8000);
  VOXA_Set_CmdID(31);
  VOXA_Home(0x01, 100);
  VOXA_Set_CmdID(0xFE);
  EXPECT_TRUE(Eventually([] { return VOXA_Is_HomeReturnExe(0x01) == 1; }, 2000ms));
  VOXA_Notify_Complete(32);
  EXPECT_EQ(VOXA_WaitMotion(32, 3000), 1);
  EXPECT_EQ(sim_->Position(0), 100);
  EXPECT_TRUE(Eventually([] { return VOXA_Get_CurPos(0x01) == 100 && VOXA_Is_HomeSensor(0x01) == 1; }, 2000ms));
}

TEST_F(E2E, DroppedConnectionIsReestablished) {
  FastProfile();
  ASSERT_TRUE(Eventually([] { return VOXA_Get_SoftQueueLeftCmd() == 0; }, 1000ms));
  sim_->DropConnection();
  ASSERT_TRUE(sim_->WaitForConnection(2, 5s)) << "the library did not reconnect";
  // The link carries commands again.
  const int to[8] = {500};
  VOXA_Set_CmdID(41);
  VOXA_Line(0x01, to);
  VOXA_Set_CmdID(0xFE);
  VOXA_Notify_Complete(42);
  EXPECT_EQ(VOXA_WaitMotion(42, 3000), 1);
  EXPECT_EQ(sim_->Position(0), 500);

  // An orderly close (the library reads zero bytes) is re-established too.
  sim_->DropConnection(false);
  ASSERT_TRUE(sim_->WaitForConnection(3, 5s)) << "no reconnect after an orderly close";
  VOXA_Notify_Complete(43);
  EXPECT_EQ(VOXA_WaitMotion(43, 3000), 1);
}

TEST_F(E2E, RefusedReconnectsAreRetriedUntilTheBoardAccepts) {
  // The board takes each connection and closes it at once (and drops the
  // current one): the library must keep trying.
  sim_->RefuseConnections(RefuseMode::kCloseAccepted);
  EXPECT_TRUE(sim_->WaitStats([](const SimStats& s) { return s.refused >= 2; }, 5s));
  EXPECT_FALSE(sim_->IsConnected());
  sim_->RefuseConnections(RefuseMode::kAccept);
  ASSERT_TRUE(sim_->WaitForConnection(2, 5s));
  VOXA_Notify_Complete(7);
  EXPECT_EQ(VOXA_WaitMotion(7, 2000), 1);
}

TEST_F(E2E, CorruptedBytesAreSkippedAndTheLinkSurvives) {
  StatePackets();
  sim_->SetCorruptRate(0.01);
  VOXA_Sleep(500);
  sim_->SetCorruptRate(0);
  VOXA_Notify_Complete(8);
  EXPECT_EQ(VOXA_WaitMotion(8, 2000), 1);
  EXPECT_GT(sim_->Stats().corrupted_bytes, 0u);
}

TEST_F(E2E, OldEngineGetsTheHostSideSoftLimitStop) {
  TearDown();
  SimOptions opt;
  opt.engine_minor = 5;  // V02.05
  OpenTcp(opt);
  VOXA_Set_DriveVel(2000);
  VOXA_Set_Acc(0);
  StatePackets();
  ASSERT_TRUE(Eventually([] { return EngineText().rfind("V02.05", 0) == 0; }, 2000ms)) << EngineText();
  // Axis 5 with a soft lower limit at 0, driven below it: an old engine
  // does not stop by itself; the library sends the immediate stop 0xD0.
  VOXA_Set_SoftLowerLimit(0x20, 0);
  VOXA_Enable_SoftLowerLimit(0x20, 1);
  const int down[8] = {0, 0, 0, 0, 0, -100000};
  const uint64_t mark = sim_->FrameCount();
  VOXA_IMove(0x20, down);
  auto stop = sim_->WaitFrame([](const RxFrame& f) { return f.cmd.opcode == 0xD0; }, 3s, mark);
  ASSERT_TRUE(stop) << "no host-side limit stop";
  EXPECT_EQ(stop->cmd.tag, 0xD3);
  EXPECT_TRUE(sim_->WaitIdle(1s));
  EXPECT_LT(sim_->Position(5), 0);
  EXPECT_GT(sim_->Position(5), -2000);
  EXPECT_TRUE(Eventually([] { return VOXA_Is_SoftLimitL(0x20) == 1; }, 1000ms));

  // The library keeps the register image across close and open, engine
  // version and axis status included, and would stop the next board it
  // opens in this slot until that board reports: leave a new engine behind.
  VOXA_Enable_SoftLowerLimit(0x20, 0);
  sim_->SetEngineVersion(2, 7);
  EXPECT_TRUE(Eventually([] { return EngineText().rfind("V02.07", 0) == 0; }, 2000ms));
}

TEST_F(E2E, CloseEndsTheConnection) {
  ASSERT_TRUE(sim_->IsConnected());
  EXPECT_EQ(VOXA_Close(), 1);
  board_ = -1;
  EXPECT_TRUE(sim_->WaitForDisconnect(2s));
}

TEST_F(E2E, ACompletionAfterAHostStopIsNotAnArrival) {
  VOXA_Set_DriveVel(5000);
  VOXA_Set_Acc(0);
  VOXA_Set_Dec(0);
  StatePackets();
  VOXA_Enable_CompleteStatePacket(1);
  const int far[8] = {1000000};
  VOXA_Set_CmdID(5);
  VOXA_Line(0x01, far);
  VOXA_Set_CmdID(0xFE);
  ASSERT_TRUE(Eventually([] { return VOXA_Is_OnMotion() == 1; }, 2000ms));
  VOXA_Enter_ImCmd();
  VOXA_DecStop();
  VOXA_Leave_ImCmd();
  ASSERT_EQ(VOXA_WaitMotion(5, 3000), 1);
  EXPECT_EQ(VOXA_Get_WaitReason(), VOXA_COMPLETE_HOST_STOP);
  EXPECT_EQ(VOXA_Get_CompleteReason(5), VOXA_COMPLETE_HOST_STOP);
  EXPECT_LT(sim_->Position(0), 1000000);

  // A command sent after the stop runs to its end and says so.
  const int near[8] = {sim_->Position(0) + 100};
  VOXA_Set_CmdID(6);
  VOXA_Line(0x01, near);
  VOXA_Set_CmdID(0xFE);
  ASSERT_EQ(VOXA_WaitMotion(6, 3000), 1);
  EXPECT_EQ(VOXA_Get_WaitReason(), VOXA_COMPLETE_ENDED);
  EXPECT_EQ(VOXA_Get_CompleteReason(5), VOXA_COMPLETE_HOST_STOP);
  EXPECT_EQ(VOXA_WaitMotion(7, 50), 0);
  EXPECT_EQ(VOXA_Get_WaitReason(), VOXA_COMPLETE_NONE);
  EXPECT_EQ(VOXA_Get_CompleteReason(300), -1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);

  // A reset is a host stop too, for the marker queued before it.
  VOXA_Set_CmdID(8);
  VOXA_Line(0x01, far);
  VOXA_Set_CmdID(0xFE);
  ASSERT_TRUE(Eventually([] { return VOXA_Is_OnMotion() == 1; }, 2000ms));
  VOXA_Reset();
  if (VOXA_WaitMotion(8, 1000)) {
    EXPECT_EQ(VOXA_Get_WaitReason(), VOXA_COMPLETE_HOST_STOP);
  }
}

namespace {
std::mutex g_seen_lock;
std::vector<std::string> g_log_lines;
std::vector<int> g_link_reasons;
void VOXA_CALL KeepLog(int, const char* text) {
  std::lock_guard<std::mutex> g(g_seen_lock);
  g_log_lines.emplace_back(text);
}
void VOXA_CALL KeepLink(int, int state, int reason, int) {
  std::lock_guard<std::mutex> g(g_seen_lock);
  if (state == VOXA_LINK_RECONNECTING) g_link_reasons.push_back(reason);
}
std::string OpenErrorText(int* kind, int* os_error) {
  char text[160] = {};
  *kind = VOXA_Get_OpenError(os_error, text, sizeof text);
  return text;
}
}  // namespace

TEST_F(E2E, ABoardHeldByAnotherHostIsReportedAndNotFoughtFor) {
  VOXA_Set_LogHandler(&KeepLog);
  VOXA_Set_LinkHandler(&KeepLink);
  // A second open while the board turns every new connection away.
  sim_->RefuseConnections(RefuseMode::kCloseAccepted);
  const uint64_t refused0 = sim_->Stats().refused;
  EXPECT_EQ(VOXA_Open_Tcp(LoopbackAddress(), sim_->Port(), 0), -1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_OPEN);
  int kind = -1, os_error = -1;
  const std::string text = OpenErrorText(&kind, &os_error);
  EXPECT_EQ(kind, VOXA_OPEN_HELD);
  EXPECT_EQ(os_error, 0);
  EXPECT_EQ(text, "the board at 127.0.0.1:" + std::to_string(sim_->Port()) + " is held by another host");
  {
    std::lock_guard<std::mutex> g(g_seen_lock);
    ASSERT_FALSE(g_log_lines.empty());
    EXPECT_NE(g_log_lines.back().find("held by another host"), std::string::npos);
  }
  // The first board's link (dropped by the same refusal) backs off instead
  // of pushing in again and again, and says why.
  VOXA_Sleep(2500);
  EXPECT_LE(sim_->Stats().refused - refused0, 4u);
  EXPECT_TRUE(Eventually([] {
    std::lock_guard<std::mutex> g(g_seen_lock);
    return std::find(g_link_reasons.begin(), g_link_reasons.end(), VOXA_LINK_REASON_HELD) != g_link_reasons.end();
  }, 2000ms));
  VOXA_Set_LinkHandler(nullptr);
  VOXA_Set_LogHandler(nullptr);

  // A port nobody listens on: the system's refusal.
  const uint16_t port = sim_->Port();
  TearDown();
  EXPECT_EQ(VOXA_Open_Tcp(LoopbackAddress(), port, 0), -1);
  OpenErrorText(&kind, &os_error);
  EXPECT_EQ(kind, VOXA_OPEN_SYSTEM);
  EXPECT_NE(os_error, 0);
}

namespace {
std::mutex g_board_events_lock;
std::vector<int> g_board_events;
void VOXA_CALL KeepBoardEvents(int, int state, int, int) {
  std::lock_guard<std::mutex> g(g_board_events_lock);
  g_board_events.push_back(state);
}
bool Heard(int state) {
  std::lock_guard<std::mutex> g(g_board_events_lock);
  return std::find(g_board_events.begin(), g_board_events.end(), state) != g_board_events.end();
}
}  // namespace

TEST_F(E2E, ARestartedBoardIsNoticedAndOnRequestGetsTheSettingsBack) {
  VOXA_Set_DriveVel(1234);
  uint32_t word = 0;
  ASSERT_EQ(VOXA_Get_RegWord(VOXA_REG_DRIVEVEL, 0, &word), 1);
  ASSERT_NE(word, 0u);
  ASSERT_TRUE(Eventually([&] { return sim_->Reg(VOXA_REG_DRIVEVEL, 0) == word; }, 2000ms));
  EXPECT_EQ(VOXA_Enable_RestoreAfterRestart(1), 1);
  EXPECT_EQ(VOXA_Is_RestoreAfterRestart(), 1);
  {
    std::lock_guard<std::mutex> g(g_board_events_lock);
    g_board_events.clear();
  }
  VOXA_Set_LinkHandler(&KeepBoardEvents);
  // The board restarts in place: the same port, its power-on settings.
  const uint16_t port = sim_->Port();
  sim_.reset();
  sim_ = SimBoard::StartTcp(port, {});
  ASSERT_TRUE(sim_);
  EXPECT_TRUE(Eventually([] { return Heard(VOXA_LINK_RESTARTED); }, 6000ms)) << "the restart went unnoticed";
  EXPECT_TRUE(Eventually([] { return Heard(VOXA_LINK_RESTORED); }, 1000ms));
  EXPECT_TRUE(Eventually([&] { return sim_->Reg(VOXA_REG_DRIVEVEL, 0) == word; }, 1000ms));
  VOXA_Set_LinkHandler(nullptr);
  VOXA_Enable_RestoreAfterRestart(0);
}
