// The link's TCP client on Winsock. The poller is a completion port: the
// worker's wait for data is a zero-byte overlapped receive that completes
// when bytes arrive (the bytes themselves are then taken with a
// non-blocking receive), the connection is made with an overlapped connect,
// and the keys other threads post are completion packets without an
// overlapped record.
#include "platform/net.h"

#include <mswsock.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/win32/win32.h"

namespace voxa::platform {

using win32::ErrnoFromWsa;

// The overlapped operations of one socket. The records stay put while the
// socket moves (TcpSocket holds a pointer).
struct TcpSocket::Io {
  enum class Connect { kIdle, kToStart, kPending, kDone };
  OVERLAPPED connect_ov{};
  OVERLAPPED read_ov{};
  OVERLAPPED send_ov{};
  HANDLE port = nullptr;  // the completion port the socket is tied to
  std::atomic<Connect> connect{Connect::kIdle};  // read by the sending thread too
  int connect_error = 0;
  sockaddr_in peer{};
  bool read_pending = false;
  bool read_ready = false;
  // A send the socket's buffer had no room for: the system holds a copy and
  // sends it when room comes; until then the socket takes nothing more.
  // The state of the send, shared by the sending thread and the waiting
  // one, is touched under this lock.
  std::mutex send_lock;
  bool send_pending = false;
  int send_error = 0;
  char send_buf[65536];
};

namespace {

SOCKET S(NativeSocket fd) { return static_cast<SOCKET>(fd); }

LPFN_CONNECTEX ConnectExOf(SOCKET s) {
  static LPFN_CONNECTEX fn = [s] {
    LPFN_CONNECTEX f = nullptr;
    GUID guid = WSAID_CONNECTEX;
    DWORD bytes = 0;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &guid, sizeof guid, &f, sizeof f, &bytes, nullptr, nullptr) != 0)
      return static_cast<LPFN_CONNECTEX>(nullptr);
    return f;
  }();
  return fn;
}

bool Completed(const OVERLAPPED& ov) { return ov.Internal != static_cast<ULONG_PTR>(STATUS_PENDING); }

// Starts the overlapped connect once the socket is tied to a port.
void StartConnectNow(NativeSocket fd, TcpSocket::Io* io) {
  io->connect = TcpSocket::Io::Connect::kPending;
  ResetEvent(io->connect_ov.hEvent);
  LPFN_CONNECTEX connect_ex = ConnectExOf(S(fd));
  if (connect_ex == nullptr) {
    io->connect = TcpSocket::Io::Connect::kDone;
    io->connect_error = EOPNOTSUPP;
    return;
  }
  if (!connect_ex(S(fd), reinterpret_cast<const sockaddr*>(&io->peer), sizeof io->peer, nullptr, 0, nullptr,
                  &io->connect_ov)) {
    const int e = WSAGetLastError();
    if (e != ERROR_IO_PENDING) {
      io->connect = TcpSocket::Io::Connect::kDone;
      io->connect_error = ErrnoFromWsa(e);
    }
  }
  // Done at once or later: the completion packet comes through the port.
}

void FinishConnect(NativeSocket fd, TcpSocket::Io* io) {
  DWORD bytes = 0, flags = 0;
  io->connect = TcpSocket::Io::Connect::kDone;
  if (!WSAGetOverlappedResult(S(fd), &io->connect_ov, &bytes, FALSE, &flags)) {
    io->connect_error = ErrnoFromWsa(WSAGetLastError());
    return;
  }
  io->connect_error = 0;
  setsockopt(S(fd), SOL_SOCKET, SO_UPDATE_CONNECT_CONTEXT, nullptr, 0);
}

// Starts the zero-byte receive that completes when bytes are waiting (or
// the connection ends). False when it failed at once: the socket is ready
// then, and Receive finds the error.
bool StartReadProbe(NativeSocket fd, TcpSocket::Io* io) {
  static char none;
  WSABUF buf{0, &none};
  DWORD flags = 0;
  ResetEvent(io->read_ov.hEvent);
  io->read_pending = true;
  if (WSARecv(S(fd), &buf, 1, nullptr, &flags, &io->read_ov, nullptr) != 0 && WSAGetLastError() != WSA_IO_PENDING) {
    io->read_pending = false;
    return false;
  }
  return true;
}

void FinishSend(NativeSocket fd, TcpSocket::Io* io) {
  DWORD bytes = 0, flags = 0;
  io->send_pending = false;
  if (!WSAGetOverlappedResult(S(fd), &io->send_ov, &bytes, FALSE, &flags))
    io->send_error = ErrnoFromWsa(WSAGetLastError());
}

}  // namespace

bool ParseIpv4(const char* text, uint16_t port, Ipv4Endpoint* out) {
  if (text == nullptr || !win32::SocketsReady()) return false;
  in_addr a{};
  if (inet_pton(AF_INET, text, &a) != 1) return false;
  out->address_be = a.s_addr;
  out->port = port;
  return true;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    io_ = o.io_;
    o.fd_ = kNoSocket;
    o.io_ = nullptr;
  }
  return *this;
}

int TcpSocket::Create() {
  Close();
  if (!win32::SocketsReady()) return ENETDOWN;
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return ErrnoFromWsa(WSAGetLastError());
  u_long one = 1;
  BOOL nodelay = TRUE;
  if (ioctlsocket(s, FIONBIO, &one) != 0 ||
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay), sizeof nodelay) != 0) {
    const int err = ErrnoFromWsa(WSAGetLastError());
    closesocket(s);
    return err;
  }
  io_ = new Io;
  io_->connect_ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  io_->read_ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  io_->send_ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  fd_ = static_cast<NativeSocket>(s);
  return 0;
}

int TcpSocket::StartConnect(const Ipv4Endpoint& peer) {
  if (fd_ == kNoSocket) return EBADF;
  if (io_->connect != Io::Connect::kIdle) return EISCONN;
  // The overlapped connect needs a bound socket.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (bind(S(fd_), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return ErrnoFromWsa(WSAGetLastError());
  io_->peer.sin_family = AF_INET;
  io_->peer.sin_port = htons(peer.port);
  io_->peer.sin_addr.s_addr = peer.address_be;
  // It starts with the first wait, when the socket is tied to the poller.
  io_->connect = Io::Connect::kToStart;
  return EINPROGRESS;
}

int TcpSocket::ConnectResult() const {
  if (fd_ == kNoSocket) return EBADF;
  if (io_->connect != Io::Connect::kDone) return EINPROGRESS;
  return io_->connect_error;
}

int TcpSocket::SendAll(const uint8_t* p, size_t n, int wait_ms) {
  if (fd_ == kNoSocket) return EBADF;
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(wait_ms);
  size_t done = 0;
  while (done < n) {
    const size_t left_bytes = n - done;
    const int chunk = left_bytes > (1u << 30) ? (1 << 30) : static_cast<int>(left_bytes);
    const int w = send(S(fd_), reinterpret_cast<const char*>(p + done), chunk, 0);
    if (w >= 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    const int e = WSAGetLastError();
    if (e != WSAEWOULDBLOCK) return ErrnoFromWsa(e);
    auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) return ETIMEDOUT;
    WSAPOLLFD pf{S(fd_), POLLWRNORM, 0};
    if (WSAPoll(&pf, 1, static_cast<INT>(left)) < 0) return ErrnoFromWsa(WSAGetLastError());
  }
  return 0;
}

long TcpSocket::SendSome(const uint8_t* p, size_t n, int* err) {
  *err = 0;
  if (fd_ == kNoSocket) {
    *err = EBADF;
    return -1;
  }
  if (io_->connect != Io::Connect::kDone) return 0;  // not connected yet
  std::lock_guard<std::mutex> g(io_->send_lock);
  if (io_->send_pending) {
    if (!Completed(io_->send_ov)) return 0;
    FinishSend(fd_, io_);
  }
  if (io_->send_error != 0) {
    *err = io_->send_error;
    return -1;
  }
  if (n == 0) return 0;
  const int chunk = n > sizeof io_->send_buf ? static_cast<int>(sizeof io_->send_buf) : static_cast<int>(n);
  const int w = send(S(fd_), reinterpret_cast<const char*>(p), chunk, 0);
  if (w >= 0) return w;
  const int e = WSAGetLastError();
  if (e != WSAEWOULDBLOCK) {
    *err = ErrnoFromWsa(e);
    return -1;
  }
  // No room: the system takes a copy and sends it as room comes; its
  // completion tells the poller that the socket takes bytes again.
  std::memcpy(io_->send_buf, p, static_cast<size_t>(chunk));
  WSABUF buf{static_cast<ULONG>(chunk), io_->send_buf};
  ResetEvent(io_->send_ov.hEvent);
  io_->send_pending = true;
  if (WSASend(S(fd_), &buf, 1, nullptr, 0, &io_->send_ov, nullptr) != 0 && WSAGetLastError() != WSA_IO_PENDING) {
    io_->send_pending = false;
    *err = ErrnoFromWsa(WSAGetLastError());
    return -1;
  }
  return chunk;
}

long TcpSocket::Receive(uint8_t* buf, size_t max, int* err) {
  *err = 0;
  if (fd_ == kNoSocket) {
    *err = EBADF;
    return -1;
  }
  if (io_->connect != Io::Connect::kDone) {
    *err = EAGAIN;
    return -1;
  }
  const int n = recv(S(fd_), reinterpret_cast<char*>(buf), max > (1u << 30) ? (1 << 30) : static_cast<int>(max), 0);
  if (n >= 0) return n;
  *err = ErrnoFromWsa(WSAGetLastError());
  return -1;
}

void TcpSocket::ShutdownSend() {
  if (fd_ != kNoSocket) shutdown(S(fd_), SD_SEND);
}

void TcpSocket::Close() {
  if (fd_ == kNoSocket) return;
  shutdown(S(fd_), SD_BOTH);
  closesocket(S(fd_));  // ends the socket's overlapped operations
  fd_ = kNoSocket;
  // The system writes into the records until their operations have ended:
  // wait for that before they go. Should an operation never end, the records
  // are left behind rather than freed under it.
  bool ended = true;
  if (io_->connect == Io::Connect::kPending)
    ended = WaitForSingleObject(io_->connect_ov.hEvent, 2000) == WAIT_OBJECT_0 && Completed(io_->connect_ov);
  if (io_->read_pending)
    ended = WaitForSingleObject(io_->read_ov.hEvent, 2000) == WAIT_OBJECT_0 && Completed(io_->read_ov) && ended;
  if (io_->send_pending)
    ended = WaitForSingleObject(io_->send_ov.hEvent, 2000) == WAIT_OBJECT_0 && Completed(io_->send_ov) && ended;
  if (ended) {
    CloseHandle(io_->connect_ov.hEvent);
    CloseHandle(io_->read_ov.hEvent);
    CloseHandle(io_->send_ov.hEvent);
    delete io_;
  }
  io_ = nullptr;
}

int Poller::Open() {
  if (read_fd_ != -1) return 0;
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (port == nullptr) return win32::ErrnoFromSystem(GetLastError());
  read_fd_ = reinterpret_cast<intptr_t>(port);
  return 0;
}

void Poller::Close() {
  if (read_fd_ != -1) CloseHandle(reinterpret_cast<HANDLE>(read_fd_));
  read_fd_ = -1;
}

bool Poller::Post(uint32_t key) {
  if (read_fd_ == -1) return false;
  return PostQueuedCompletionStatus(reinterpret_cast<HANDLE>(read_fd_), 0, key, nullptr) != 0;
}

void Poller::Wait(const TcpSocket* socket, Interest interest, int timeout_ms, Result* result) {
  *result = Result{};
  if (read_fd_ == -1) return;
  const HANDLE port = reinterpret_cast<HANDLE>(read_fd_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  const bool with_socket = socket != nullptr && socket->fd_ != kNoSocket;
  TcpSocket::Io* io = with_socket ? socket->io_ : nullptr;
  const NativeSocket fd = with_socket ? socket->fd_ : kNoSocket;
  const bool want_read = interest != Interest::kWritable;
  const bool want_write = interest != Interest::kReadable;
  bool readable = false, writable = false;

  // Brings the socket's operations in line with what the caller waits for
  // and notes what is ready without waiting.
  auto arm = [&] {
    using C = TcpSocket::Io::Connect;
    if (io->port == nullptr) {
      if (CreateIoCompletionPort(reinterpret_cast<HANDLE>(S(fd)), port, 0, 0) == nullptr) {
        readable = want_read;
        writable = want_write;
        return;
      }
      io->port = port;
    }
    if (io->connect == C::kToStart) StartConnectNow(fd, io);
    if (io->connect == C::kPending) return;
    if (io->connect == C::kDone && io->connect_error != 0) {
      readable = want_read;
      writable = want_write;
      return;
    }
    if (want_write) {
      std::lock_guard<std::mutex> g(io->send_lock);
      if (!io->send_pending || io->send_error != 0) writable = true;
    }
    if (want_read) {
      if (io->read_ready) {
        io->read_ready = false;
        readable = true;
      } else if (!io->read_pending && !StartReadProbe(fd, io)) {
        readable = true;
      }
    }
  };

  if (with_socket) arm();
  for (;;) {
    const bool ready = readable || writable;
    DWORD wait = 0;
    if (!ready && result->key_count == 0) {
      if (timeout_ms < 0) {
        wait = INFINITE;
      } else {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        wait = left > 0 ? static_cast<DWORD>(left) : 0;
      }
    }
    OVERLAPPED_ENTRY entries[Poller::kMaxKeys];
    ULONG got = 0;
    if (!GetQueuedCompletionStatusEx(port, entries, Poller::kMaxKeys, &got, wait, FALSE)) {
      if (!ready && result->key_count == 0) {
        if (GetLastError() != WAIT_TIMEOUT && wait != 0) return;  // the port is gone
        result->timed_out = true;
      }
      break;
    }
    for (ULONG k = 0; k < got; ++k) {
      const OVERLAPPED_ENTRY& e = entries[k];
      if (e.lpOverlapped == nullptr) {
        if (result->key_count < Poller::kMaxKeys)
          result->keys[result->key_count++] = static_cast<uint32_t>(e.lpCompletionKey);
        continue;
      }
      // Packets of a socket closed since are left alone.
      if (io == nullptr) continue;
      if (e.lpOverlapped == &io->connect_ov && io->connect == TcpSocket::Io::Connect::kPending &&
          Completed(io->connect_ov)) {
        FinishConnect(fd, io);
        arm();
      } else if (e.lpOverlapped == &io->read_ov && io->read_pending && Completed(io->read_ov)) {
        io->read_pending = false;
        io->read_ready = true;
        arm();
      } else if (e.lpOverlapped == &io->send_ov) {
        {
          std::lock_guard<std::mutex> g(io->send_lock);
          if (io->send_pending && Completed(io->send_ov)) FinishSend(fd, io);
        }
        arm();
      }
    }
    if (readable || writable || result->key_count > 0) break;
  }
  result->socket_ready = readable || writable;
  result->readable = readable;
  result->writable = writable;
  if (result->socket_ready) result->timed_out = false;
}

}  // namespace voxa::platform
