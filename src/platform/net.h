// TCP client sockets over IPv4 and the poller the link's worker waits on.
//
// The poller stands in for a completion port: the worker waits on it for
// its socket to become readable (or writable while connecting) and for keys
// that other threads post to it (a link error, the stop request). A posted
// key ends the current wait at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace voxa::platform {

// A socket of the system: a descriptor on Linux, a SOCKET on Windows (as
// wide as a pointer). kNoSocket is neither.
using NativeSocket = intptr_t;
constexpr NativeSocket kNoSocket = -1;

struct Ipv4Endpoint {
  uint32_t address_be = 0;  // network byte order
  uint16_t port = 0;        // host byte order
};

// Parses dotted IPv4 text ("192.168.0.50"); false when it is not one.
bool ParseIpv4(const char* text, uint16_t port, Ipv4Endpoint* out);

// A non-blocking TCP stream socket with Nagle's delay switched off.
class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket() { Close(); }
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;
  TcpSocket(TcpSocket&& o) noexcept : fd_(o.fd_), io_(o.io_) {
    o.fd_ = kNoSocket;
    o.io_ = nullptr;
  }
  TcpSocket& operator=(TcpSocket&& o) noexcept;

  // Creates the socket; 0 or the system error number.
  int Create();
  bool IsValid() const { return fd_ != kNoSocket; }
  // Starts connecting: 0 connected already, EINPROGRESS under way, or the
  // system error number.
  int StartConnect(const Ipv4Endpoint& peer);
  // After the socket became writable: 0 connected, EINPROGRESS still under
  // way, or the reason the connection failed.
  int ConnectResult() const;
  // Sends all n bytes. Normally one call; when the socket's buffer is full
  // it waits at most wait_ms for room. 0 or the system error number.
  int SendAll(const uint8_t* p, size_t n, int wait_ms);
  // Sends what the socket's buffer takes now, never blocking: the bytes
  // taken (0 when the buffer is full), or -1 with *err set.
  long SendSome(const uint8_t* p, size_t n, int* err);
  // Takes what has arrived, never blocking: the byte count; 0 when the peer
  // closed the connection; -1 with *err = EAGAIN when nothing is waiting, or
  // with the error of the connection.
  long Receive(uint8_t* buf, size_t max, int* err);
  // Ends the sending direction in order: the peer reads what was sent,
  // then the end of the stream.
  void ShutdownSend();
  // Shuts both directions down and closes the socket.
  void Close();

  // The backend's per-socket state for overlapped operations (none on Linux).
  struct Io;

 private:
  friend class Poller;
  NativeSocket fd_ = kNoSocket;
  Io* io_ = nullptr;
};

class Poller {
 public:
  enum class Interest { kReadable, kWritable, kReadWrite };
  static constexpr int kMaxKeys = 16;

  struct Result {
    bool timed_out = false;
    bool socket_ready = false;  // readable/writable as asked, or hung up / failed
    bool writable = false;      // with kReadWrite: the socket takes bytes (or failed)
    bool readable = false;      // with kReadWrite: bytes (or the end) arrived
    int key_count = 0;
    uint32_t keys[kMaxKeys] = {};
    bool Has(uint32_t key) const {
      for (int i = 0; i < key_count; ++i)
        if (keys[i] == key) return true;
      return false;
    }
  };

  Poller() = default;
  ~Poller() { Close(); }
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  // 0 or the system error number.
  int Open();
  bool IsOpen() const { return read_fd_ != kNoSocket; }
  void Close();
  // Posts a key; false when the poller is closed or its queue is full (the
  // keys already queued wake the waiter then).
  bool Post(uint32_t key);
  // Waits at most timeout_ms (-1: no limit) for the socket (may be null) or
  // a posted key, and takes the posted keys (up to kMaxKeys per call).
  void Wait(const TcpSocket* socket, Interest interest, int timeout_ms, Result* result);

 private:
  // Linux: the two ends of the pipe that carries the keys. Windows: the
  // completion port (write_fd_ unused).
  intptr_t read_fd_ = -1;
  intptr_t write_fd_ = -1;
};

}  // namespace voxa::platform
