#include "platform/listener.h"

#include <chrono>
#include <vector>

#include "platform/win32/win32.h"

namespace voxa::platform {
namespace {

SOCKET S(NativeSocket fd) { return static_cast<SOCKET>(fd); }

void SetNonBlocking(NativeSocket fd) {
  u_long one = 1;
  ioctlsocket(S(fd), FIONBIO, &one);
}

void SetNoDelay(NativeSocket fd) {
  BOOL one = TRUE;
  setsockopt(S(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

NativeSocket NewSocket(int type, int protocol) {
  if (!win32::SocketsReady()) return kNoSocket;
  SOCKET s = WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return kNoSocket;
  return static_cast<NativeSocket>(s);
}

int PollOne(NativeSocket fd, SHORT events, int timeout_ms) {
  WSAPOLLFD p{S(fd), events, 0};
  return WSAPoll(&p, 1, timeout_ms);
}

}  // namespace

// ---- WakeFd: a UDP socket on the loopback interface that sends to itself ----

WakeFd::WakeFd() {
  NativeSocket s = NewSocket(SOCK_DGRAM, IPPROTO_UDP);
  if (s == kNoSocket) return;
  sockaddr_in a = Loopback(0);
  int len = sizeof a;
  if (bind(S(s), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(S(s), reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
      connect(S(s), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    closesocket(S(s));
    return;
  }
  SetNonBlocking(s);
  fd_ = s;
}

WakeFd::~WakeFd() {
  if (fd_ != kNoSocket) closesocket(S(fd_));
}

void WakeFd::Signal() {
  if (fd_ == kNoSocket) return;
  const char one = 1;
  send(S(fd_), &one, 1, 0);  // a full queue is still readable: the wake stands
}

void WakeFd::Drain() {
  if (fd_ == kNoSocket) return;
  char buf[64];
  while (recv(S(fd_), buf, sizeof buf, 0) > 0) {
  }
}

// ---- waiting ----

int WaitReady(WaitItem* items, size_t count, int timeout_ms) {
  std::vector<WSAPOLLFD> p;
  std::vector<size_t> index;
  p.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    items[i].readable = items[i].writable = items[i].hangup = false;
    if (items[i].fd == kNoSocket) continue;
    SHORT events = static_cast<SHORT>((items[i].want_read ? POLLRDNORM : 0) | (items[i].want_write ? POLLWRNORM : 0));
    p.push_back(WSAPOLLFD{S(items[i].fd), events, 0});
    index.push_back(i);
  }
  if (p.empty()) {
    Sleep(timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    return 0;
  }
  const int r = WSAPoll(p.data(), static_cast<ULONG>(p.size()), timeout_ms);
  if (r <= 0) return r < 0 ? -1 : 0;
  for (size_t k = 0; k < p.size(); ++k) {
    WaitItem& it = items[index[k]];
    it.readable = (p[k].revents & POLLRDNORM) != 0;
    it.writable = (p[k].revents & POLLWRNORM) != 0;
    it.hangup = (p[k].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  }
  return r;
}

// ---- StreamSocket ----

StreamSocket::StreamSocket(NativeSocket fd) : fd_(fd) {
  if (fd_ != kNoSocket) {
    SetNonBlocking(fd_);
    SetNoDelay(fd_);
  }
}

StreamSocket::~StreamSocket() { Close(); }

std::unique_ptr<StreamSocket> StreamSocket::ConnectLoopback(uint16_t port, uint32_t timeout_ms) {
  NativeSocket fd = NewSocket(SOCK_STREAM, IPPROTO_TCP);
  if (fd == kNoSocket) return nullptr;
  SetNonBlocking(fd);
  sockaddr_in a = Loopback(port);
  if (connect(S(fd), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && WSAGetLastError() != WSAEWOULDBLOCK) {
    closesocket(S(fd));
    return nullptr;
  }
  const int r = PollOne(fd, POLLWRNORM, static_cast<int>(timeout_ms));
  int err = 0;
  int len = sizeof err;
  if (r <= 0 || getsockopt(S(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 || err != 0) {
    closesocket(S(fd));
    return nullptr;
  }
  return std::make_unique<StreamSocket>(fd);
}

long StreamSocket::Send(const uint8_t* data, size_t n) {
  if (fd_ == kNoSocket) return kClosed;
  if (n == 0) return kWouldBlock;
  const int r = send(S(fd_), reinterpret_cast<const char*>(data), n > (1u << 30) ? (1 << 30) : static_cast<int>(n), 0);
  if (r < 0) return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kClosed;
  return r;
}

long StreamSocket::Recv(uint8_t* data, size_t max) {
  if (fd_ == kNoSocket) return kClosed;
  const int r = recv(S(fd_), reinterpret_cast<char*>(data), max > (1u << 30) ? (1 << 30) : static_cast<int>(max), 0);
  if (r == 0) return kClosed;
  if (r < 0) return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kClosed;
  return r;
}

void StreamSocket::Shutdown() {
  if (fd_ != kNoSocket) shutdown(S(fd_), SD_BOTH);
}

void StreamSocket::Abort() {
  if (fd_ == kNoSocket) return;
  linger l{1, 0};
  setsockopt(S(fd_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  closesocket(S(fd_));
  fd_ = kNoSocket;
}

void StreamSocket::Close() {
  if (fd_ == kNoSocket) return;
  closesocket(S(fd_));
  fd_ = kNoSocket;
}

// ---- TcpListener ----

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(uint16_t port) {
  Close();
  NativeSocket fd = NewSocket(SOCK_STREAM, IPPROTO_TCP);
  if (fd == kNoSocket) return false;
  // Exclusive: no other program may bind the same port beside us.
  BOOL one = TRUE;
  setsockopt(S(fd), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  SetNonBlocking(fd);
  sockaddr_in a = Loopback(port);
  int len = sizeof a;
  if (bind(S(fd), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(S(fd), 8) != 0 ||
      getsockname(S(fd), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    closesocket(S(fd));
    return false;
  }
  fd_ = fd;
  port_ = ntohs(a.sin_port);
  return true;
}

std::unique_ptr<StreamSocket> TcpListener::Accept() {
  if (fd_ == kNoSocket) return nullptr;
  SOCKET s = accept(S(fd_), nullptr, nullptr);
  if (s == INVALID_SOCKET) return nullptr;
  return std::make_unique<StreamSocket>(static_cast<NativeSocket>(s));
}

void TcpListener::Close() {
  if (fd_ == kNoSocket) return;
  closesocket(S(fd_));
  fd_ = kNoSocket;
}

}  // namespace voxa::platform
