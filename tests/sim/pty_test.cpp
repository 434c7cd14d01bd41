// Linux only (Windows has no pseudo-terminals): the simulated board served
// over a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim_host.h"

using namespace voxa_sim;
using namespace voxa::test;
using namespace std::chrono_literals;

TEST(SimPty, ServesAPseudoTerminal) {
  auto sim = SimBoard::StartPty();
  ASSERT_TRUE(sim);
  EXPECT_FALSE(sim->DevicePath().empty());
  Host host(sim->DevicePath());
  ASSERT_TRUE(host.Ok());
  host.Send(HostSystem(0x89, 0xFD));
  auto f = host.Frames(1, 2s);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], kHeartbeatBytes);
  // Raw mode: 0x0D, 0x0A, 0x11, 0x13 and 0xFF pass unchanged both ways.
  uint32_t w[8] = {0x130A0D11, 0xFF7F0300};
  host.Send(HostWrite(CAL2, 0x03, w, true));
  host.Send(HostRead(CAL2, 0x03, true));
  f = host.Frames(1, 2s);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], BuildFrame(Bytes{16 + 2 * CAL2, 0x03, 0x22, 0x11, 0x0D, 0x0A, 0x13, 0x00, 0x03, 0x7F, 0xFF}));
}

TEST(SimPty, HostMayCloseAndReopenThePort) {
  auto sim = SimBoard::StartPty();
  ASSERT_TRUE(sim);
  { Host first(sim->DevicePath()); ASSERT_TRUE(first.Ok()); }
  std::this_thread::sleep_for(50ms);
  Host host(sim->DevicePath());
  ASSERT_TRUE(host.Ok());
  host.Send(HostSystem(0x89, 0xFD));
  EXPECT_EQ(host.Frames(1, 2s).size(), 1u);
}
