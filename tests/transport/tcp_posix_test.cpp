// Linux only: the TCP link when the process has no descriptor left, against
// a listener whose accept queue is full, and over many opens and closes
// (descriptors and threads counted in /proc).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "posix_helpers.h"
#include "tcp_fixture.h"

namespace voxa {
namespace {

using test::ElapsedMs;
using test::LoopbackPeer;
using test::SteadyClock;
using test::Tcp;

// A listener on 127.0.0.1 with no room in its accept queue.
struct RawListener {
  RawListener() {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(fd, 0) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
      port = ntohs(sa.sin_port);
  }
  ~RawListener() { close(fd); }
  int fd = -1;
  uint16_t port = 0;
};

TEST_F(Tcp, SocketCreationFailureIsReported) {
  TcpLink comm(rec_);
  // Used once while descriptors are left: the type checks of a sanitizer
  // build need a descriptor the first time they look at an object's type
  // (the link as a Link and as a TcpLink, the recorder as LinkEvents).
  comm.Close();
  EXPECT_TRUE(comm.Received().Empty());
  static_cast<LinkEvents&>(rec_).OnLinkState(0, 0, 0);
  // No descriptor left for a socket.
  int lowest_free = dup(0);
  ASSERT_GE(lowest_free, 0);
  close(lowest_free);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(lowest_free);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  int opened = Open(comm, "127.0.0.1", 1000, 300, 5000);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
  EXPECT_EQ(opened, 0);
  ASSERT_EQ(Reports(), 1u);
  EXPECT_EQ(rec_.faults[0], EMFILE);
}

TEST_F(Tcp, UnansweredConnectFailsAfterTheTimeout) {
  // A listener whose accept queue is full drops further connection requests.
  RawListener peer;
  std::vector<int> fillers;
  for (int i = 0; i < 2; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(peer.port);
    connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    fillers.push_back(fd);
  }
  std::this_thread::sleep_for(test::Ms(50));
  TcpLink comm(rec_);
  auto start = SteadyClock::now();
  EXPECT_EQ(Open(comm, "127.0.0.1", peer.port, 300, 5000), 0);
  long took = ElapsedMs(start);
  EXPECT_GE(took, 280);
  EXPECT_LT(took, 800);
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(Reports(), 0u);

  // Without waiting the open succeeds at once; a close in the middle of the
  // worker's reconnect wait returns at once.
  start = SteadyClock::now();
  ASSERT_EQ(Open(comm, "127.0.0.1", peer.port, 300, 200, false), 1);
  EXPECT_LT(ElapsedMs(start), 100);
  EXPECT_TRUE(comm.IsOpen());
  std::this_thread::sleep_for(test::Ms(450));  // idle 200 + pause 100: now waiting for the board
  start = SteadyClock::now();
  comm.Close();
  EXPECT_LT(ElapsedMs(start), 200);
  EXPECT_FALSE(comm.IsOpen());
  for (int fd : fillers) close(fd);
}

TEST_F(Tcp, OpenCloseCyclesLeaveNoDescriptorOrThread) {
  LoopbackPeer peer;
  auto comm = std::make_unique<TcpLink>(rec_);
  const int fds = test::CountOpenFds();
  const int threads = test::CountThreads();
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(Open(*comm, "127.0.0.1", peer.port(), 1000, 5000), 1) << i;
    ASSERT_TRUE(peer.Accept()) << i;
    if (i % 2) {
      ASSERT_TRUE(peer.SendBytes({1}));
    }
    comm->Close();
    peer.CloseClient();
  }
  EXPECT_EQ(test::CountOpenFds(), fds);
  EXPECT_EQ(test::CountThreads(), threads);

  // Destroying an open transport stops its worker first.
  ASSERT_EQ(Open(*comm, "127.0.0.1", peer.port(), 1000, 5000), 1);
  ASSERT_TRUE(peer.Accept());
  comm.reset();
  EXPECT_TRUE(peer.SeesClose(1000));
  EXPECT_EQ(test::CountThreads(), threads);
}

}  // namespace
}  // namespace voxa
