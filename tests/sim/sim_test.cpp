// The simulated board as a running peer over loopback TCP, with its frame
// log, hooks and fault injection. A test plays the host with a raw socket
// and the sim's own frame parser.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim_host.h"

using namespace voxa_sim;
using namespace voxa::test;
using namespace std::chrono_literals;

TEST(SimTcp, AnswersKeepAliveWithHeartbeat) {
  auto sim = SimBoard::StartTcp();
  ASSERT_TRUE(sim);
  EXPECT_NE(sim->Port(), 0);
  Host host(sim->Port());
  ASSERT_TRUE(host.Ok());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  host.Send(HostSystem(0x89, 0xFD));
  auto f = host.Frames(1, 2s);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], kHeartbeatBytes);
}

TEST(SimTcp, RecordsDecodedFramesAndWakesWaiters) {
  auto sim = SimBoard::StartTcp();
  ASSERT_TRUE(sim);
  Host host(sim->Port());
  const uint64_t mark = sim->FrameCount();
  uint32_t w[8] = {1000, 2000};
  host.Send(HostWrite(CAL0, 0x03, w, false, 0x11));
  host.Send(HostAction(0x5B, 0x03, 0x11));
  auto line = sim->WaitFrame([](const RxFrame& f) { return IsCode(f, 0x5B); }, 2s, mark);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->cmd.mask, 0x03);
  EXPECT_EQ(line->cmd.tag, 0x11);
  auto writes = sim->Frames([](const RxFrame& f) { return f.cmd.kind == CmdKind::kRegisterWrite; }, mark);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].cmd.reg, CAL0);
  EXPECT_EQ(writes[0].cmd.values[1], 2000u);
  EXPECT_EQ(writes[0].seq + 1, line->seq);
  // A frame that never comes: the wait ends at its timeout.
  const auto t0 = Clock::now();
  EXPECT_FALSE(sim->WaitFrame([](const RxFrame& f) { return IsCode(f, 0x61); }, 100ms, mark));
  EXPECT_GE(Clock::now() - t0, 100ms);
  // The line runs on the board.
  EXPECT_TRUE(sim->WaitIdle(3s));
  EXPECT_EQ(sim->Position(0), 1000);
  EXPECT_EQ(sim->Position(1), 2000);
}

TEST(SimTcp, HeartbeatsCanBeSwitchedOff) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  sim->SetHeartbeatReply(false);
  host.Send(HostSystem(0x89, 0xFD));
  EXPECT_TRUE(host.Frames(1, 200ms).empty());
  sim->SetHeartbeatReply(true);
  host.Send(HostSystem(0x89, 0xFD));
  EXPECT_EQ(host.Frames(1, 2s).size(), 1u);
}

TEST(SimTcp, RegistersReadableAndSettable) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  sim->SetReg(GIO, 1, 0xCAFE);
  EXPECT_EQ(sim->Reg(GIO, 1), 0xCAFEu);
  host.Send(HostRead(GIO, 0x02, true, 0xFD));
  auto f = host.Frames(1, 2s);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], BuildFrame(Bytes{16 + 2 * GIO, 0x02, 0x21, 0xFE, 0xCA, 0, 0, 0xFD}));
  EXPECT_EQ(sim->Register(CHIPSTATUS)[7], EngineWord(2, 7));
}

TEST(SimTcp, SendPacketAndInjectRaw) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  sim->SendPacket(kCompleteState, {7, 0, 0, 0});
  auto f = host.Frames(1, 2s);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], BuildFrame(Bytes{kCompleteState, 7, 0, 0, 0}));
  sim->InjectRaw({0x00, 0xFE, 0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B});
  EXPECT_EQ(host.Frames(1, 2s).size(), 1u);
}

TEST(SimTcp, DropConnectionAndReconnect) {
  auto sim = SimBoard::StartTcp();
  {
    Host host(sim->Port());
    ASSERT_TRUE(sim->WaitForConnection(1, 2s));
    sim->DropConnection();
    host.Frames(1, 2s);
    EXPECT_TRUE(host.Closed());
  }
  Host again(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(2, 2s));
  again.Send(HostSystem(0x89, 0xFD));
  EXPECT_EQ(again.Frames(1, 2s).size(), 1u);
  EXPECT_EQ(sim->Stats().drops, 1u);
}

TEST(SimTcp, DropAfterFrames) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  sim->DropAfterFrames(3);
  for (int i = 0; i < 2; ++i) host.Send(HostSystem(0x89, 0xFD));
  EXPECT_EQ(host.Frames(2, 2s).size(), 2u);
  EXPECT_FALSE(host.Closed());
  host.Send(HostSystem(0x89, 0xFD));
  host.Frames(10, 2s);
  EXPECT_TRUE(host.Closed());
}

TEST(SimTcp, DropAfterTime) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  const auto t0 = Clock::now();
  sim->DropAfter(150ms);
  host.Frames(1, 3s);
  EXPECT_TRUE(host.Closed());
  EXPECT_GE(Clock::now() - t0, 140ms);
}

TEST(SimTcp, GoSilentIgnoresKeepAlivesButKeepsTheLink) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  sim->GoSilent(300ms);
  EXPECT_TRUE(sim->IsSilent());
  host.Send(HostSystem(0x89, 0xFD));
  EXPECT_TRUE(host.Frames(1, 200ms).empty());
  EXPECT_FALSE(host.Closed());
  EXPECT_TRUE(sim->WaitFrame([](const RxFrame& f) { return IsCode(f, 0x09); }, 1s));
  std::this_thread::sleep_for(150ms);  // let the silence end
  EXPECT_FALSE(sim->IsSilent());
  host.Send(HostSystem(0x89, 0xFD));
  EXPECT_EQ(host.Frames(1, 2s).size(), 1u);
}

TEST(SimTcp, CorruptionIsCaughtByTheChecksum) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  sim->SetCorruptRate(1.0);
  host.Send(HostSystem(0x89, 0xFD));
  EXPECT_TRUE(host.Frames(1, 300ms).empty());
  EXPECT_EQ(host.RawBytes().size(), 6u);
  EXPECT_NE(host.RawBytes(), kHeartbeatBytes);
  EXPECT_GE(sim->Stats().corrupted_bytes, 6u);
  sim->SetCorruptRate(0);
  host.Send(HostSystem(0x89, 0xFD));
  EXPECT_EQ(host.Frames(1, 2s).size(), 1u);
}

TEST(SimTcp, RxCorruptionDropsHostFrames) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  sim->SetRxCorruptRate(1.0);
  host.Send(HostSystem(0x89, 0xFD));
  EXPECT_TRUE(host.Frames(1, 200ms).empty());
  sim->SetRxCorruptRate(0);
  host.Send(HostSystem(0x89, 0xFD));
  EXPECT_EQ(host.Frames(1, 2s).size(), 1u);
}

TEST(SimTcp, DelayedBytesArriveLateAndInOrder) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  sim->SetDelay(1.0, 200ms);
  const auto t0 = Clock::now();
  host.Send(HostSystem(0x89, 0xFD));
  host.Send(HostRead(CURPOS, 0x01, true, 0xFD));
  auto f = host.Frames(2, 3s);
  EXPECT_GE(Clock::now() - t0, 190ms);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0], kHeartbeatBytes);
  EXPECT_EQ(f[1][3], 16 + 2 * CURPOS);
}

TEST(SimTcp, RefuseConnections) {
  auto sim = SimBoard::StartTcp();
  const uint16_t port = sim->Port();
  sim->RefuseConnections(RefuseMode::kStopListening);
  EXPECT_EQ(plat::StreamSocket::ConnectLoopback(port, 500), nullptr);

  sim->RefuseConnections(RefuseMode::kCloseAccepted);
  {
    // The reset may already beat the connect: either way no link stays up.
    Host host(port);
    if (host.Ok()) {
      host.Frames(1, 2s);
      EXPECT_TRUE(host.Closed());
    }
  }
  EXPECT_TRUE(sim->WaitStats([](const SimStats& s) { return s.refused >= 1; }, 2s));
  EXPECT_EQ(sim->ConnectionCount(), 0u);

  sim->RefuseConnections(RefuseMode::kAccept);
  Host host(port);
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  host.Send(HostSystem(0x89, 0xFD));
  EXPECT_EQ(host.Frames(1, 2s).size(), 1u);
}

TEST(SimTcp, FloodOfStatePackets) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  sim->FloodStatePackets(500, 0x04);
  auto f = host.Frames(500, 5s);
  EXPECT_EQ(f.size(), 500u);
  for (auto& fr : f) EXPECT_EQ(fr[3], kState);
}

TEST(SimTcp, WithHandOverANewConnectionReplacesTheOldOne) {
  SimOptions opt;
  opt.hand_over = true;
  auto sim = SimBoard::StartTcp(0, opt);
  Host a(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  Host b(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(2, 2s));
  a.Frames(1, 1s);
  EXPECT_TRUE(a.Closed());
  b.Send(HostSystem(0x89, 0xFD));
  EXPECT_EQ(b.Frames(1, 2s).size(), 1u);
}

TEST(SimTcp, StopIsPromptAndIdempotent) {
  auto sim = SimBoard::StartTcp();
  Host host(sim->Port());
  ASSERT_TRUE(sim->WaitForConnection(1, 2s));
  const auto t0 = Clock::now();
  sim->Stop();
  EXPECT_LT(Clock::now() - t0, 200ms);
  sim->Stop();
  host.Frames(1, 1s);
  EXPECT_TRUE(host.Closed());
}

TEST(SimTcp, ExplicitPortAndOldEngineOption) {
  SimOptions opt;
  opt.engine_major = 2;
  opt.engine_minor = 5;
  auto first = SimBoard::StartTcp(0, opt);
  ASSERT_TRUE(first);
  const uint16_t port = first->Port();
  EXPECT_EQ(first->Reg(CHIPSTATUS, 7), EngineWord(2, 5));
  first.reset();
  auto second = SimBoard::StartTcp(port);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Port(), port);
}
