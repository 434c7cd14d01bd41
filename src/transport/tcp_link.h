// The TCP link: connects to the board, runs the worker that receives into
// the receive ring and sends what the socket could not take at once, and
// re-establishes the connection after a link error or a silence longer than
// the idle timeout. A system error it meets goes up as a kLinkFault state.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/net.h"
#include "platform/platform.h"
#include "transport/link.h"

namespace voxa {

class TcpLink final : public Link {
 public:
  static constexpr uint32_t kBufferSize = 0x10000;
  // Reconnect timing: pause after closing the lost socket, the wait for the
  // board to answer, and the pause before the next attempt.
  static constexpr uint32_t kReconnectClosePauseMs = 100;
  static constexpr uint32_t kReconnectConnectWaitMs = 500;
  static constexpr uint32_t kReconnectRetryPauseMs = 500;
  // How long a send waits for room in a full socket buffer before the link
  // counts as failed.
  static constexpr int kSendStallMs = 500;
  // Longest wait for room in a full receive ring before the worker looks
  // at its stop signal again.
  static constexpr uint32_t kRoomWaitMs = 10;
  // How long a close waits for the bytes still to be sent to go out and for
  // the board to end its side of the connection.
  static constexpr uint32_t kCloseLingerMs = 200;
  // How long a new connection is watched for the board ending it at once
  // (it serves another host), and how long a reconnecting link then waits
  // before it asks again: it does not fight the other host for the board.
  static constexpr uint32_t kTurnAwayGraceMs = 100;
  static constexpr uint32_t kHeldRetryPauseMs = 1000;

  // Worker keys posted to the poller.
  static constexpr int kLinkErrorKey = 2;
  static constexpr int kSendKey = 3;  // bytes wait for room in the socket
  static constexpr int kStopKey = 9999;

  explicit TcpLink(LinkEvents& events);
  ~TcpLink() override;

  // The board the next open connects to: dotted IPv4 text and a port. With
  // wait, the open waits up to connect_timeout_ms for the board (and fails
  // without it); without, the link counts as up at once and the worker
  // connects. The link re-establishes itself after a link error or
  // idle_timeout_ms (0: never) without received bytes; IsOpen stays true
  // meanwhile.
  void SetTarget(const std::string& address, uint16_t port, uint32_t connect_timeout_ms, uint32_t idle_timeout_ms,
                 bool wait);

  // Open while already connected re-establishes the link at once.
  bool Open() override;
  // Stops the worker (at once, even during a reconnect); a working link
  // sends what waits first and ends the connection in order.
  void Close() override;
  bool IsOpen() const override { return connected_.load() != 0; }
  bool IsUp() const override { return connected_.load() != 0 && link_ready_.load() != 0; }
  bool IsTcp() const override { return true; }
  uint32_t LinkErrorCount() const override { return link_errors_.load(std::memory_order_relaxed); }

  // Sends what the socket takes of the transmit ring now, never blocking;
  // the worker sends the rest once the socket has room. 1 sent or under
  // way, 0 failed (the bytes are dropped and the worker re-establishes the
  // link).
  int Send();

 protected:
  void Transmit() override;

 private:
  enum class Attempt { kUp, kFailed, kHeld, kStopped };

  // The new stream of a fresh connection, with the bytes the board sent at once.
  void StartStream(uint32_t early);
  void Worker();
  // Replaces the socket with a new connection to the peer.
  Attempt Reconnect();
  // Waits ms milliseconds unless stopped first; false when stopped.
  bool Pause(uint32_t ms);
  bool StopSeen(const platform::Poller::Result& r) const;
  // Waits until a started connect has an outcome: 0 up, an error number,
  // ETIMEDOUT when the time ran out, ECANCELED (and *stopped) on the stop key.
  int WaitConnected(platform::TcpSocket& s, uint32_t timeout_ms, bool watch_stop, bool* stopped);
  // Takes one chunk into the receive ring; returns its size. A lost link
  // sets *link_lost and says why.
  uint32_t Receive(bool* link_lost, int* reason, int* os_error);
  // kHeld when the board ended the fresh connection s within the grace
  // without a byte;
  // kUp when it did not (bytes it sent meanwhile wait in rx_buf_, *early),
  // kStopped on the stop key (with watch_stop).
  Attempt TurnedAway(platform::TcpSocket& s, bool watch_stop, uint32_t* early);
  void PostKey(uint32_t key);
  void ReleaseHandles();
  // At a close of a working link: sends what waits in the transmit ring and
  // ends the connection in order (within kCloseLingerMs).
  void Linger();
  void Report(int err);

  std::string address_;
  uint16_t port_ = 0;
  bool wait_ = true;
  std::mutex control_;    // Open and Close one at a time
  std::mutex send_lock_;  // one Send at a time (the send buffer)
  std::mutex sock_lock_;  // the socket and poller handles against Send and Post
  platform::TcpSocket sock_;
  platform::Poller poller_;
  platform::Ipv4Endpoint peer_;
  uint32_t connect_timeout_ms_ = 0;
  std::atomic<uint32_t> idle_timeout_ms_{5000};
  std::atomic<int> connected_{0};
  std::atomic<int> link_ready_{0};
  std::atomic<uint32_t> link_errors_{0};
  int last_reported_ = 0;  // the worker reports one error once per outage
  std::unique_ptr<uint8_t[]> rx_buf_;  // allocated on the first connect
  std::unique_ptr<uint8_t[]> tx_buf_;
  platform::Thread worker_;
};

}  // namespace voxa
