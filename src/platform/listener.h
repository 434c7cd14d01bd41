// The serving side of TCP on the loopback interface, and the waiting
// primitives the simulated board's event loop is built on: a listening socket
// on 127.0.0.1 (an ephemeral or a given port), the accepted stream sockets,
// a wake-up descriptor (eventfd) that ends a wait at once, and a wait on a
// set of descriptors with a timeout (poll).
//
// The client side of the library's TCP link lives in net.h; this file serves
// the simulated board and the tests that talk to it. All sockets here are
// non-blocking: reads and writes never stall the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/net.h"

namespace voxa::platform {

// A wake-up descriptor (an eventfd): Signal() makes every wait that watches
// it return at once; Drain() clears it again.
class WakeFd {
 public:
  WakeFd();
  ~WakeFd();
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;

  bool Ok() const { return fd_ != kNoSocket; }
  NativeSocket Fd() const { return fd_; }
  void Signal();
  void Drain();

 private:
  NativeSocket fd_ = kNoSocket;
  NativeSocket peer_ = kNoSocket;  // Windows: the socket Signal() writes to
};

// One descriptor to wait on and what was found ready.
struct WaitItem {
  NativeSocket fd = kNoSocket;  // kNoSocket: the entry is ignored
  bool want_read = false;
  bool want_write = false;
  // Results.
  bool readable = false;
  bool writable = false;
  bool hangup = false;      // peer hung up or the descriptor failed
};

// Waits until an item is ready or timeout_ms has passed (-1: no limit).
// Returns the number of ready items, 0 on timeout, -1 on failure.
int WaitReady(WaitItem* items, size_t count, int timeout_ms);

// Results of non-blocking I/O: > 0 bytes moved, kWouldBlock, or kClosed.
constexpr long kWouldBlock = 0;
constexpr long kClosed = -1;

// A connected TCP stream socket, non-blocking.
class StreamSocket {
 public:
  explicit StreamSocket(NativeSocket fd);
  ~StreamSocket();
  StreamSocket(const StreamSocket&) = delete;
  StreamSocket& operator=(const StreamSocket&) = delete;

  // Connects to 127.0.0.1:port within timeout_ms (for tests and tools that
  // play the host by hand). nullptr on failure.
  static std::unique_ptr<StreamSocket> ConnectLoopback(uint16_t port, uint32_t timeout_ms);

  NativeSocket Fd() const { return fd_; }
  bool IsOpen() const { return fd_ != kNoSocket; }
  long Send(const uint8_t* data, size_t n);
  long Recv(uint8_t* data, size_t max);
  // Sends all n bytes, waiting for room at most timeout_ms in all; returns
  // the number of bytes sent.
  size_t SendAll(const uint8_t* data, size_t n, uint32_t timeout_ms);
  // Shuts both directions down: a reader blocked on this socket wakes and
  // the peer sees the end of the stream. The descriptor stays valid.
  void Shutdown();
  // Closes at once, with a reset (no lingering data): the peer's next read
  // fails. Used to drop a connection the way a pulled cable does.
  void Abort();
  void Close();

 private:
  NativeSocket fd_ = kNoSocket;
};

// A listening TCP socket on 127.0.0.1.
class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Listens on 127.0.0.1:port; port 0 picks an ephemeral port. Reuses the
  // address, so a port can be listened on again right after Close().
  bool Listen(uint16_t port);
  bool IsListening() const { return fd_ != kNoSocket; }
  uint16_t Port() const { return port_; }
  NativeSocket Fd() const { return fd_; }
  // Takes one waiting connection; nullptr when none is waiting.
  std::unique_ptr<StreamSocket> Accept();
  void Close();

 private:
  NativeSocket fd_ = kNoSocket;
  uint16_t port_ = 0;
};

}  // namespace voxa::platform
