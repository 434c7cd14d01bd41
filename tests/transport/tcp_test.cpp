// The TCP link against a loopback peer standing in for the board.
#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "tcp_fixture.h"

namespace voxa {
namespace {

using test::ElapsedMs;
using test::LoopbackPeer;
using test::SteadyClock;
using test::Tcp;
using test::WaitFor;

TEST_F(Tcp, ConnectsReceivesAndSends) {
  LoopbackPeer peer;
  TcpLink comm(rec_);
  rec_.link = &comm;
  const uint8_t stale = 9;
  ASSERT_TRUE(comm.Write(&stale, 1));  // bytes written before the open are dropped
  ASSERT_EQ(Open(comm, "127.0.0.1", peer.port(), 1000, 0), 1);
  ASSERT_TRUE(peer.Accept());
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_TRUE(comm.IsUp());
  EXPECT_EQ(comm.Waiting(), 0u);

  auto in = test::Pattern(20000);
  ASSERT_TRUE(peer.SendBytes(in));
  std::vector<uint8_t> got;
  ASSERT_TRUE(WaitFor([&] {
    test::Drain(comm, got);
    return got.size() >= in.size();
  }, 2000));
  EXPECT_EQ(got, in);
  EXPECT_EQ(comm.ReceivedBytes(), 20000u);
  EXPECT_GE(rec_.calls.load(), 1);
  EXPECT_EQ(rec_.calls_with_empty_ring.load(), 0);

  auto out = test::Pattern(30000, 3);
  ASSERT_TRUE(comm.Write(out.data(), static_cast<uint32_t>(out.size())));
  EXPECT_EQ(comm.Waiting(), 0u);
  EXPECT_EQ(peer.ReadBytes(out.size()), out);
  EXPECT_EQ(comm.Send(), 1);  // nothing waiting
  EXPECT_EQ(comm.LinkErrorCount(), 0u);

  comm.Close();
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_TRUE(peer.SeesClose(1000));
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(Tcp, FullReceiveRingHoldsTheRestBackAndLosesNothing) {
  LoopbackPeer peer;
  TcpLink comm(rec_);
  rec_.link = &comm;
  ASSERT_EQ(Open(comm, "127.0.0.1", peer.port(), 1000, 0), 1);
  ASSERT_TRUE(peer.Accept());
  auto in = test::Pattern(40000);
  ASSERT_TRUE(peer.SendBytes(in));
  // Nobody takes bytes out: the ring fills up and the rest waits in the
  // socket instead of being thrown away.
  ASSERT_TRUE(WaitFor([&] { return comm.ReceivedBytes() == 0x7FFFu; }, 2000));
  platform::SleepMs(50);
  EXPECT_EQ(comm.ReceivedBytes(), 0x7FFFu);
  // Once room is made, the rest follows in order, and later bytes after it.
  ASSERT_TRUE(peer.SendBytes({1, 2, 3}));
  std::vector<uint8_t> got;
  ASSERT_TRUE(WaitFor([&] {
    test::Drain(comm, got);
    return got.size() >= in.size() + 3;
  }, 2000));
  in.insert(in.end(), {1, 2, 3});
  EXPECT_EQ(got, in);
}

TEST_F(Tcp, PeerCloseReestablishesTheLink) {
  LoopbackPeer peer;
  TcpLink comm(rec_);
  rec_.link = &comm;
  ASSERT_EQ(Open(comm, "127.0.0.1", peer.port(), 1000, 0), 1);
  ASSERT_TRUE(peer.Accept());
  peer.CloseClient();  // the receive of zero bytes must not spin the worker
  ASSERT_TRUE(peer.Accept(1500));
  EXPECT_EQ(comm.LinkErrorCount(), 1u);
  EXPECT_TRUE(comm.IsOpen());
  ASSERT_TRUE(WaitFor([&] { return comm.IsUp(); }, 500));
  // The new connection carries data both ways.
  ASSERT_TRUE(peer.SendBytes({7, 8}));
  ASSERT_TRUE(WaitFor([&] { return !comm.Received().Empty(); }, 1000));
  const uint8_t byte = 0x5A;
  ASSERT_TRUE(comm.Write(&byte, 1));
  EXPECT_EQ(peer.ReadBytes(1), std::vector<uint8_t>{0x5A});

  // Connecting again while connected re-establishes the link too.
  EXPECT_EQ(Open(comm, "127.0.0.1", peer.port(), 1000, 0), 1);
  EXPECT_FALSE(comm.IsUp());
  ASSERT_TRUE(peer.Accept(1500));
  EXPECT_EQ(comm.LinkErrorCount(), 2u);
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(Tcp, FailedReconnectClearsTheRingsAndRetries) {
  auto peer = std::make_unique<LoopbackPeer>();
  const uint16_t port = peer->port();
  TcpLink comm(rec_);
  rec_.link = &comm;
  ASSERT_EQ(Open(comm, "127.0.0.1", port, 1000, 0), 1);
  ASSERT_TRUE(peer->Accept());
  ASSERT_TRUE(peer->SendBytes({1, 2, 3}));
  ASSERT_TRUE(WaitFor([&] { return !comm.Received().Empty(); }, 1000));

  peer.reset();  // the board goes away: reconnects are refused
  ASSERT_TRUE(WaitFor([&] { return !comm.IsUp(); }, 1000));
  // A write while the link is down drops its bytes.
  const uint8_t byte = 1;
  ASSERT_TRUE(comm.Write(&byte, 1));
  EXPECT_EQ(comm.Waiting(), 0u);
  ASSERT_TRUE(WaitFor([&] { return comm.Received().Empty(); }, 1500));
  EXPECT_TRUE(comm.IsOpen());

  // The board comes back on the same port: the worker finds it.
  LoopbackPeer back(port);
  ASSERT_EQ(back.port(), port);
  ASSERT_TRUE(back.Accept(2500));
  ASSERT_TRUE(WaitFor([&] { return comm.IsUp(); }, 500));
  EXPECT_GE(comm.LinkErrorCount(), 2u);
  EXPECT_EQ(Reports(), 0u);  // refusals are not reported, however often
}

TEST_F(Tcp, SilencePastTheIdleTimeoutReconnects) {
  LoopbackPeer peer;
  TcpLink comm(rec_);
  rec_.link = &comm;
  ASSERT_EQ(Open(comm, "127.0.0.1", peer.port(), 1000, 300), 1);
  ASSERT_TRUE(peer.Accept());
  // Traffic keeps the link: no reconnect while bytes arrive every 100 ms.
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(peer.SendBytes({static_cast<uint8_t>(i)}));
    std::this_thread::sleep_for(test::Ms(100));
  }
  EXPECT_FALSE(peer.Pending(0));
  // Then silence: the link is dropped and made again.
  auto start = SteadyClock::now();
  EXPECT_TRUE(peer.SeesClose(1000));
  ASSERT_TRUE(peer.Accept(1000));
  EXPECT_GE(ElapsedMs(start), 200);
  EXPECT_TRUE(comm.IsOpen());
}

TEST_F(Tcp, RefusedConnectFailsQuietly) {
  TcpLink comm(rec_);
  rec_.link = &comm;
  auto start = SteadyClock::now();
  EXPECT_EQ(Open(comm, "127.0.0.1", ClosedPort(), 300, 5000), 0);
  EXPECT_LT(ElapsedMs(start), 500);
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(Reports(), 0u);
  EXPECT_EQ(Open(comm, "not an address", 1000, 300, 5000), 0);
}

TEST_F(Tcp, CloseDuringReconnectReturnsAtOnce) {
  TcpLink comm(rec_);
  rec_.link = &comm;
  // Nothing listens: the open without waiting succeeds and the worker
  // retries every ~1.1 s (close pause, connect wait, retry pause).
  ASSERT_EQ(Open(comm, "127.0.0.1", ClosedPort(), 3000, 5000, false), 1);
  ASSERT_TRUE(WaitFor([&] { return comm.LinkErrorCount() >= 1; }, 1000));
  for (int delay : {0, 50, 150, 400}) {
    std::this_thread::sleep_for(test::Ms(delay));
    auto start = SteadyClock::now();
    comm.Close();
    EXPECT_LT(ElapsedMs(start), 200) << "after " << delay << " ms";
    ASSERT_EQ(Open(comm, "127.0.0.1", ClosedPort(), 3000, 5000, false), 1);
  }
  comm.Close();
  EXPECT_EQ(Reports(), 0u);
}

// The caption of a TCP error report carries the number the system gives the
// error (TCP ERROR-(10061) for a refused connection on Windows).
TEST(TcpErrorReport, CarriesTheSystemsOwnErrorNumber) {
#ifdef _WIN32
  EXPECT_EQ(platform::SystemErrorCode(ECONNREFUSED), 10061);
  EXPECT_EQ(platform::SystemErrorCode(EMFILE), 10024);
#else
  EXPECT_EQ(platform::SystemErrorCode(ECONNREFUSED), ECONNREFUSED);
#endif
}

}  // namespace
}  // namespace voxa
