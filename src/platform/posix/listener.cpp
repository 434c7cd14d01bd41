#include "platform/listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace voxa::platform {
namespace {

bool SetNonBlocking(NativeSocket fd) {
  int fl = fcntl(fd, F_GETFL, 0);
  return fl >= 0 && fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

void SetNoDelay(NativeSocket fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

// ---- WakeFd ----

WakeFd::WakeFd() { fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

WakeFd::~WakeFd() {
  if (fd_ >= 0) close(fd_);
}

void WakeFd::Signal() {
  if (fd_ < 0) return;
  uint64_t one = 1;
  ssize_t r = write(fd_, &one, sizeof one);
  (void)r;  // a full counter is still signalled
}

void WakeFd::Drain() {
  if (fd_ < 0) return;
  uint64_t v;
  ssize_t r = read(fd_, &v, sizeof v);
  (void)r;
}

// ---- waiting ----

int WaitReady(WaitItem* items, size_t count, int timeout_ms) {
  pollfd fds[16];
  std::vector<pollfd> big;
  pollfd* p = fds;
  if (count > 16) {
    big.resize(count);
    p = big.data();
  }
  for (size_t i = 0; i < count; ++i) {
    items[i].readable = items[i].writable = items[i].hangup = false;
    p[i].fd = static_cast<int>(items[i].fd);
    p[i].events = static_cast<short>((items[i].want_read ? POLLIN : 0) | (items[i].want_write ? POLLOUT : 0));
    p[i].revents = 0;
  }
  int r;
  do {
    r = poll(p, count, timeout_ms);
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return r;
  for (size_t i = 0; i < count; ++i) {
    items[i].readable = (p[i].revents & POLLIN) != 0;
    items[i].writable = (p[i].revents & POLLOUT) != 0;
    items[i].hangup = (p[i].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  }
  return r;
}

// ---- StreamSocket ----

StreamSocket::StreamSocket(NativeSocket fd) : fd_(fd) {
  if (fd_ >= 0) {
    SetNonBlocking(fd_);
    SetNoDelay(fd_);
  }
}

StreamSocket::~StreamSocket() { Close(); }

std::unique_ptr<StreamSocket> StreamSocket::ConnectLoopback(uint16_t port, uint32_t timeout_ms) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
    close(fd);
    return nullptr;
  }
  pollfd p{fd, POLLOUT, 0};
  int r;
  do {
    r = poll(&p, 1, static_cast<int>(timeout_ms));
  } while (r < 0 && errno == EINTR);
  int err = 0;
  socklen_t len = sizeof err;
  if (r <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<StreamSocket>(fd);
}

long StreamSocket::Send(const uint8_t* data, size_t n) {
  if (fd_ < 0) return kClosed;
  if (n == 0) return kWouldBlock;
  ssize_t r;
  do {
    r = send(fd_, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? kWouldBlock : kClosed;
  return static_cast<long>(r);
}

long StreamSocket::Recv(uint8_t* data, size_t max) {
  if (fd_ < 0) return kClosed;
  ssize_t r;
  do {
    r = recv(fd_, data, max, MSG_DONTWAIT);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return kClosed;
  if (r < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? kWouldBlock : kClosed;
  return static_cast<long>(r);
}

void StreamSocket::Shutdown() {
  if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
}

void StreamSocket::Abort() {
  if (fd_ < 0) return;
  linger l{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd_);
  fd_ = -1;
}

void StreamSocket::Close() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}

// ---- TcpListener ----

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(uint16_t port) {
  Close();
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Loopback(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return false;
  }
  socklen_t len = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  port_ = ntohs(a.sin_port);
  return true;
}

std::unique_ptr<StreamSocket> TcpListener::Accept() {
  if (fd_ < 0) return nullptr;
  int s;
  do {
    s = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (s < 0 && errno == EINTR);
  if (s < 0) return nullptr;
  return std::make_unique<StreamSocket>(s);
}

void TcpListener::Close() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}

}  // namespace voxa::platform
