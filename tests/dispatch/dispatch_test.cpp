// The dispatch thread's state notes: posted in batches by the receive path,
// delivered in order among the board's other notes, merged only when the
// handler falls behind, never lost. The thread itself ends when idle and
// starts again for the next note.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/dispatch.h"

namespace {

using voxa::dispatch::StateBatch;

std::mutex g_lock;
std::vector<uint64_t> g_seen;  // state times, and ~0 for a message
std::atomic<bool> g_hold{false};
std::atomic<int> g_calls{0};
uint32_t g_masks = 0;

void VOXA_CALL OnState(int, uint32_t registers, uint64_t time_us) {
  ++g_calls;
  while (g_hold.load()) std::this_thread::yield();
  std::lock_guard<std::mutex> g(g_lock);
  g_seen.push_back(time_us);
  g_masks |= registers;
}
void VOXA_CALL OnMessage(int, VOXA_HWND, unsigned int, uintptr_t, intptr_t) {
  std::lock_guard<std::mutex> g(g_lock);
  g_seen.push_back(~0ull);
}

struct DispatchStates : ::testing::Test {
  void SetUp() override {
    g_seen.clear();
    g_masks = 0;
    voxa::dispatch::SetStateHandler(&OnState);
    voxa::dispatch::SetBoardMessageHandler(&OnMessage);
  }
  void TearDown() override {
    g_hold = false;
    voxa::dispatch::SetStateHandler(nullptr);
    voxa::dispatch::SetBoardMessageHandler(nullptr);
    voxa::dispatch::Drain();
  }
  StateBatch batch;
};

TEST_F(DispatchStates, KeepTheirOrderAmongMessagesAndWaitForNoWakeToBeDelivered) {
  const int board = 3;
  const uint32_t drops = voxa::dispatch::StateDrops(board);
  // Blocks flushed without a wake, a message in the middle, a burst larger
  // than the batch: a drain still sees every note, in order.
  for (uint64_t t = 1; t <= 1500; ++t) {
    batch.Add(board, 1u << (t % 20), t);
    if (t == 700) {
      batch.Flush(board, false);
      voxa::dispatch::Message(board, reinterpret_cast<VOXA_HWND>(1), 0x400, 0, 0);
    }
    if (t % 300 == 0) batch.Flush(board, false);
  }
  batch.Flush(board, false);
  voxa::dispatch::Drain();
  std::lock_guard<std::mutex> g(g_lock);
  ASSERT_EQ(g_seen.size(), 1501u);
  for (size_t i = 0; i < 1501; ++i) EXPECT_EQ(g_seen[i], i < 700 ? i + 1 : i == 700 ? ~0ull : i) << i;
  EXPECT_EQ(voxa::dispatch::StateDrops(board), drops);
}

TEST_F(DispatchStates, AreMergedWhenTheHandlerFallsBehindAndNothingIsLost) {
  const int board = 5;
  const uint32_t drops = voxa::dispatch::StateDrops(board);
  g_hold = true;
  const int before = g_calls.load();
  batch.Add(board, 1, 1);
  batch.Flush(board, true);
  while (g_calls.load() == before) std::this_thread::yield();  // the handler is stuck in its first call
  uint32_t all = 1;
  for (uint64_t t = 2; t <= 20000; ++t) {
    const uint32_t mask = 1u << (t % 31);
    all |= mask;
    batch.Add(board, mask, t);
  }
  batch.Flush(board, true);
  g_hold = false;
  voxa::dispatch::Drain();
  std::lock_guard<std::mutex> g(g_lock);
  EXPECT_GT(voxa::dispatch::StateDrops(board), drops);
  EXPECT_EQ(g_seen.size() + (voxa::dispatch::StateDrops(board) - drops), 20000u);
  EXPECT_EQ(g_masks, all);
  EXPECT_EQ(g_seen.back(), 20000u);
  EXPECT_TRUE(std::is_sorted(g_seen.begin(), g_seen.end()));
}

TEST_F(DispatchStates, ThreadEndsWhenIdleAndTheNextNoteStartsItAgain) {
  batch.Add(1, 1, 1);
  batch.Flush(1, true);
  voxa::dispatch::Drain();
  // A second with nothing queued ends it (allowing a slow machine more).
  EXPECT_TRUE(voxa::dispatch::AwaitThreadEnd(5000));
  batch.Add(1, 2, 2);
  batch.Flush(1, true);
  voxa::dispatch::Drain();
  std::lock_guard<std::mutex> g(g_lock);
  EXPECT_EQ(g_seen, (std::vector<uint64_t>{1, 2}));
}

}  // namespace

namespace {

std::mutex g_ids_lock;
std::vector<std::thread::id> g_ids;  // the threads that delivered, in order

void VOXA_CALL OnStateThread(int, uint32_t, uint64_t) {
  std::lock_guard<std::mutex> g(g_ids_lock);
  if (g_ids.empty() || g_ids.back() != std::this_thread::get_id()) g_ids.push_back(std::this_thread::get_id());
}

// Notes every 10 ms never leave the thread idle; it still hands over to a
// fresh one after a short while, so that a runtime waiting at its exit for
// every thread that ran its code is not held up. Nothing is lost meanwhile.
TEST(DispatchThread, HandsOverToAFreshThreadUnderSteadyNotes) {
  voxa::dispatch::SetStateHandler(&OnStateThread);
  StateBatch batch;
  for (int i = 0; i < 150; ++i) {
    batch.Add(2, 1, static_cast<uint64_t>(i));
    batch.Flush(2, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  voxa::dispatch::Drain();
  voxa::dispatch::SetStateHandler(nullptr);
  std::lock_guard<std::mutex> g(g_ids_lock);
  EXPECT_GE(g_ids.size(), 2u);
}

}  // namespace
