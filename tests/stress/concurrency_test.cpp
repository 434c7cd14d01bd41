// Four application threads on two open boards at once, against two
// simulated boards that stream state packets every 25 ms.
//
// Two threads go through the exported calls. The library has one current
// board for the whole process, so, as its contract asks, they hold a mutex
// of their own around each VOXA_Set_BoardID and the calls that follow it.
// The other two threads drive one controller each directly. Between them
// they run setters with read-back, queued and immediate motion commands,
// getters and Enter/Leave sections.
//
// What must hold: no data race (the suite also runs under ThreadSanitizer),
// no deadlock (a watchdog ends the program), every command reaches its board
// exactly once, the setters' writes in the order they were made, and every
// frame the library sent arrives well formed.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "api/board_table.h"
#include "families/shapes.h"
#include "stress_support.h"

using namespace voxa::stress;
using voxa_sim::CmdKind;
using voxa_sim::RxFrame;
using voxa_sim::SimBoard;

namespace {

constexpr uint8_t kWaitCode = 0x52;
constexpr uint8_t kIMoveCode = 0x59;
// The threads issue commands for this long; a board whose soft queue holds
// more than kQueueCap frames gets only getters meanwhile, so that draining
// at the end stays short.
constexpr auto kRunFor = 1500ms;
constexpr int kQueueCap = 1200;
// Far beyond any run, ThreadSanitizer's included: past it a thread is stuck.
constexpr auto kDeadlockAfter = 60s;

std::atomic<uint64_t> g_sent[8];

void VOXA_CALL CountSent(int board, int direction, const unsigned char*, int) {
  if (direction == VOXA_TRACE_SENT && board >= 0 && board < 8) g_sent[board].fetch_add(1, std::memory_order_relaxed);
}

bool IsWriteOf(const RxFrame& f, int reg) {
  return f.Valid() && f.cmd.kind == CmdKind::kRegisterWrite && f.cmd.reg == reg;
}
bool IsAction(const RxFrame& f, uint8_t code) {
  return f.Valid() && f.cmd.kind == CmdKind::kAction && f.cmd.code == code;
}

struct Written {
  uint8_t mask;
  uint32_t value;
  bool operator==(const Written&) const = default;
};

// What one board saw from the threads, as they counted it.
struct Issued {
  std::vector<Written> upper;  // SLIMITH writes, in order (exported calls)
  std::vector<Written> lower;  // SLIMITL writes, in order (controller thread)
  int imoves = 0;
  int waits = 0;
};

// Ends the program when the threads do not finish: a deadlock would
// otherwise hang the run until the harness kills it, with no word on why.
class Watchdog {
 public:
  explicit Watchdog(int threads) : left_(threads) {}
  void Done() {
    std::lock_guard<std::mutex> g(m_);
    if (--left_ == 0) cv_.notify_all();
  }
  void WaitOrAbort() {
    std::unique_lock<std::mutex> g(m_);
    if (!cv_.wait_for(g, kDeadlockAfter, [&] { return left_ == 0; })) {
      std::fprintf(stderr, "%d application threads still running after %lld s: deadlock\n", left_,
                   static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kDeadlockAfter).count()));
      std::abort();
    }
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int left_;
};

}  // namespace

TEST(Concurrency, FourThreadsOnTwoBoardsDeliverEveryCommandInOrder) {
  for (auto& n : g_sent) n.store(0);
  VOXA_Set_TraceHandler(&CountSent);

  std::unique_ptr<SimBoard> sims[2];
  int ids[2];
  for (int b = 0; b < 2; ++b) {
    sims[b] = SimBoard::StartTcp();
    ASSERT_TRUE(sims[b]);
    ids[b] = VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sims[b]->Port(), 0);
    ASSERT_GE(ids[b], 0) << "open failed, error " << VOXA_Get_LastErr();
    ASSERT_TRUE(sims[b]->WaitForConnection(1, 3s));
  }
  for (int b = 0; b < 2; ++b) {
    ASSERT_EQ(VOXA_Set_BoardID(ids[b]), 1);
    ASSERT_EQ(VOXA_Set_StateTimer(kStreamEvery25ms), 1);
  }
  // The board streams: the host's image follows its status.
  for (int b = 0; b < 2; ++b)
    ASSERT_TRUE(sims[b]->WaitState([](const voxa_sim::Board& s) { return ((s.Reg(voxa_sim::CHIPSET, 0) >> 8) & 7) == 1; }, 3s));

  std::mutex app;  // the application's lock around board selection and call
  Issued issued[2];
  std::atomic<int> api_errors{0}, bad_reads{0};
  const auto stop_at = Clock::now() + kRunFor;
  auto crowded = [&](int b) { return voxa::api::BoardAt(ids[b]).soft_queue().frames() > kQueueCap; };
  Watchdog watchdog(4);

  // Exported calls: a queued setter per board and axis, read back at once.
  std::thread setters([&] {
    for (uint32_t k = 0; Clock::now() < stop_at; ++k) {
      const int b = k & 1;
      const uint8_t mask = static_cast<uint8_t>(1u << ((k >> 1) % 8));
      const uint32_t value = 0x40000000u | (static_cast<uint32_t>(b) << 24) | k;
      std::lock_guard<std::mutex> g(app);
      VOXA_Set_BoardID(ids[b]);
      if (!crowded(b)) {
        VOXA_Enter_QueueCmd();
        VOXA_Set_SoftUpperLimit(mask, static_cast<int>(value));
        if (static_cast<uint32_t>(VOXA_Get_SoftUpperLimit(mask)) != value) ++bad_reads;
        VOXA_Leave_QueueCmd();
        issued[b].upper.push_back({mask, value});
      }
      (void)VOXA_Get_CurPos(mask);
      (void)VOXA_Is_Busy();
      if (VOXA_Is_Err()) ++api_errors;
    }
    watchdog.Done();
  });

  // Exported calls: motion commands in queued and immediate sections.
  std::thread movers([&] {
    const int none[8] = {};
    for (uint32_t k = 0; Clock::now() < stop_at; ++k) {
      const int b = (k >> 1) & 1;
      std::lock_guard<std::mutex> g(app);
      VOXA_Set_BoardID(ids[b]);
      if (!crowded(b)) {
        (k & 1) ? VOXA_Enter_ImCmd() : VOXA_Enter_QueueCmd();
        VOXA_IMove(0x03, none);
        VOXA_IMove(0x0C, none);
        (k & 1) ? VOXA_Leave_ImCmd() : VOXA_Leave_QueueCmd();
        issued[b].imoves += 2;
      }
      (void)VOXA_Get_EncPos(0x01);
      (void)VOXA_Get_SoftQueueLeftCmd();
      (void)VOXA_Is_Complete();
      if (VOXA_Is_Err()) ++api_errors;
    }
    watchdog.Done();
  });

  // One controller each, driven directly: waits in queued and immediate
  // sections, a setter with read-back, getters.
  auto direct = [&](int b) {
    auto& c = voxa::api::BoardAt(ids[b]);
    for (uint32_t k = 0; Clock::now() < stop_at; ++k) {
      if (!crowded(b)) {
        if (k % 3 == 0) {
          c.EnterImCmd();
          voxa::family::Act(c, kWaitCode, 0);
          voxa::family::Act(c, kWaitCode, 0);
          c.LeaveImCmd();
        } else {
          const uint8_t mask = static_cast<uint8_t>(1u << (k % 8));
          const uint32_t value = 0x20000000u | (static_cast<uint32_t>(b) << 24) | k;
          c.EnterQueueCmd();
          voxa::family::Act(c, kWaitCode, 0);
          voxa::family::SetAxisWord(c, voxa::SLIMITL, mask, value);
          voxa::family::Act(c, kWaitCode, 0);
          if (voxa::family::GetAxisWord(c, voxa::SLIMITL, mask) != value) ++bad_reads;
          c.LeaveQueueCmd();
          issued[b].lower.push_back({mask, value});
        }
        issued[b].waits += 2;
      }
      (void)c.GetRegWord(voxa::CURPOS, static_cast<int>(k % 8));
      (void)c.TestRegBits(voxa::CHIPSTATUS, 0, 0x1);
      (void)c.IsLinked();
    }
    watchdog.Done();
  };
  std::thread direct0(direct, 0);
  std::thread direct1(direct, 1);

  watchdog.WaitOrAbort();
  setters.join();
  movers.join();
  direct0.join();
  direct1.join();

  EXPECT_EQ(api_errors.load(), 0);
  EXPECT_EQ(bad_reads.load(), 0);

  for (int b = 0; b < 2; ++b) {
    SCOPED_TRACE("board " + std::to_string(b));
    const Issued& is = issued[b];
    // Each kind went out often enough to interleave with the others (a
    // loaded machine or an emulator gets through far fewer in the time).
    ASSERT_GT(is.upper.size(), 10u);
    ASSERT_GT(is.imoves, 10);
    ASSERT_GT(is.waits, 10);
    auto& c = voxa::api::BoardAt(ids[b]);
    ASSERT_TRUE(Eventually([&] { return c.soft_queue().frames() == 0; }, 20s)) << c.soft_queue().frames() << " frames left";

    // Every command arrived once; the writes in the order they were made.
    auto& sim = *sims[b];
    auto upper = sim.WaitFrames([](const RxFrame& f) { return IsWriteOf(f, voxa_sim::SLIMITH); }, is.upper.size(), 5s);
    auto lower = sim.WaitFrames([](const RxFrame& f) { return IsWriteOf(f, voxa_sim::SLIMITL); }, is.lower.size(), 5s);
    auto moves = sim.WaitFrames([](const RxFrame& f) { return IsAction(f, kIMoveCode); }, is.imoves, 5s);
    auto waits = sim.WaitFrames([](const RxFrame& f) { return IsAction(f, kWaitCode); }, is.waits, 5s);
    EXPECT_EQ(moves.size(), static_cast<size_t>(is.imoves));
    EXPECT_EQ(waits.size(), static_cast<size_t>(is.waits));
    auto as_written = [](const std::vector<RxFrame>& frames) {
      std::vector<Written> out;
      for (const auto& f : frames) out.push_back({f.cmd.mask, f.cmd.values[0]});
      return out;
    };
    EXPECT_EQ(as_written(upper), is.upper);
    EXPECT_EQ(as_written(lower), is.lower);
    // Nothing arrived twice.
    EXPECT_EQ(sim.Frames([](const RxFrame& f) { return IsAction(f, kIMoveCode); }).size(), static_cast<size_t>(is.imoves));
    EXPECT_EQ(sim.Frames([](const RxFrame& f) { return IsAction(f, kWaitCode); }).size(), static_cast<size_t>(is.waits));
  }

  // Close both; then every frame the library sent has arrived, well formed.
  for (int b = 0; b < 2; ++b) {
    ASSERT_EQ(VOXA_Set_BoardID(ids[b]), 1);
    const auto t0 = Clock::now();
    EXPECT_EQ(VOXA_Close(), 1);
    EXPECT_LT(MsSince(t0), 1200.0);
  }
  VOXA_Set_TraceHandler(nullptr);
  for (int b = 0; b < 2; ++b) {
    SCOPED_TRACE("board " + std::to_string(b));
    const uint64_t sent = g_sent[ids[b]].load();
    auto all = sims[b]->WaitFrames([](const RxFrame&) { return true; }, sent, 5s);
    EXPECT_EQ(all.size(), sent);
    EXPECT_EQ(sims[b]->FrameCount(), sent);
    EXPECT_TRUE(sims[b]->Frames([](const RxFrame& f) { return !f.Valid(); }).empty());
    const auto st = sims[b]->Stats();
    EXPECT_EQ(st.checksum_errors, 0u);
    EXPECT_EQ(st.length_errors, 0u);
    EXPECT_EQ(st.junk_bytes, 0u);
    EXPECT_GT(st.frames_out, 40u) << "the board did not stream";
  }
}
