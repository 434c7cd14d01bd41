// The controller: one per board slot. It is the link-and-threads role of a
// board (opening and closing the link, the receive thread that parses what
// the board sends, the timer thread that polls, keeps the link alive and
// drains the soft queue), and it carries the two other roles: the command
// sender (CommandSender) and the waits (CompletionWaits).
//
// Locks, in the order they are taken:
//   1. the group lock, the build lock, the send lock (CommandSender);
//   2. the parse lock (here): held while received bytes are parsed;
//   3. the refresh lock (CompletionWaits), taken alone;
//   4. the state lock (the register image's), alone or last;
//   5. innermost: the drain pacer's lock and the links' own locks (the two
//      byte rings, the device or socket handles).
// No application handler runs under any of them: the dispatch thread calls
// them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "controller/board_parts.h"
#include "controller/command_sender.h"
#include "controller/completion_waits.h"
#include "dispatch/dispatch.h"
#include "state/receive.h"
#include "transport/serial_link.h"
#include "transport/tcp_link.h"

namespace voxa {

// Events of the event table that can be registered.
constexpr int kEventComplete = 7;
constexpr int kEventComparator = 10;
constexpr int kEventTableSize = 14;

constexpr uint16_t kLoopbackPort = 0xFFFF;
constexpr uint16_t kStoredTcpPort = 10000;

class Controller final : public BoardParts,
                         public CommandSender,
                         public CompletionWaits,
                         public ReceiveEvents,
                         private LinkEvents {
 public:
  Controller();
  ~Controller() override;
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  // ---- opening and closing: 1 opened, 0 failed (OpenFailureText says why) ----
  // A port number: a serial port, the loopback port (TCP to 127.0.0.1:1000,
  // up at once) or the stored TCP address.
  int OpenComm(uint16_t port, uint32_t baud);
  int OpenDevice(const char* path, uint32_t baud);
  int OpenTcpLink(uint32_t address, int port, uint32_t rate);
  // Any link the caller set up (an in-process loopback, say), whose events
  // go to this controller; it must outlive the open.
  int OpenLink(Link& link, const std::string& name);
  void Unlink();
  LinkEvents& Events() { return *this; }

  OpenFailure LastOpenFailure() const { return link_.load()->LastOpenFailure(); }
  // Why the last open failed, as a sentence naming the link.
  std::string OpenFailureText() const;

  int IsLinked() const { return link_flag_.load(); }
  int IsTcp() const { return tcp_flag_.load(); }
  uint16_t PortNumber() const { return port_number_.load(); }
  // Serial only: a new bit rate for the open port; 0 where it cannot be set.
  int ChangeBaudRate(uint32_t baud) { return link().SetRate(baud); }
  uint32_t ReceivedBytes() { return link().ReceivedBytes(); }

  void RegisterEvent(int event, VOXA_HWND window, uint32_t message);

  // The board slot this controller serves (for traces and messages).
  void SetBoardIndex(int index) { board_index_ = index; }

  // Called by the 10 ms periodic timer.
  void TimerTick();

  // Milliseconds since the board last reported register r on this link;
  // -1 when it has not.
  int RegAge(int r);

  // Queued frames that were on their way when a link was lost, since the
  // library loaded (they may or may not have reached the board; none is sent
  // again), and those on their way now.
  uint32_t InDoubtFrames() const { return in_doubt_.load(); }
  uint32_t UnconfirmedFrames() const { return pacer_.Unconfirmed(); }

  // A restarted board: noticed after a reconnection by the settings it
  // reports; on request the host's settings are written back to it.
  void EnableRestoreAfterRestart(bool on) { restore_after_restart_.store(on ? 1 : 0); }
  int RestoreAfterRestart() const { return restore_after_restart_.load(); }
  uint32_t Restarts() const { return restarts_.load(); }

  // ReceiveEvents
  void OnComplete(uint32_t payload_word) override;
  void OnEventPacket(uint32_t payload_word) override;
  void OnReadReply(int r, int tag) override;
  void OnFrame(const uint8_t* frame, int size) override;

 private:
  // LinkEvents: from the link's own thread.
  void OnReceived() override;
  void OnLinkState(int state, int reason, int os_error) override;

  // Opens by port number (a serial port, the loopback port or the stored TCP
  // address) without noting the port number.
  int LinkPort(uint16_t port, uint32_t baud);
  // Opens the link and starts the board's threads; the loopback port's link
  // counts as linked without heartbeats.
  int StartLink(Link& link, bool loopback_port = false);
  int StartThreads();
  void ReceiveThreadMain();
  // Pops every received byte and dispatches the frames; the caller holds
  // the parse lock.
  void DrainReceived();
  void TimerThreadMain();
  static void TimerCallback(void* self);
  // Sets the link flag; a change is reported to the link handler.
  void SetLinkFlag(int up, int reason);
  void PostEvent(int event, uint32_t payload_word);
  // The link was lost: what was on its way is counted and reported.
  void SettleInDoubt();
  void WatchForRestart(int r);  // receive path: a poll answer for register r
  void RestoreSettings();       // timer thread

  SerialLink serial_;
  TcpLink tcp_;
  std::string link_name_;  // the link of the last open: "127.0.0.1:1000", "/dev/ttyS0"
  uint32_t board_address_ = 0x3200A8C0;  // 192.168.0.50 in network byte order
  int32_t board_tcp_port_ = 1000;
  std::atomic<uint16_t> port_number_{0};
  std::atomic<int> tcp_flag_{0};
  std::atomic<int> loopback_link_{0};  // the link is the loopback port's
  std::atomic<int> link_flag_{0};
  // Set once the board on the current link has reported CHIPSTATUS; until
  // then the image holds what an earlier board reported.
  std::atomic<int> board_reported_{0};

  platform::Thread timer_thread_;
  platform::Thread rx_thread_;
  platform::Event rx_wake_{false};
  platform::Event timer_wake_{true};
  // The parse lock: held while received bytes are parsed and dispatched, by
  // the receive thread or by the link's own thread (see OnReceived); frames
  // of one board are never handled by two threads at once.
  std::mutex parse_lock_;
  std::atomic<std::thread::id> parse_owner_{};  // the thread holding the parse lock
  dispatch::StateBatch state_batch_;             // parse lock
  FrameParser parser_;                           // parse lock
  uint32_t parser_stream_ = 0;                   // parse lock: the stream the parser is in
  // When the board last reported each register (ms on the steady clock;
  // -1: not on this link).
  std::atomic<int64_t> reg_seen_ms_[32];

  struct EventEntry {
    VOXA_HWND window = nullptr;
    uint32_t message = 0;
  };
  EventEntry events_[kEventTableSize];  // state lock

  std::atomic<int> restart_watch_{0};          // a reconnection awaits its verdict
  std::atomic<int> restore_after_restart_{0};  // the application asked for the write-back
  std::atomic<int> restore_pending_{0};        // the timer thread writes back
  std::atomic<uint32_t> restarts_{0};
  std::atomic<uint32_t> in_doubt_{0};

  int32_t poll_index_ = 0;  // timer thread only
  int32_t poll_table_[30];
  int32_t limit_hold_off_ = 5;  // timer callback only
};

}  // namespace voxa
