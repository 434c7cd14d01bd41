// Round trip of a completion: VOXA_Notify_Complete in immediate mode, a
// loopback peer answering with a complete state packet, VOXA_WaitMotion
// returning. Measured beside the floor: a plain blocking TCP ping-pong of
// the same frame sizes between two threads. Prints medians and p99. The
// Windows build measures the floor with Winsock's blocking calls.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "voxa/voxa.h"

namespace {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
using Fd = SOCKET;
constexpr int MSG_NOSIGNAL = 0;
using socklen_t = int;
void close(SOCKET fd) { closesocket(fd); }
struct Winsock {
  Winsock() {
    WSADATA d;
    WSAStartup(MAKEWORD(2, 2), &d);
  }
  ~Winsock() { WSACleanup(); }
} winsock;
#else
using Fd = int;
#endif

Fd Listen(uint16_t* port) {
  Fd fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd, 1);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

void NoDelay(Fd fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

bool ReadFull(Fd fd, uint8_t* p, size_t n) {
  while (n) {
    const auto r = recv(fd, reinterpret_cast<char*>(p), static_cast<int>(n), 0);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

uint8_t Sum(const uint8_t* p, size_t n) {
  unsigned s = 0;
  for (size_t k = 0; k < n; ++k) s += p[k];
  return static_cast<uint8_t>(s);
}

// The board: answers keep-alives with heartbeats and Notify_Complete with a
// complete state packet; ignores the rest. It reads whatever has arrived in
// one call, as the floor's peer does, and answers every whole frame in it.
void Board(Fd lfd) {
  Fd fd = accept(lfd, nullptr, nullptr);
  NoDelay(fd);
  uint8_t buf[8192];
  size_t have = 0;
  for (;;) {
    const auto r = recv(fd, reinterpret_cast<char*>(buf) + have, static_cast<int>(sizeof buf - have), 0);
    if (r <= 0) break;
    have += static_cast<size_t>(r);
    size_t k = 0;
    while (k < have) {
      if (buf[k] != 0xFE) {
        ++k;
        continue;
      }
      if (k + 2 > have) break;
      const size_t n = buf[k + 1] & 0x7F;
      if (k + 2 + n > have) break;
      const uint8_t* body = buf + k + 2;  // id, opcode, ...
      const uint8_t op = body[1] & 0x7F;
      if (op == 0x0A && n == 4) {
        uint8_t f[8] = {0xFE, 0x06, 0x00, 0x0E, body[2], 0, 0, 0};
        f[7] = Sum(f, 7);
        send(fd, reinterpret_cast<const char*>(f), 8, MSG_NOSIGNAL);
      } else if (op == 0x09) {
        const uint8_t f[6] = {0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B};
        send(fd, reinterpret_cast<const char*>(f), 6, MSG_NOSIGNAL);
      }
      k += 2 + n;
    }
    std::memmove(buf, buf + k, have - k);
    have -= k;
  }
  close(fd);
}

struct Stats {
  double median_us, p99_us;
};

Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[v.size() * 99 / 100]};
}

Stats Floor(int rounds) {
  uint16_t port;
  Fd lfd = Listen(&port);
  std::thread server([lfd] {
    Fd fd = accept(lfd, nullptr, nullptr);
    NoDelay(fd);
    uint8_t in[6], out[8] = {0xFE, 0x06, 0x00, 0x0E, 1, 0, 0, 0};
    while (ReadFull(fd, in, 6)) send(fd, reinterpret_cast<const char*>(out), 8, MSG_NOSIGNAL);
    close(fd);
  });
  Fd fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  NoDelay(fd);
  std::vector<double> t;
  uint8_t ping[6] = {0xFE, 0x04, 0x00, 0x8A, 0x01, 0x8D}, pong[8];
  for (int k = 0; k < rounds + 500; ++k) {
    auto t0 = Clock::now();
    send(fd, reinterpret_cast<const char*>(ping), 6, MSG_NOSIGNAL);
    ReadFull(fd, pong, 8);
    if (k >= 500) t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  close(fd);
  server.join();
  close(lfd);
  return Summarise(t);
}

Stats Library(int rounds) {
  uint16_t port;
  Fd lfd = Listen(&port);
  std::thread board(Board, lfd);
  const int id = VOXA_Open_Tcp(0x0100007F, port, 0);
  if (id < 0) {
    std::fprintf(stderr, "open failed\n");
    std::exit(1);
  }
  VOXA_Enter_ImCmd();
  std::vector<double> t;
  int failures = 0;
  for (int k = 0; k < rounds + 500; ++k) {
    const int cmd = 1 + (k % 200);
    auto t0 = Clock::now();
    VOXA_Notify_Complete(cmd);
    if (!VOXA_WaitMotion(cmd, 1000)) ++failures;
    if (k >= 500) t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  VOXA_Leave_ImCmd();
  VOXA_Close();
  board.join();
  close(lfd);
  if (failures) std::printf("round trips that timed out: %d\n", failures);
  return Summarise(t);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 10000;
  const Stats floor = Floor(rounds);
  const Stats lib = Library(rounds);
  std::printf("round trips: %d\n", rounds);
  std::printf("floor (TCP ping-pong):      median %.1f us  p99 %.1f us\n", floor.median_us, floor.p99_us);
  std::printf("Notify_Complete/WaitMotion: median %.1f us  p99 %.1f us\n", lib.median_us, lib.p99_us);
  std::printf("ratio of medians: %.2f\n", lib.median_us / floor.median_us);
  return 0;
}
