// The controller object: one per board slot. It owns the link to the board,
// the register images, the command builder, the soft queue, the receive and
// timer threads and the locks that tie them together.
//
// Lock order: command group lock, build lock, queue transfer lock, queue
// ring lock; the transfer lock or the build lock before the send lock; the
// state lock alone or last; the transport's ring locks innermost.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdint>
#include <string>

#include "dispatch/dispatch.h"
#include "controller/frame.h"
#include "controller/pacing.h"
#include "controller/soft_queue.h"
#include "families/io/io_state.h"
#include "families/motion/motion_state.h"
#include "platform/owned_lock.h"
#include "platform/platform.h"
#include "state/receive.h"
#include "state/state_mirror.h"
#include "transport/comm.h"

namespace voxa {

// Events of the event table that can be registered.
constexpr int kEventComplete = 7;
constexpr int kEventComparator = 10;
constexpr int kEventTableSize = 14;

constexpr uint16_t kLoopbackPort = 0xFFFF;
constexpr uint16_t kStoredTcpPort = 10000;

// What the calling application thread's export asks of the link. An
// immediate frame that the link cannot take at once waits for room, up to
// the send limit; a frame still refused then is noted here, and the export
// fails with VOXA_ERR_SEND instead of reporting success.
struct CallSends {
  bool in_call = false;
  bool refused = false;
};
CallSends& ThisCallSends();
constexpr uint32_t kSendLimitMs = 500;

class CQLM207 : public ReceiveEvents {
 public:
  CQLM207();
  ~CQLM207() override;
  CQLM207(const CQLM207&) = delete;
  CQLM207& operator=(const CQLM207&) = delete;

  // Link operations. A failed open leaves why in OpenFailureText.
  virtual int LinkPort(uint16_t port, uint32_t baud);
  virtual int LinkDevice(const char* path, uint32_t baud);
  virtual int LinkTcp(uint32_t address, int port, uint32_t rate);
  virtual void Unlink();
  // Why the last open failed, as the transport said (kind, system error)
  // and as a sentence naming the link.
  OpenFailure LastOpenFailure() const { return transport_.LastOpenFailure(); }
  std::string OpenFailureText() const;

  // ---- register image (state lock) ----
  StateMirror& mirror() { return mirror_; }
  platform::CriticalSection& StateLock() { return mirror_.Lock(); }
  uint32_t GetRegWord(int r, int i) { return mirror_.GetRegWord(r, i); }
  void SetRegWord(int r, int i, uint32_t v) { mirror_.SetRegWord(r, i, v); }
  void OrRegBits(int r, int i, uint32_t bits) { mirror_.OrRegBits(r, i, bits); }
  void ClrRegBits(int r, int i, uint32_t bits) { mirror_.ClrRegBits(r, i, bits); }
  void SetRegField(int r, int i, uint32_t mask, uint32_t v) { mirror_.SetRegField(r, i, mask, v); }
  uint32_t TestRegBits(int r, int i, uint32_t mask) { return mirror_.TestRegBits(r, i, mask); }

  // ---- command builder: 1 when built and handed on, 0 otherwise ----
  int SendCommand(uint8_t opcode, uint8_t mask, uint8_t tag);
  int SendRegCommand(uint8_t opcode, uint8_t mask, uint8_t descriptor, uint8_t tag);
  int SendReadRequest(int immediate, int r, uint8_t mask, uint8_t descriptor, uint8_t tag);
  int SendRegWrite(int immediate, int r, uint8_t mask, uint8_t descriptor, uint8_t tag);

  // ---- soft queue and direct send ----
  int PushFrame(const FrameBuffer& f);
  int PopAndSendFrame();
  int SendFrameDirect(const uint8_t* stored_frame);  // L, id, payload
  void ClearSoftQueue();
  int AllocateSoftQueue(int32_t size) { return soft_queue_.Allocate(size); }
  SoftQueue& soft_queue() { return soft_queue_; }

  // ---- state ----
  int IsOpen() const { return open_flag_.load(); }
  int IsReady() const { return ready_flag_; }
  int IsLinked() const { return link_flag_.load(); }
  int IsTcp() const { return tcp_flag_.load(); }
  uint16_t PortNumber() const { return port_number_.load(); }
  CVX_Comm_Socket& transport() { return transport_; }
  PacketCounters& counters() { return counters_; }
  MotionState& motion_state() { return motion_state_; }
  IoState& io_state() { return io_state_; }
  int EngineVersionNumber() { return EngineVersion(GetRegWord(CHIPSTATUS, 7)); }

  // ---- completion and messages ----
  // Blocks until the board reports the ID complete (0xFF: any ID); 1 when
  // it did, 0 on timeout.
  int WaitMotion(uint8_t id, uint32_t timeout_ms);
  uint8_t AwaitedId();
  uint8_t CompletedId();
  void RegisterEvent(int event, VOXA_HWND window, uint32_t message);
  // Marks that a command carrying this ID went to the board: a completion
  // reported for it from now on is remembered until a wait takes it.
  void NoteIdSent(uint8_t id);
  // True when the board reported this ID complete since it was last sent.
  bool ReportedSinceSent(uint8_t id);
  // A host stop (a stop, cancel, reset or queue clear) goes to the board: a
  // command with an ID sent before it and reported complete after it was
  // ended by the host, not run to its end.
  void NoteHostStop();
  // How the completion the last wait took ended its command, and how the
  // last report of an ID since it was last sent did (VOXA_COMPLETE_...).
  int WaitReason();
  int CompleteReason(uint8_t id);

  // ---- fresh state on request ----
  // Sends an immediate read request (tag kTagRefresh) for every register
  // whose bit is set and blocks until the board has answered each one: 1
  // then, 0 at the timeout or when the link closes meanwhile.
  int Refresh(uint32_t registers, uint32_t timeout_ms);

  // ReceiveEvents
  void OnComplete(uint32_t payload_word) override;
  void OnEventPacket(uint32_t payload_word) override;
  void OnReadReply(int r, int tag) override;

  // The board slot this controller serves (for traces and messages).
  void SetBoardIndex(int index) { board_index_ = index; }
  int BoardIndex() const { return board_index_; }
  void OnFrame(const uint8_t* frame, int size) override;

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

 protected:
  void ReceiveThreadMain();
  // Pops every received byte and dispatches the frames; the caller holds
  // the parse lock.
  void DrainReceived();
  void TimerThreadMain();
  static void RxCallback(void* self);
  static void LinkCallback(void* self, int state, int reason, int os_error);
  // Sets the link flag; a change is reported to the link handler.
  void SetLinkFlag(int up, int reason);
  static int64_t NowMs();
  static void TimerCallback(void* self);
  int SendBuilt(const FrameBuffer& f);
  int StartThreads();
  void PostEvent(int event, uint32_t payload_word);

  int board_index_ = 0;
  std::atomic<uint16_t> port_number_{0};
  uint8_t controller_id_ = 0;

  StateMirror mirror_;
  platform::CriticalSection build_lock_;
  platform::CriticalSection send_lock_;
  platform::CriticalSection queue_transfer_lock_;
  platform::Event rx_wake_{false};
  // Held while received bytes are parsed and dispatched, by the receive
  // thread or by the link's own thread (see RxCallback); frames of one
  // board are never handled by two threads at once.
  std::mutex parse_lock_;
  std::atomic<std::thread::id> parse_owner_{};  // the thread holding the parse lock
  dispatch::StateBatch state_batch_;             // under the parse lock
  FrameParser parser_;  // parse lock
  uint32_t parser_stream_ = 0;  // parse lock: the stream the parser is in
  // When the board last reported each register (ms on the steady clock;
  // -1: not on this link).
  std::atomic<int64_t> reg_seen_ms_[32];
  // Manual-reset, so that a close wakes every waiter at once; a wait
  // resets it before it publishes the ID it waits for.
  platform::Event completion_{true};
  std::atomic<uint32_t> wait_epoch_{0};  // advanced by every close
  int waiters_ = 0;                      // state lock: waits in progress
  platform::Event timer_wake_{true};

  CVX_Comm_Socket transport_;
  std::string link_name_;  // the link of the last open: "127.0.0.1:1000", "/dev/ttyS0"
  uint32_t board_address_ = 0x3200A8C0;  // 192.168.0.50 in network byte order
  int32_t board_tcp_port_ = 1000;
  std::atomic<int> tcp_flag_{0};
  std::atomic<int> loopback_link_{0};  // the link is the loopback link (port 0xFFFF)
  int ready_flag_ = 0;
  std::atomic<int> open_flag_{0};
  std::atomic<int> link_flag_{0};
  // Set once the board on the current link has reported CHIPSTATUS; until
  // then the image holds what an earlier board reported.
  std::atomic<int> board_reported_{0};
  platform::Thread timer_thread_;
  platform::Thread rx_thread_;

  struct EventEntry {
    VOXA_HWND window = nullptr;
    uint32_t message = 0;
  };
  EventEntry events_[kEventTableSize];  // state lock

  uint8_t awaited_id_ = 0;    // state lock
  uint8_t completed_id_ = 0;  // state lock
  uint8_t reported_[256] = {};  // state lock: completion seen since the ID was last sent
  // How each ID's completions end: the host stops counted when the ID was
  // last sent, and how its last report since then ended (VOXA_COMPLETE_...).
  uint32_t host_stops_ = 0;             // state lock
  uint32_t stops_at_send_[256] = {};    // state lock
  uint8_t sent_[256] = {};              // state lock: sent on this link
  uint8_t complete_reason_[256] = {};   // state lock
  uint8_t matched_reason_ = 0;          // state lock: of the completion a wait in progress took
  uint8_t wait_reason_ = 0;             // state lock: of the completion the last wait took
  uint8_t ReasonOf(uint8_t id) const;   // state lock

  // Refresh requests per register: how many were sent and how many the
  // board answered. The board answers in order, so the n-th reply answers
  // a request sent no earlier than the n-th request was counted.
  std::mutex refresh_lock_;
  std::condition_variable refresh_answered_cv_;
  uint32_t refresh_sent_[kRegisters] = {};      // refresh lock
  uint32_t refresh_answered_[kRegisters] = {};  // refresh lock
  uint32_t refresh_owed_[kRegisters] = {};      // refresh lock: late answers still to come
  int64_t refresh_owed_until_[kRegisters] = {}; // refresh lock: when they count as lost (ms)
  uint32_t refresh_link_epoch_ = 0;             // refresh lock: counts closes
  // The link closes: waiting refreshes end with 0 and the requests still
  // unanswered are forgotten.
  void EndRefreshes();

  void WatchForRestart(int r);  // receive path: a poll answer for register r
  void RestoreSettings();       // timer thread
  std::atomic<int> restart_watch_{0};          // a reconnection awaits its verdict
  std::atomic<int> restore_after_restart_{0};  // the application asked for the write-back
  std::atomic<int> restore_pending_{0};        // the timer thread writes back
  std::atomic<uint32_t> restarts_{0};
  DrainPacer pacer_;  // its own lock, innermost
  std::atomic<uint32_t> in_doubt_{0};
  // The link was lost: what was on its way is counted and reported.
  void SettleInDoubt();

  FrameBuffer frame_{};  // build lock
  SoftQueue soft_queue_;

  int32_t poll_index_ = 0;  // timer thread only
  int32_t poll_table_[30];
  int32_t limit_hold_off_ = 5;  // timer callback only

  PacketCounters counters_;
  MotionState motion_state_;
  IoState io_state_;
};

// Adds the command mode, the command ID and the register-write tag.
class CQLM207Y : public CQLM207 {
 public:
  static constexpr int kModeStackSize = 1024;

  CQLM207Y();
  ~CQLM207Y() override;

  void Unlink() override;
  int OpenComm(uint16_t port, uint32_t baud);
  int OpenDevice(const char* path, uint32_t baud);
  int OpenTcpLink(uint32_t address, int port, uint32_t rate);

  // Command mode.
  uint8_t CommandMode();
  bool Immediate() { return CommandMode() == kImmediate; }
  uint8_t ImmediateFlag() { return Immediate() ? kImmediate : 0; }
  void PushMode(uint8_t m);
  uint8_t PopMode();
  void EnterQueueCmd();
  void LeaveQueueCmd();
  void EnterImCmd();
  void LeaveImCmd();
  void SetCommandMode(uint8_t m);
  int ModeStackDepth();

  // Command ID and register-write tag.
  void SetCmdId(uint8_t id);
  uint8_t CmdId();
  uint8_t RegTag();

  // What the families send: everything by the command mode.
  int WriteReg(int r, uint8_t mask) { return WriteRegTagged(r, mask, RegTag()); }
  int WriteRegTagged(int r, uint8_t mask, uint8_t tag);
  int Action(uint8_t code, uint8_t mask) { return ActionTagged(code, mask, CmdId()); }
  int ActionTagged(uint8_t code, uint8_t mask, uint8_t tag);
  int System(uint8_t code, uint8_t tag);

 protected:
  platform::OwnedLock group_lock_;
  uint8_t mode_ = 0;                   // state lock
  uint8_t reg_tag_ = kNoTag;           // state lock
  uint8_t cmd_id_ = kNoTag;            // state lock
  uint8_t mode_stack_[kModeStackSize];  // state lock
  int32_t mode_depth_ = 0;             // state lock
};

class CQLM207X : public CQLM207Y {
 public:
  CQLM207X() = default;
  ~CQLM207X() override = default;
};

}  // namespace voxa
