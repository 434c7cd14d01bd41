// The simulated board as a running peer: over loopback TCP and over a
// pseudo-terminal, with its frame log, hooks and fault injection. A test
// plays the host with a raw socket and the sim's own frame parser.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "codec.h"
#include "platform/listener.h"
#include "platform/pty.h"
#include "sim.h"

using namespace voxa_sim;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
namespace plat = voxa::platform;

namespace {

const Bytes kHeartbeatBytes{0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B};

// The host side of a link, by hand: writes frames, collects whole frames
// the board sends (parsed with the board's parser, which is generic).
class Host {
 public:
  explicit Host(uint16_t port) : sock_(plat::StreamSocket::ConnectLoopback(port, 2000)) {}
  explicit Host(const std::string& tty) {
    tty_ = std::make_unique<plat::RawTty>();
    if (!tty_->Open(tty)) tty_.reset();
  }
  bool Ok() const { return sock_ != nullptr || tty_ != nullptr; }
  int Fd() const { return sock_ ? sock_->Fd() : tty_->Fd(); }

  void Send(const Bytes& b) {
    if (sock_) {
      ASSERT_EQ(sock_->SendAll(b.data(), b.size(), 1000), b.size());
    } else {
      ASSERT_EQ(tty_->Write(b.data(), b.size()), static_cast<long>(b.size()));
    }
  }
  // Reads until count frames arrived, the link closed, or timeout.
  std::vector<Bytes> Frames(size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::vector<Bytes> out;
    while (out.size() < count && !closed_) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      plat::WaitItem it;
      it.fd = Fd();
      it.want_read = true;
      if (plat::WaitReady(&it, 1, static_cast<int>(left)) <= 0) continue;
      uint8_t buf[4096];
      long r = sock_ ? sock_->Recv(buf, sizeof buf) : tty_->Read(buf, sizeof buf);
      if (r == plat::kClosed) {
        closed_ = true;
        break;
      }
      for (long i = 0; i < r; ++i) {
        raw_.push_back(buf[i]);
        if (parser_.Feed(buf[i])) out.push_back(parser_.Raw());
      }
    }
    return out;
  }
  bool Closed() const { return closed_; }
  const Bytes& RawBytes() const { return raw_; }
  const FrameParser& Parser() const { return parser_; }

 private:
  std::unique_ptr<plat::StreamSocket> sock_;
  std::unique_ptr<plat::RawTty> tty_;
  FrameParser parser_;
  Bytes raw_;
  bool closed_ = false;
};

bool IsCode(const RxFrame& f, uint8_t code) { return f.cmd.code == code; }

}  // namespace

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

TEST(SimTcp, NewConnectionReplacesTheOldOne) {
  auto sim = SimBoard::StartTcp();
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
