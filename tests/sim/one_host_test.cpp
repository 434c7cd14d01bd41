// The simulated board serves one host at a time, and its host watchdog
// stops the axes of a host that fell silent.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "sim_host.h"
#include "voxa/voxa.h"

using namespace voxa_sim;
using namespace voxa::test;
using namespace std::chrono_literals;

namespace {

const Bytes kKeepAlive = HostSystem(0x89, 0xFD);

bool Served(Host& h) {
  h.Send(kKeepAlive);
  return h.Frames(1, 2s).size() == 1;
}

bool TurnedAway(Host& h) {
  h.Frames(1, 2s);
  return h.Closed() && h.RawBytes().empty();
}

std::mutex g_lock;
std::vector<std::array<int, 3>> g_links;
void VOXA_CALL OnLink(int, int state, int reason, int) {
  std::lock_guard<std::mutex> g(g_lock);
  g_links.push_back({state, reason, 0});
}

}  // namespace

TEST(OneHost, ALiveHostKeepsTheBoardAClosedOrSilentOneLosesIt) {
  auto sim = SimBoard::StartTcp();
  ASSERT_TRUE(sim);
  auto a = std::make_unique<Host>(sim->Port());
  ASSERT_TRUE(Served(*a));
  {
    Host b(sim->Port());
    EXPECT_TRUE(TurnedAway(b));
  }
  EXPECT_TRUE(Served(*a)) << "the first host is not disturbed";
  EXPECT_EQ(sim->Stats().turned_away, 1u);
  EXPECT_EQ(sim->ConnectionCount(), 1u);

  // Closed and opened again at once: the new connection is served.
  a.reset();
  Host c(sim->Port());
  EXPECT_TRUE(Served(c));
  EXPECT_EQ(sim->ConnectionCount(), 2u);

  // A host silent for longer than kLiveHost (a pulled cable) loses it.
  std::this_thread::sleep_for(kLiveHost + 100ms);
  Host d(sim->Port());
  EXPECT_TRUE(Served(d));
  c.Frames(1, 2s);
  EXPECT_TRUE(c.Closed());
  EXPECT_EQ(sim->Stats().turned_away, 1u);
}

TEST(OneHost, TheLibrarysMoveGoesOnWhileOthersAreTurnedAway) {
  auto sim = SimBoard::StartTcp();
  ASSERT_TRUE(sim);
  {
    std::lock_guard<std::mutex> g(g_lock);
    g_links.clear();
  }
  VOXA_Set_LinkHandler(&OnLink);
  const int board = VOXA_Open_Tcp(LoopbackAddress(), sim->Port(), 0);
  ASSERT_GE(board, 0);
  VOXA_Enable_CompleteStatePacket(1);
  VOXA_Set_DriveVel(2000);
  VOXA_Set_CmdID(7);
  int target[8] = {1600};
  VOXA_Line(1, target);
  VOXA_Set_CmdID(VOXA_CMDID_NONE);
  // Others try for the board while the move runs.
  for (int i = 0; i < 6; ++i) {
    Host other(sim->Port());
    EXPECT_TRUE(TurnedAway(other)) << i;
    std::this_thread::sleep_for(60ms);
  }
  EXPECT_EQ(VOXA_WaitMotion(7, 5000), 1);
  EXPECT_EQ(sim->Position(0), 1600);
  EXPECT_EQ(sim->ConnectionCount(), 1u);
  EXPECT_EQ(sim->Stats().turned_away, 6u);
  VOXA_Close();
  VOXA_Set_LinkHandler(nullptr);
  std::lock_guard<std::mutex> g(g_lock);
  for (const auto& l : g_links) EXPECT_NE(l[0], VOXA_LINK_RECONNECTING) << "reason " << l[1];
}

TEST(OneHost, HostWatchdogStopsTheAxesOfASilentHost) {
  SimOptions opt;
  opt.host_watchdog_ms = 300;
  auto sim = SimBoard::StartTcp(0, opt);
  ASSERT_TRUE(sim);
  Host host(sim->Port());
  uint32_t w[8] = {5000};
  host.Send(HostWrite(CAL0, 0x01, w, false, 0x11));
  host.Send(HostAction(0x5B, 0x01, 0x11));  // about 5 s at 1000 pulses/s
  host.Send(HostAction(0x5B, 0x01, 0x12));  // queued behind it: dropped too
  // A host that talks keeps its move going.
  auto silent = Clock::now();
  for (int i = 0; i < 6; ++i) {
    host.Send(kKeepAlive);
    silent = Clock::now();
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_FALSE(sim->IsIdle());
  EXPECT_EQ(sim->Stats().watchdog_stops, 0u);
  // Silent since the last keep-alive: the axes stop.
  ASSERT_TRUE(sim->WaitIdle(2s));
  EXPECT_GE(Clock::now() - silent, 250ms);
  EXPECT_LT(sim->Position(0), 2500);
  EXPECT_EQ(sim->Stats().watchdog_stops, 1u);
}
