// The simulated board's engine, driven by hand in simulated time: replies,
// register writes, the command queue, motion, stops, and the packets the
// board sends of its own accord.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "board.h"
#include "codec.h"

using namespace voxa_sim;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kCompleteOn = 1u << 29;

class BoardTest : public ::testing::Test {
 protected:
  BoardTest() : board_([this](Bytes f) { out_.push_back(std::move(f)); }) {}

  // Sends one host frame (bytes as on the wire).
  void Send(const Bytes& frame) {
    FrameParser p;
    for (uint8_t b : frame) {
      if (p.Feed(b)) {
        HostCommand c;
        DecodeCommand(p.Body(), p.BodySize(), &c);
        board_.Handle(c);
      }
    }
  }
  void Write(int reg, uint8_t mask, std::initializer_list<int64_t> vals, bool immediate = false, int tag = -1) {
    const std::vector<int64_t> v(vals);
    uint32_t w[8] = {};
    size_t k = 0;
    for (int i = 0; i < 8; ++i)
      if (mask & (1u << i)) w[i] = static_cast<uint32_t>(v[std::min(k++, v.size() - 1)]);
    Send(HostWrite(reg, mask, w, immediate, tag));
  }
  void Line(uint8_t mask, std::initializer_list<int64_t> ends, int tag = -1) {
    Write(CAL0, mask, ends, false, tag);
    Send(HostAction(Op::kLine, mask, tag));
  }
  // Frames the board sent of the given packet type since the last Take.
  std::vector<Bytes> Take(int type = -1) {
    std::vector<Bytes> r;
    for (auto& f : out_)
      if (type < 0 || (f.size() > 3 && (f[3] & 0x7F) == type)) r.push_back(f);
    out_.clear();
    return r;
  }
  // Runs until the board is idle or ms passed; returns the time taken.
  uint32_t RunIdle(uint32_t max_ms) {
    uint32_t t = 0;
    while (!board_.Idle() && t < max_ms) {
      board_.Advance(2);
      t += 2;
    }
    return t;
  }
  int32_t Pos(int axis) { return static_cast<int32_t>(board_.Reg(CURPOS, axis)); }
  void Profile(uint32_t vel, uint32_t acc) {
    Write(DRIVEVEL, 0x01, {vel << 16}, true);
    Write(ACC, 0x01, {acc << 16}, true);
  }

  std::vector<Bytes> out_;
  Board board_;
};

}  // namespace

TEST_F(BoardTest, KeepAliveGetsTheHeartbeatPacket) {
  Send(HostSystem(Op::kKeepAlive | Op::kImmediate, 0xFD));
  auto f = Take();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], (Bytes{0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}));
  Send(HostSystem(Op::kKeepAlive));
  EXPECT_EQ(Take(kHeartbeat).size(), 1u);
  board_.SetHeartbeatReply(false);
  Send(HostSystem(Op::kKeepAlive | Op::kImmediate, 0xFD));
  EXPECT_TRUE(Take().empty());
}

TEST_F(BoardTest, ReadRequestIsAnsweredWithTheRequestedWords) {
  board_.SetReg(CURPOS, 0, 10000);
  board_.SetReg(CURPOS, 2, 20000);
  Take();
  Send(HostRead(CURPOS, 0x05, true));
  auto f = Take();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], (Bytes{0xFE, 0x0D, 0x00, 0x1C, 0x05, 0x22, 0x10, 0x27, 0, 0, 0x20, 0x4E, 0, 0, 0xF3}));
  // With a tag, the reply ends with it; equal trailing values are dropped.
  Send(HostRead(DRIVEVEL, 0xFF, true, 0xFD));
  f = Take();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0][3], 16 + 2 * DRIVEVEL);
  EXPECT_EQ(f[0][4], 0xFF);
  EXPECT_EQ(f[0][5], 0x21);
  EXPECT_EQ(f[0][f[0].size() - 2], 0xFD);
}

TEST_F(BoardTest, RegisterWriteAppliesTheRepeatRule) {
  Write(CAL1, 0x0F, {0xA, 0xB}, true);
  EXPECT_EQ(board_.Reg(CAL1, 0), 0xAu);
  EXPECT_EQ(board_.Reg(CAL1, 1), 0xBu);
  EXPECT_EQ(board_.Reg(CAL1, 3), 0xBu);
  EXPECT_EQ(board_.Reg(CAL1, 4), 0u);
}

TEST_F(BoardTest, StatusRegistersIgnoreHostWrites) {
  const uint32_t ver = board_.Reg(CHIPSTATUS, 7);
  Write(CHIPSTATUS, 0x80, {0}, true);
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 7), ver);
}

TEST_F(BoardTest, EngineVersionWord) {
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 7), 0x04012736u);  // V02.07 Normal Engine K7R2
  board_.SetEngineVersion(2, 5);
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 7), 0x04012536u);
}

TEST_F(BoardTest, QueuedWriteThenActionUsesTheWrittenOperands) {
  Profile(20000, 0);
  board_.HoldQueue(true);
  Line(0x03, {1000, 500}, 1);
  Line(0x03, {-300, 200}, 2);
  EXPECT_EQ(board_.QueueDepth(), 4);
  EXPECT_EQ(Pos(0), 0);
  board_.HoldQueue(false);
  RunIdle(2000);
  EXPECT_EQ(Pos(0), -300);
  EXPECT_EQ(Pos(1), 200);
  EXPECT_EQ(board_.Reg(CAL0, 0), static_cast<uint32_t>(-300));
}

TEST_F(BoardTest, QueueDepthIdsAndBusyBitAreReported) {
  board_.HoldQueue(true);
  for (int i = 0; i < 30; ++i) Send(HostAction(Op::kLine, 0x01, 10 + i));
  const uint32_t w1 = board_.Reg(CHIPSTATUS, 1);
  EXPECT_EQ((w1 >> 8) & 0xFF, 30u);
  EXPECT_EQ((w1 >> 16) & 0xFF, 10u);                  // next ready
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 0) & 1, 1u);       // 30 >= 25 % of 100
  Write(CHIPSET, 0x01, {0x0800}, true);               // busy size 50 %
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 0) & 1, 0u);
  board_.OverrideWaiting(95);
  board_.OverrideBusy(true);
  EXPECT_EQ((board_.Reg(CHIPSTATUS, 1) >> 8) & 0xFF, 95u);
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 0) & 1, 1u);
  board_.OverrideWaiting(std::nullopt);
  board_.OverrideBusy(std::nullopt);
  board_.HoldQueue(false);
  RunIdle(1000);
  EXPECT_EQ((board_.Reg(CHIPSTATUS, 1) >> 8) & 0xFF, 0u);
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 1) >> 24, 39u);    // the last one executed
}

TEST_F(BoardTest, ExecutingIdAndOnMotionDuringALine) {
  Profile(1000, 0);
  Line(0x01, {500}, 0x21);
  Line(0x01, {0}, 0x22);
  board_.Advance(50);
  const uint32_t w1 = board_.Reg(CHIPSTATUS, 1);
  EXPECT_EQ(w1 >> 24, 0x21u);
  EXPECT_EQ((w1 >> 16) & 0xFF, 0x22u);
  EXPECT_NE(board_.Reg(CHIPSTATUS, 0) & 0x40, 0u);   // on motion
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 0) & 0x2, 0u);    // not complete
  EXPECT_EQ(board_.Reg(AXISSTATUS, 0) & 0x800000, 0u);
  EXPECT_NE(board_.Reg(AXISSTATUS, 1) & 0x800000, 0u);
  RunIdle(3000);
  EXPECT_NE(board_.Reg(CHIPSTATUS, 0) & 0x2, 0u);
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 0) & 0x40, 0u);
}

TEST_F(BoardTest, MotionTakesTimeAtTheDriveVelocity) {
  Profile(10000, 0);
  Line(0x01, {5000});
  const uint32_t t = RunIdle(5000);
  EXPECT_NEAR(t, 500, 10);
  EXPECT_EQ(Pos(0), 5000);
  // With acceleration 20 (20000 pulses/s^2) the same move takes longer.
  Profile(10000, 20);
  Line(0x01, {0});
  const uint32_t t2 = RunIdle(5000);
  EXPECT_GT(t2, 700u);
  EXPECT_LT(t2, 1100u);
  EXPECT_EQ(Pos(0), 0);
}

TEST_F(BoardTest, PerAxisDriveVelocityWinsOverBoardWide) {
  Write(DRIVEVEL, 0x03, {100u << 16, 4000});
  Write(CAL0, 0x02, {2000});
  Send(HostAction(Op::kLine, 0x02));
  EXPECT_NEAR(RunIdle(5000), 500, 10);
}

TEST_F(BoardTest, DirectionBitFollowsTheMotion) {
  Profile(1000, 0);
  Line(0x01, {-1000});
  board_.Advance(20);
  EXPECT_NE(board_.Reg(AXISSTATUS, 0) & 0x40, 0u);
  EXPECT_GT(board_.Reg(CURVEL, 0) & 0xFFFF, 900u);
  RunIdle(3000);
  Line(0x01, {0});
  board_.Advance(20);
  EXPECT_EQ(board_.Reg(AXISSTATUS, 0) & 0x40, 0u);
}

TEST_F(BoardTest, CompleteStatePacketAfterTheCommandCompletes) {
  Write(CHIPSET, 0x01, {kCompleteOn}, true);
  Profile(10000, 0);
  Line(0x01, {1000}, 7);
  Take();
  board_.Advance(50);
  EXPECT_TRUE(Take(kCompleteState).empty());
  RunIdle(1000);
  auto f = Take(kCompleteState);
  ASSERT_EQ(f.size(), 1u);  // the tagged CAL0 write reports nothing
  EXPECT_EQ(f[0], BuildFrame(Bytes{kCompleteState, 7, 0, 0, 0}));
}

TEST_F(BoardTest, NoCompletePacketWhenSwitchedOffOrUntagged) {
  Profile(10000, 0);
  Line(0x01, {100}, 7);
  RunIdle(1000);
  Write(CHIPSET, 0x01, {kCompleteOn}, true);
  Line(0x01, {200});
  RunIdle(1000);
  EXPECT_TRUE(Take(kCompleteState).empty());
}

TEST_F(BoardTest, NotifyCompleteWaitsForWhatWasQueuedBefore) {
  Profile(1000, 0);
  Line(0x01, {300}, 1);
  Send(HostSystem(Op::kNotifyComplete, 5));
  board_.Advance(100);
  EXPECT_TRUE(Take(kCompleteState).empty());
  RunIdle(2000);
  auto f = Take(kCompleteState);
  ASSERT_EQ(f.size(), 1u);  // complete packets are off: only the notification
  EXPECT_EQ(f[0][4], 5);
  // Immediate: at once, even while a motion runs.
  Line(0x01, {0}, 1);
  Send(HostSystem(Op::kNotifyComplete | Op::kImmediate, 6));
  f = Take(kCompleteState);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0][4], 6);
}

TEST_F(BoardTest, ImmediateRegisterWriteActsAtOnceQueuedWaits) {
  board_.HoldQueue(true);
  Write(CAL2, 0x01, {11});
  Write(CAL3, 0x01, {22}, true);
  EXPECT_EQ(board_.Reg(CAL2, 0), 0u);
  EXPECT_EQ(board_.Reg(CAL3, 0), 22u);
  board_.HoldQueue(false);
  EXPECT_EQ(board_.Reg(CAL2, 0), 11u);
}

TEST_F(BoardTest, ArcFollowsTheCircle) {
  Profile(10000, 0);
  Write(CURPOS, 0x03, {1000, 0}, true);
  // CCW quarter circle around (0,0) from (1000,0) to (0,1000).
  Write(CAL0, 0x03, {0, 1000});
  Write(CAL1, 0x03, {0, 0});
  Send(HostAction(Op::kArcCCW, 0x03, 3));
  double max_err = 0;
  bool y_positive = true;
  while (!board_.Idle()) {
    board_.Advance(2);
    const double x = Pos(0), y = Pos(1);
    max_err = std::max(max_err, std::fabs(std::hypot(x, y) - 1000));
    y_positive &= y >= 0;
  }
  EXPECT_LT(max_err, 2.0);
  EXPECT_TRUE(y_positive);
  EXPECT_EQ(Pos(0), 0);
  EXPECT_EQ(Pos(1), 1000);
  // CW from (0,1000) to (1000,0) around (0,0): a quarter, staying at y >= 0.
  Write(CAL0, 0x03, {1000, 0});
  Send(HostAction(Op::kArcCW, 0x03));
  uint32_t t = 0;
  while (!board_.Idle()) {
    board_.Advance(2);
    t += 2;
    EXPECT_GE(Pos(1), 0);
  }
  EXPECT_NEAR(t, 157, 6);  // pi/2 * 1000 pulses at 10000 pulses/s
}

TEST_F(BoardTest, IMoveIsRelativeCMoveAbsolute) {
  Profile(20000, 0);
  Write(CURPOS, 0x01, {100}, true);
  Write(CAL0, 0x03, {50, 70});
  Send(HostAction(Op::kIMove, 0x03));
  RunIdle(1000);
  EXPECT_EQ(Pos(0), 150);
  EXPECT_EQ(Pos(1), 70);
  Write(CAL0, 0x01, {-40});
  Send(HostAction(Op::kCMove, 0x01));
  RunIdle(1000);
  EXPECT_EQ(Pos(0), -40);
}

TEST_F(BoardTest, HomeSeeksTheSensorAndSetsTheHomeValue) {
  Profile(20000, 0);
  board_.SetHomeSensor(0, -400);
  Write(HOMERETURN, 0x01, {5000}, true);  // seek velocity 5000 pulses/s
  Write(CAL0, 0x01, {123});
  Send(HostAction(Op::kHome, 0x01, 9));
  board_.Advance(20);
  EXPECT_NE(board_.Reg(AXISSTATUS, 0) & 0x4000, 0u);  // home return in progress
  const uint32_t t = RunIdle(2000);
  EXPECT_NEAR(t + 20, 80, 6);
  EXPECT_EQ(Pos(0), 123);
  EXPECT_EQ(board_.Reg(AXISSTATUS, 0) & 0x4000, 0u);
  EXPECT_NE(board_.Reg(AXISSTATUS, 0) & 0x2000, 0u);  // on the home sensor
  EXPECT_EQ(static_cast<int32_t>(board_.Reg(ENCPOS, 0)), 123);
}

TEST_F(BoardTest, DecStopDeceleratesAndDropsTheQueue) {
  Write(CHIPSET, 0x01, {kCompleteOn}, true);
  Profile(10000, 10);
  Line(0x01, {100000}, 1);
  Line(0x01, {0}, 2);
  board_.Advance(1000);
  Take();
  Send(HostAction(Op::kDecStop | Op::kImmediate, 0x00, 0xD3));
  EXPECT_EQ(board_.QueueDepth(), 0);
  board_.Advance(200);
  EXPECT_FALSE(board_.Idle());  // still decelerating
  const uint32_t t = RunIdle(3000);
  EXPECT_GT(t, 600u);
  auto f = Take(kCompleteState);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0][4], 1);
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 0) & 0x90, 0u);
}

TEST_F(BoardTest, ImStopLatchesUntilAlarmReset) {
  Profile(10000, 10);
  Line(0x01, {100000}, 1);
  Line(0x01, {0}, 2);
  board_.Advance(500);
  const int32_t at = Pos(0);
  Send(HostAction(Op::kImStop, 0x00, 0xD3));
  EXPECT_TRUE(board_.Idle());
  board_.Advance(100);
  EXPECT_EQ(Pos(0), at);
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 0) & 0x90, 0x90u);  // e-stop: bits 4 and 7
  Line(0x01, {0}, 3);
  board_.Advance(100);
  EXPECT_EQ(Pos(0), at);  // held while e-stopped
  Send(HostSystem(Op::kAlarmReset, 0xD3));
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 0) & 0x90, 0u);
  RunIdle(20000);
  EXPECT_EQ(Pos(0), 0);
}

TEST_F(BoardTest, PauseHoldsAndResumeContinues) {
  Profile(10000, 0);
  Line(0x01, {2000});
  board_.Advance(100);
  Send(HostAction(Op::kPause, 0x00, 0xD3));
  board_.Advance(20);
  const int32_t held = Pos(0);
  board_.Advance(200);
  EXPECT_EQ(Pos(0), held);
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 0) & 0x90, 0x10u);  // paused: bit 4 only
  Send(HostSystem(Op::kResume, 0xD3));
  RunIdle(2000);
  EXPECT_EQ(Pos(0), 2000);
}

TEST_F(BoardTest, CancelEndsTheCurrentCommandOnly) {
  Profile(10000, 0);
  Line(0x01, {100000}, 1);
  Line(0x01, {-50}, 2);
  board_.Advance(100);
  Send(HostAction(Op::kCancel, 0x00, 0xD3));
  RunIdle(2000);
  EXPECT_EQ(Pos(0), -50);
}

TEST_F(BoardTest, ClearQueueAndReset) {
  board_.HoldQueue(true);
  Line(0x01, {100}, 1);
  Send(HostSystem(Op::kClearQueue | Op::kImmediate, 0xD3));
  EXPECT_EQ(board_.QueueDepth(), 0);
  Line(0x01, {100}, 1);
  Send(HostSystem(Op::kReset, 0xD3));
  EXPECT_EQ(board_.QueueDepth(), 0);
  EXPECT_TRUE(board_.Idle());
}

TEST_F(BoardTest, ImmediateMotionRunsAtOnce) {
  Profile(10000, 0);
  Write(CAL0, 0x01, {1000}, true);
  Send(HostAction(Op::kLine | Op::kImmediate, 0x01, 4));
  board_.Advance(20);
  EXPECT_GT(Pos(0), 0);
  RunIdle(1000);
  EXPECT_EQ(Pos(0), 1000);
}

TEST_F(BoardTest, HardLimitStopsMotionTowardsIt) {
  Profile(10000, 0);
  Write(AXISSET, 0x01, {(1u << 16) | (1u << 17)}, true);
  board_.SetLimitPositions(0, true, -1000000, 500);
  Line(0x01, {2000}, 1);
  Line(0x01, {0}, 2);
  RunIdle(2000);
  EXPECT_GE(Pos(0), 500);
  EXPECT_LT(Pos(0), 600);
  EXPECT_NE(board_.Reg(AXISSTATUS, 0) & 0x8, 0u);   // upper limit active
  EXPECT_NE(board_.Reg(AXISSTATUS, 0) & 0x80, 0u);  // axis alarm
  EXPECT_NE(board_.Reg(CHIPSTATUS, 0) & 0x80, 0u);
  EXPECT_EQ(board_.QueueDepth(), 0);
  Send(HostSystem(Op::kAlarmReset));
  EXPECT_EQ(board_.Reg(AXISSTATUS, 0) & 0x80, 0u);
  // Scripted input: the lower switch blocks a move down at once.
  board_.SetLimitInput(0, true, false);
  EXPECT_NE(board_.Reg(AXISSTATUS, 0) & 0x4, 0u);
  const int32_t at = Pos(0);
  Line(0x01, {0});
  RunIdle(1000);
  EXPECT_GT(Pos(0), at - 30);
}

TEST_F(BoardTest, SoftLimitsOnNewEnginesOnly) {
  Profile(10000, 0);
  Write(AXISSET, 0x01, {1u << 19}, true);
  Write(SLIMITH, 0x01, {300}, true);
  Line(0x01, {1000});
  RunIdle(1000);
  EXPECT_EQ(Pos(0), 300);
  EXPECT_NE(board_.Reg(AXISSTATUS, 0) & 0x20, 0u);
  Send(HostSystem(Op::kAlarmReset));
  board_.SetEngineVersion(2, 5);  // the host handles soft limits of old engines
  Line(0x01, {1000});
  RunIdle(1000);
  EXPECT_EQ(Pos(0), 1000);
}

TEST_F(BoardTest, SpindleRotatesUntilStopped) {
  Write(CHIPSET, 0x01, {kCompleteOn}, true);
  Write(ACC, 0x01, {10u << 16}, true);
  Write(CAL0, 0x04, {static_cast<uint32_t>(-2000)});
  Send(HostAction(Op::kSpindle, 0x04, 8));
  board_.Advance(300);
  EXPECT_EQ(Take(kCompleteState).size(), 1u);  // up to speed
  const int32_t p = Pos(2);
  board_.Advance(100);
  EXPECT_NEAR(Pos(2) - p, -200, 5);
  EXPECT_FALSE(board_.Idle());
  Send(HostAction(Op::kDecStop, 0x00, 0xD3));
  RunIdle(2000);
  EXPECT_TRUE(board_.Idle());
}

TEST_F(BoardTest, DelayWaitsItsTime) {
  Write(CAL0, 0x01, {150});
  Send(HostAction(Op::kDelay, 0x00));
  board_.Advance(100);
  EXPECT_EQ(board_.Reg(CHIPSTATUS, 5), 50u);
  EXPECT_NEAR(RunIdle(1000), 50, 4);
}

TEST_F(BoardTest, PeriodicStatePacketsAtTheCodedPeriod) {
  Write(CHIPSET, 0x02, {0x04}, true);        // contents: CURPOS
  Write(CHIPSET, 0x01, {0x100}, true);       // period code 1: 25 ms
  Take();
  board_.Advance(100);
  auto f = Take(kState);
  EXPECT_EQ(f.size(), 4u);
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(f[0][4], 0x04);  // state mask
  EXPECT_EQ(f[0][5], 0xFF);  // word mask
  Write(CHIPSET, 0x01, {0x700}, true);       // 1000 ms
  board_.Advance(999);
  EXPECT_TRUE(Take(kState).empty());
  board_.Advance(1);
  EXPECT_EQ(Take(kState).size(), 1u);
  Write(CHIPSET, 0x01, {0}, true);
  board_.Advance(2000);
  EXPECT_TRUE(Take(kState).empty());
}

TEST_F(BoardTest, FullStatePacketIsSplitToFitFrames) {
  for (int i = 0; i < 8; ++i) board_.SetReg(CURPOS, i, 1000 * (i + 1));
  board_.SetReg(GIO, 0, 0x12345678);
  Write(CHIPSET, 0x02, {0x7F | (17u << 8)}, true);  // everything, custom = DRIVEVEL
  Take();
  board_.SendStatePacket(0x7F);
  auto f = Take(kState);
  ASSERT_GE(f.size(), 2u);
  uint8_t all = 0;
  for (auto& fr : f) {
    EXPECT_LE(fr.size(), 129u);
    all |= fr[4];
    // Walk the units: every announced unit is in the body.
    size_t p = 5;
    for (int g = 0; g < 7; ++g) {
      if (!(fr[4] & (1u << g))) continue;
      for (int u = 0; u < (g == 5 ? 2 : 1); ++u) {
        ASSERT_LT(p, fr.size() - 1);
        const uint8_t m = fr[p++];
        if (!m) continue;
        const uint8_t d = fr[p++];
        p += (d & 0x0F) * 4;
      }
    }
    EXPECT_EQ(p, fr.size() - 1);
  }
  EXPECT_EQ(all, 0x7F);
}

TEST_F(BoardTest, BusyAndInterruptPackets) {
  Write(CHIPSET, 0x01, {(1u << 28) | (1u << 30)}, true);
  Take();
  board_.HoldQueue(true);
  for (int i = 0; i < 25; ++i) Send(HostAction(Op::kWait, 0x00));
  auto busy = Take(kBusyState);
  // The interrupt packets follow CHIPSTATUS word 0 bits 0-15; one busy
  // packet goes out when the busy bit rises.
  ASSERT_EQ(busy.size(), 1u);
  EXPECT_EQ(busy[0][4] & 1, 1);
  board_.HoldQueue(false);
  auto irq = Take(kInterruptState);
  ASSERT_FALSE(irq.empty());
  EXPECT_EQ(irq.back()[4] & 1, 0);
}

TEST_F(BoardTest, ComparatorEventPackets) {
  Write(CHIPSET, 0x01, {1u << 31}, true);
  Profile(10000, 0);
  // Channel 0: A = position of axis 1 (source 6), B = COMPARE word 4 (source 25).
  Write(COMPARE, 0x10, {500}, true);
  Write(COMPARE, 0x01, {0x80000000u | (6u << 3) | 1u | (25u << 11) | (4u << 8)}, true);
  Take();
  Line(0x02, {1000});
  RunIdle(1000);
  auto ev = Take(kEventState);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0][4], 0);  // channel
  EXPECT_EQ(ev[0][5], 1);  // now A >= B
}

TEST_F(BoardTest, AnImmediateSpindleBesideARunningMoveStartsAndStopsAtOnce) {
  Write(DRIVEVEL, 0xFF, {1000});
  Line(0x01, {100000});  // axis 0 moves for a long while
  board_.Advance(10);
  Write(CAL0, 0x40, {2000}, true);
  Send(HostAction(Op::kSpindle | Op::kImmediate, 0x40));
  board_.Advance(200);
  EXPECT_GT(board_.Position(6), 0) << "the jog waited for the move";
  Write(CAL0, 0x40, {0}, true);
  Send(HostAction(Op::kSpindle | Op::kImmediate, 0x40));
  board_.Advance(500);
  const double at = board_.Position(6);
  board_.Advance(200);
  EXPECT_DOUBLE_EQ(board_.Position(6), at);
  EXPECT_GT(board_.Position(0), 0);
  EXPECT_LT(board_.Position(0), 100000);  // the move went on meanwhile
}
