#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace voxa::platform {

bool ParseIpv4(const char* text, uint16_t port, Ipv4Endpoint* out) {
  if (text == nullptr) return false;
  in_addr a{};
  if (::inet_pton(AF_INET, text, &a) != 1) return false;
  out->address_be = a.s_addr;
  out->port = port;
  return true;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

int TcpSocket::Create() {
  Close();
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  int one = 1;
  if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
    int err = errno;
    ::close(fd);
    return err;
  }
  fd_ = fd;
  return 0;
}

int TcpSocket::StartConnect(const Ipv4Endpoint& peer) {
  if (fd_ < 0) return EBADF;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(peer.port);
  sa.sin_addr.s_addr = peer.address_be;
  for (;;) {
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
    if (errno == EINTR) continue;  // the connection goes on in the background
    return errno == EINPROGRESS || errno == EALREADY ? EINPROGRESS : errno;
  }
}

int TcpSocket::ConnectResult() const {
  if (fd_ < 0) return EBADF;
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  if (err != 0) return err;
  sockaddr_in peer{};
  socklen_t plen = sizeof peer;
  if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &plen) != 0)
    return errno == ENOTCONN ? EINPROGRESS : errno;
  return 0;
}

int TcpSocket::SendAll(const uint8_t* p, size_t n, int wait_ms) {
  if (fd_ < 0) return EBADF;
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(wait_ms);
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::send(fd_, p + done, n - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w >= 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) return ETIMEDOUT;
    pollfd pf{static_cast<int>(fd_), POLLOUT, 0};
    if (::poll(&pf, 1, static_cast<int>(left)) < 0 && errno != EINTR) return errno;
  }
  return 0;
}

long TcpSocket::SendSome(const uint8_t* p, size_t n, int* err) {
  *err = 0;
  if (fd_ < 0) {
    *err = EBADF;
    return -1;
  }
  for (;;) {
    ssize_t w = ::send(fd_, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w >= 0) return static_cast<long>(w);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    *err = errno;
    return -1;
  }
}

long TcpSocket::Receive(uint8_t* buf, size_t max, int* err) {
  *err = 0;
  if (fd_ < 0) {
    *err = EBADF;
    return -1;
  }
  for (;;) {
    ssize_t n = ::recv(fd_, buf, max, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    *err = (errno == EWOULDBLOCK) ? EAGAIN : errno;
    return -1;
  }
}

void TcpSocket::ShutdownSend() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void TcpSocket::Close() {
  if (fd_ < 0) return;
  ::shutdown(fd_, SHUT_RDWR);
  ::close(fd_);
  fd_ = -1;
}

int Poller::Open() {
  if (read_fd_ >= 0) return 0;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return errno;
  read_fd_ = fds[0];
  write_fd_ = fds[1];
  return 0;
}

void Poller::Close() {
  if (read_fd_ >= 0) ::close(read_fd_);
  if (write_fd_ >= 0) ::close(write_fd_);
  read_fd_ = write_fd_ = -1;
}

bool Poller::Post(uint32_t key) {
  if (write_fd_ < 0) return false;
  for (;;) {
    // Writes of this size to a pipe are atomic: keys never interleave.
    ssize_t w = ::write(write_fd_, &key, sizeof key);
    if (w == static_cast<ssize_t>(sizeof key)) return true;
    if (w < 0 && errno == EINTR) continue;
    return false;
  }
}

void Poller::Wait(const TcpSocket* socket, Interest interest, int timeout_ms, Result* result) {
  *result = Result{};
  pollfd p[2];
  nfds_t n = 0;
  p[n++] = pollfd{static_cast<int>(read_fd_), POLLIN, 0};
  const bool with_socket = socket != nullptr && socket->fd_ >= 0;
  if (with_socket)
    p[n++] = pollfd{static_cast<int>(socket->fd_),
                    static_cast<short>(interest == Interest::kReadable   ? POLLIN
                                       : interest == Interest::kWritable ? POLLOUT
                                                                         : POLLIN | POLLOUT),
                    0};
  int r = ::poll(p, n, timeout_ms < 0 ? -1 : timeout_ms);
  if (r == 0) {
    result->timed_out = true;
    return;
  }
  if (r < 0) return;  // interrupted: the caller waits again
  if (with_socket && p[1].revents != 0) {
    result->socket_ready = true;
    const short failed = POLLERR | POLLHUP | POLLNVAL;
    result->readable = (p[1].revents & (POLLIN | failed)) != 0;
    result->writable = (p[1].revents & (POLLOUT | failed)) != 0;
  }
  if (p[0].revents & POLLIN) {
    ssize_t got = ::read(read_fd_, result->keys, sizeof result->keys);
    if (got > 0) result->key_count = static_cast<int>(got / static_cast<ssize_t>(sizeof(uint32_t)));
  }
}

}  // namespace voxa::platform
