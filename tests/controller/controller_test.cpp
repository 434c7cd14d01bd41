// The controller against a fake board on loopback: frames on the wire in
// both command modes, soft-queue pacing, command groups, completion waits,
// messages, the link watchdog and closing under traffic.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "api/board_table.h"
#include "support/eventually.h"
#include "support/peer.h"
#include "transport/loopback_link.h"
#include "voxa/voxa.h"

namespace {

using voxa::test::FakeBoard;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

voxa::Controller& Current() { return voxa::api::BoardAt(VOXA_Get_BoardID()); }

TEST(Controller, QueuedAndImmediateFramesCarryTheirTagsAndFlag) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  VOXA_Set_CmdID(0x1234);
  EXPECT_EQ(VOXA_Get_CmdID(), 0x34);
  VOXA_Set_ProcCmdNo(0x1F);
  auto w = peer.NextFrame();
  ASSERT_TRUE(w);
  EXPECT_EQ(w->opcode, 0x11);  // queued CHIPSET write
  EXPECT_EQ(w->mask, 0x02);
  EXPECT_EQ(w->tag, 0x34);
  ASSERT_EQ(w->values.size(), 1u);
  EXPECT_EQ(w->values[0], 0xF0000000u);
  VOXA_Sync();
  auto a = peer.NextFrame();
  ASSERT_TRUE(a);
  EXPECT_EQ(a->opcode, 0x53);
  EXPECT_EQ(a->tag, 0x34);
  // Tag 0xFE means no tag byte at all.
  VOXA_Set_CmdID(0xFE);
  VOXA_Sync();
  a = peer.NextFrame();
  ASSERT_TRUE(a);
  EXPECT_EQ(a->tag, -1);
  EXPECT_EQ(a->raw.size(), 6u);
  // Immediate mode: the flag on every command.
  VOXA_Enter_ImCmd();
  auto enter = peer.NextFrame();
  ASSERT_TRUE(enter);
  EXPECT_EQ(enter->opcode, 0x8C);
  EXPECT_EQ(enter->tag, 0xD3);
  VOXA_Sync();
  a = peer.NextFrame();
  ASSERT_TRUE(a);
  EXPECT_EQ(a->opcode, 0xD3);
  VOXA_Leave_ImCmd();
  auto leave = peer.NextFrame();
  ASSERT_TRUE(leave);
  EXPECT_EQ(leave->opcode, 0x8D);
  EXPECT_EQ(Current().CommandMode(), 0);
}

TEST(Controller, CommandGroupsNestAndUnderflow) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  VOXA_Enter_ImCmd();
  ASSERT_TRUE(peer.NextFrameWithCode(0x0C));
  VOXA_Enter_QueueCmd();  // from immediate: nothing sent
  EXPECT_TRUE(peer.ExpectNoFrame(60));
  EXPECT_EQ(Current().CommandMode(), 0);
  VOXA_Leave_QueueCmd();  // back to immediate: 0x8C again
  auto f = peer.NextFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->opcode, 0x8C);
  VOXA_Leave_ImCmd();
  ASSERT_TRUE(peer.NextFrameWithCode(0x0D));
  // A Leave without its Enter pops 0x77: queued mode, and nothing breaks.
  VOXA_Leave_QueueCmd();
  EXPECT_EQ(Current().CommandMode(), 0x77);
  VOXA_Sync();
  f = peer.NextFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->opcode, 0x53);
  // An unmatched Leave_ImCmd stays immediate and sends nothing.
  VOXA_Leave_ImCmd();
  EXPECT_EQ(Current().CommandMode(), 0x80);
  EXPECT_TRUE(peer.ExpectNoFrame(40));
  Current().SetCommandMode(0);
}

TEST(Controller, AnotherThreadWaitsForTheGroupToEnd) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  VOXA_Enter_QueueCmd();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    VOXA_Enter_ImCmd();
    entered = true;
    VOXA_Leave_ImCmd();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());
  VOXA_Leave_QueueCmd();
  other.join();
  EXPECT_TRUE(entered.load());
}

TEST(Controller, SoftQueueDrainsAtTheBoardsPace) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  auto& c = Current();
  // Busy board: nothing leaves the soft queue.
  c.SetRegWord(voxa::CHIPSTATUS, 0, 1);
  for (int k = 0; k < 100; ++k) VOXA_Sync();
  EXPECT_EQ(VOXA_Get_SoftQueueLeftCmd(), 100);
  EXPECT_TRUE(peer.ExpectNoFrame(60));
  // 95 commands waiting in the board: at most 5 frames a tick.
  c.SetRegWord(voxa::CHIPSTATUS, 1, 95 << 8);
  EXPECT_EQ(VOXA_Get_CmdQueueLeftCmd(), 195);
  c.SetRegWord(voxa::CHIPSTATUS, 0, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  const int left = VOXA_Get_SoftQueueLeftCmd();
  EXPECT_LT(left, 100);
  EXPECT_GT(left, 40);  // unpaced, 24 a tick would have emptied it
  // An empty board queue: the rest leave within a few ticks.
  c.SetRegWord(voxa::CHIPSTATUS, 1, 0);
  const auto t0 = Clock::now();
  while (VOXA_Get_SoftQueueLeftCmd() > 0 && Clock::now() - t0 < std::chrono::seconds(2))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(VOXA_Get_SoftQueueLeftCmd(), 0);
  EXPECT_EQ(peer.Drain().size(), 100u);
  // The storage is held from construction: reallocating fails with -11.
  EXPECT_EQ(VOXA_Reallocate_SoftQueue(1000), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_SOFT_QUEUE);
  EXPECT_EQ(VOXA_Get_SoftQueueSize(), 0xA00000);
}

TEST(Controller, ExecutionStatusAndBusySizeReadTheirBits) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  auto& c = Current();
  // Percent to the board's four steps, sent as CHIPSET word 0 bits 11-12.
  const int sizes[][3] = {{-5, 0, 25}, {37, 0, 25}, {38, 0x800, 50}, {62, 0x800, 50},
                          {63, 0x1000, 75}, {87, 0x1000, 75}, {88, 0x1800, 100}};
  for (const auto& s : sizes) {
    EXPECT_EQ(VOXA_Set_BusySize(s[0]), 1);
    EXPECT_EQ(VOXA_Get_BusySize(), s[2]) << s[0];
    auto w = peer.NextFrame();
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->is_write(voxa::CHIPSET) && w->mask == 0x01) << s[0];
    EXPECT_EQ(w->values.at(0) & 0x1800u, static_cast<uint32_t>(s[1])) << s[0];
  }
  // CHIPSTATUS as the board reports it.
  c.SetRegWord(voxa::CHIPSTATUS, 0, 0x2000 | 0x8000 | 0x40);
  c.SetRegWord(voxa::CHIPSTATUS, 1, 0xAABB05CC);
  c.SetRegWord(voxa::CHIPSTATUS, 5, 0xFF123456);
  EXPECT_EQ(VOXA_Get_CmdState(), 2);
  EXPECT_EQ(VOXA_Is_PreparedCmd(), 1);
  EXPECT_EQ(VOXA_Is_OnMotion(), 1);
  EXPECT_EQ(VOXA_Is_Busy(), 0);
  EXPECT_EQ(VOXA_Get_ScanTime(), 0xCC);
  EXPECT_EQ(VOXA_Get_EngineQueueLeftCmd(), 5);
  EXPECT_EQ(VOXA_Get_ReadyCmdID(), 0xBB);
  EXPECT_EQ(VOXA_Get_ExeCmdID(), 0xAA);
  EXPECT_EQ(VOXA_Get_CurDelayTime(), 0x123456);
  c.SetRegWord(voxa::AXISSTATUS, 0, 0x800000);
  EXPECT_EQ(VOXA_Is_CompleteAxis(0x05), 0);
  c.SetRegWord(voxa::AXISSTATUS, 2, 0x800000);
  EXPECT_EQ(VOXA_Is_CompleteAxis(0x05), 1);
  EXPECT_EQ(VOXA_Is_CompleteAxis(0), 1);
  c.SetRegWord(voxa::CHIPSTATUS, 0, 0);
  c.SetRegWord(voxa::CHIPSTATUS, 1, 0);
  c.SetRegWord(voxa::AXISSTATUS, 0, 0);
  c.SetRegWord(voxa::AXISSTATUS, 2, 0);
}

TEST(Controller, ClearQueueAndResetOvertakeQueuedCommands) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  auto& c = Current();
  c.SetRegWord(voxa::CHIPSTATUS, 0, 1);
  for (int k = 0; k < 10; ++k) VOXA_Sync();
  EXPECT_EQ(VOXA_Clr_Queue(), 1);
  EXPECT_EQ(VOXA_Get_SoftQueueLeftCmd(), 1);  // only the clear command itself
  c.SetRegWord(voxa::CHIPSTATUS, 0, 0);
  auto f = peer.NextFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->code, 0x08);
  EXPECT_EQ(f->tag, 0xD3);
  EXPECT_TRUE(peer.ExpectNoFrame(50));
}

TEST(Controller, WaitMotionMatchesIdsAndTimesOutQuietly) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  VOXA_Enter_ImCmd();
  ASSERT_TRUE(peer.NextFrameWithCode(0x0C));
  // A specific ID: other completions do not end the wait.
  VOXA_Notify_Complete(5);
  auto n = peer.NextFrame();
  ASSERT_TRUE(n);
  EXPECT_EQ(n->opcode, 0x8A);
  EXPECT_EQ(n->tag, 5);
  std::thread board([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    peer.SendComplete(4);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    peer.SendComplete(5);
  });
  const auto t0 = Clock::now();
  EXPECT_EQ(VOXA_WaitMotion(5, 2000), 1);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(50));
  board.join();
  // 0xFF accepts any ID.
  std::thread any([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    peer.SendComplete(9);
  });
  EXPECT_EQ(VOXA_WaitMotion(0xFF, 2000), 1);
  any.join();
  // A timeout returns 0 after the time and leaves the error state alone.
  const auto t1 = Clock::now();
  EXPECT_EQ(VOXA_WaitMotion(6, 50), 0);
  EXPECT_GE(Clock::now() - t1, std::chrono::milliseconds(50));
  EXPECT_EQ(VOXA_Is_Err(), 0);
  VOXA_Leave_ImCmd();
}

TEST(Controller, ACompletionReportedBeforeTheWaitIsNotLost) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  VOXA_Enter_ImCmd();
  VOXA_Notify_Complete(0x21);
  ASSERT_TRUE(peer.NextFrameWithCode(0x0A));
  peer.SendComplete(0x21);
  // Let the completion arrive before anyone waits for it.
  const auto t0 = Clock::now();
  while (VOXA_Get_CompleteStatePacketCount() == 0 && Clock::now() - t0 < std::chrono::seconds(1))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(VOXA_WaitMotion(0x21, 500), 1);
  // A new command with the same ID forgets the old report.
  VOXA_Notify_Complete(0x21);
  EXPECT_EQ(VOXA_WaitMotion(0x21, 30), 0);
  // A report of an ID this host never sent ends no later wait.
  const int reports = VOXA_Get_CompleteStatePacketCount();
  peer.SendComplete(0x31);
  ASSERT_TRUE(voxa::test::Eventually([&] { return VOXA_Get_CompleteStatePacketCount() > reports; }, 1000ms));
  EXPECT_EQ(VOXA_WaitMotion(0x31, 30), 0);
  VOXA_Leave_ImCmd();
}

struct Posted {
  std::atomic<int> count{0};
  std::atomic<intptr_t> lparam{0};
  std::atomic<uintptr_t> wparam{0};
  std::atomic<unsigned> message{0};
} g_posted;

void VOXA_CALL OnMessage(VOXA_HWND, unsigned message, uintptr_t wparam, intptr_t lparam) {
  g_posted.message = message;
  g_posted.wparam = wparam;
  g_posted.lparam = lparam;
  ++g_posted.count;
}

TEST(Controller, CompleteAndComparatorMessagesReachTheHandler) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  VOXA_Set_MessageHandler(&OnMessage);
  int window = 0;
  VOXA_Register_Complete_Message(&window, 0x401);
  VOXA_Register_Comparator_Message(&window, 0x402);
  peer.SendPacket(14, {0x07, 0, 0, 0});
  const auto t0 = Clock::now();
  while (g_posted.count < 1 && Clock::now() - t0 < std::chrono::seconds(1))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(g_posted.lparam.load(), 7);
  EXPECT_EQ(g_posted.message.load(), 0x401u);
  EXPECT_EQ(g_posted.wparam.load(), reinterpret_cast<uintptr_t>(&Current()));
  peer.SendPacket(10, {0x11, 0x22, 0x33, 0x44});
  while (g_posted.count < 2 && Clock::now() - t0 < std::chrono::seconds(1))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(g_posted.message.load(), 0x402u);
  EXPECT_EQ(g_posted.lparam.load(), 0x44332211);
  // Unregistered: nothing more is posted.
  VOXA_Unregister_Complete_Message();
  peer.SendPacket(14, {0x08, 0, 0, 0});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(g_posted.count.load(), 2);
  VOXA_Unregister_Comparator_Message();
  VOXA_Set_MessageHandler(nullptr);
}

TEST(Controller, LinkFlagFollowsHeartbeats) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  const auto t0 = Clock::now();
  while (!VOXA_Is_Link() && Clock::now() - t0 < std::chrono::milliseconds(3400))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(VOXA_Is_Link());
  EXPECT_LE(Clock::now() - t0, std::chrono::milliseconds(3300));
  peer.AnswerKeepAlives(false);
  const auto t1 = Clock::now();
  while (VOXA_Is_Link() && Clock::now() - t1 < std::chrono::milliseconds(6500))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(VOXA_Is_Link());
}

TEST(Controller, CloseDuringTrafficEndsEveryThread) {
  for (int round = 0; round < 3; ++round) {
    FakeBoard peer;
    const int id = peer.Open();
    ASSERT_GE(id, 0);
    std::atomic<bool> stop{false};
    std::thread traffic([&] {
      while (!stop) {
        VOXA_Sync();
        VOXA_Set_ProcCmdNo(3);
        peer.SendPacket(9, {0});
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto t0 = Clock::now();
    VOXA_Set_BoardID(id);
    VOXA_Close();
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1200));
    stop = true;
    traffic.join();
    EXPECT_FALSE(voxa::api::BoardAt(id).IsOpen());
    voxa::api::BoardAt(id).ClearSoftQueue();
  }
}

}  // namespace

namespace {

TEST(Controller, LoopbackLinkOpensWithoutAPeerAndCountsAsLinked) {
  const int id = VOXA_Open_Comm(0xFFFF, 115200);
  ASSERT_GE(id, 0);
  EXPECT_EQ(voxa::api::BoardAt(id).PortNumber(), 0xFFFF);
  const auto t0 = Clock::now();
  while (!VOXA_Is_Link() && Clock::now() - t0 < std::chrono::milliseconds(500))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(VOXA_Is_Link(), 1);
  // Not a serial port: the baud rate cannot change.
  EXPECT_EQ(VOXA_Change_Comm_Baudrate(9600), 0);
  VOXA_Close();
  EXPECT_FALSE(voxa::api::BoardAt(id).IsOpen());
  // A TCP open of the slot leaves its port number as it was.
  FakeBoard peer;
  ASSERT_EQ(peer.Open(), id);
  EXPECT_EQ(voxa::api::BoardAt(id).PortNumber(), 0xFFFF);
}

}  // namespace

namespace {

std::atomic<int> g_closed_from_handler{0};
void VOXA_CALL CloseFromHandler(VOXA_HWND, unsigned, uintptr_t, intptr_t) {
  VOXA_Close();
  ++g_closed_from_handler;
}

TEST(Controller, ClosingFromTheMessageHandlerNeitherHangsNorBlocksAReopen) {
  FakeBoard peer;
  const int id = peer.Open();
  ASSERT_GE(id, 0);
  VOXA_Set_MessageHandler(&CloseFromHandler);
  int window = 0;
  VOXA_Register_Complete_Message(&window, 1);
  peer.SendComplete(1);
  const auto t0 = Clock::now();
  while (g_closed_from_handler == 0 && Clock::now() - t0 < std::chrono::seconds(2))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(g_closed_from_handler.load(), 1);
  EXPECT_FALSE(voxa::api::BoardAt(id).IsOpen());
  VOXA_Set_MessageHandler(nullptr);
  FakeBoard again;
  EXPECT_EQ(again.Open(), id);
  VOXA_Unregister_Complete_Message();
}

}  // namespace

TEST(Controller, BytesTheBoardSendsAtAcceptAreParsedAtOnce) {
  // A board that greets every connection with a burst (completions, then a
  // position): each open parses the whole burst at once, without waiting
  // for more bytes.
  FakeBoard peer;
  peer.AnswerKeepAlives(false);  // nothing else wakes the receive side
  const int32_t base = static_cast<int32_t>(Clock::now().time_since_epoch().count() & 0xFFFFF) * 8;
  for (int round = 0; round < 3; ++round) {
    std::vector<uint8_t> burst;
    for (int k = 0; k < 300; ++k) {
      const auto p = voxa::test::Packet(14, {static_cast<uint8_t>(k), 0, 0, 0});
      burst.insert(burst.end(), p.begin(), p.end());
    }
    const uint32_t v = static_cast<uint32_t>(base + round);
    const auto reply = voxa::test::Packet(16 + 2 * 6, {0x01, 0x21, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                                       static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
    burst.insert(burst.end(), reply.begin(), reply.end());
    peer.SendOnAccept(burst);
    ASSERT_GE(peer.Open(), 0);
    EXPECT_TRUE(voxa::test::Eventually([&] { return VOXA_Get_CurPos(0x01) == base + round; }, 500ms))
        << "round " << round;
    peer.Close();
  }
}

TEST(Controller, ARefreshIsAnsweredOnlyByItsOwnRequest) {
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  const unsigned curpos = 1u << 6;
  // The first refresh gives up; its request is answered late.
  EXPECT_EQ(VOXA_Refresh(curpos, 100), 0);
  ASSERT_TRUE(peer.NextFrameWithCode(0x1C));
  std::atomic<int> result{-1};
  std::atomic<int> value{0};
  std::thread second([&] {
    const int r = VOXA_Refresh(curpos, 3000);
    value = VOXA_Get_CurPos(0x01);
    result = r;
  });
  ASSERT_TRUE(peer.NextFrameWithCode(0x1C));
  peer.SendReadReply(6, 0x01, {111}, 0xFC);  // the first request's answer
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(result.load(), -1) << "a late answer ended a newer refresh";
  peer.SendReadReply(6, 0x01, {222}, 0xFC);
  second.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(value.load(), 222);
  peer.Close();
}


namespace {

// The controller over an in-process link: no socket, no thread of the link's
// own. Frames reach the peer whole and in order; the board's completion
// report, delivered on another thread, ends a wait.
TEST(Controller, RunsOverAnInProcessLink) {
  voxa::Controller c;
  std::mutex lock;
  std::vector<uint8_t> wire;
  voxa::LoopbackLink link(c.Events(), [&](const uint8_t* p, uint32_t n) {
    std::lock_guard<std::mutex> g(lock);
    wire.insert(wire.end(), p, p + n);
  });
  ASSERT_EQ(c.OpenLink(link, "in-process"), 1);
  EXPECT_EQ(c.IsTcp(), 0);
  c.SetCommandMode(voxa::kImmediate);
  c.NoteIdSent(5);
  ASSERT_EQ(c.System(0x0A, 5), 1);  // notify complete, ID 5
  {
    std::lock_guard<std::mutex> g(lock);
    const auto f = voxa::test::DecodeHostFrame(wire);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->opcode, 0x8A);
    EXPECT_EQ(f->tag, 5);
  }
  std::thread board([&] {
    const auto report = voxa::test::Packet(14, {5, 0, 0, 0});
    link.Deliver(report.data(), static_cast<uint32_t>(report.size()));
  });
  EXPECT_EQ(c.WaitMotion(5, 2000), 1);
  EXPECT_EQ(c.WaitReason(), VOXA_COMPLETE_ENDED);
  board.join();
  c.Unlink();
  EXPECT_FALSE(link.IsOpen());
}

}  // namespace
