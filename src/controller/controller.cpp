#include "controller/controller.h"

#include "dispatch/dispatch.h"
#include "platform/serial.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace voxa {

// ---------------------------------------------------------------- CQLM207

CQLM207::CQLM207() {
  int k = 0;
  for (int r = 0; r < 32; ++r)
    if (r != CAL2 && r != CAL3) poll_table_[k++] = r;
  ready_flag_ = soft_queue_.Allocate(SoftQueue::kDefaultCapacity);
}

CQLM207::~CQLM207() {
  if (open_flag_.load()) CQLM207::Unlink();
  // A thread that failed to start its partner may still run.
  transport_.Close();
  rx_wake_.Set();
  timer_wake_.Set();
  rx_thread_.Join();
  timer_thread_.Join();
  soft_queue_.Free();
  ready_flag_ = 0;
}

// Runs on the link's thread once received bytes are in the receive ring.
// When the receive thread is not busy with earlier bytes, the bytes are
// parsed right here, which spares a thread hand-off on every reply; else the
// receive thread is woken and takes them in order.
void CQLM207::RxCallback(void* self) {
  auto* c = static_cast<CQLM207*>(self);
  if (!c->ready_flag_) return;
  if (c->open_flag_.load() && c->parse_lock_.try_lock()) {
    c->parse_owner_.store(std::this_thread::get_id());
    c->DrainReceived();
    c->parse_owner_.store(std::thread::id());
    c->parse_lock_.unlock();
    if (c->transport_.RxIsEmpty()) return;
  }
  c->rx_wake_.Set();
}

int CQLM207::LinkPort(uint16_t port, uint32_t baud) {
  if (!ready_flag_) return 0;
  // A slot whose threads failed to start last time still holds an open
  // transport; close it before opening again.
  if (transport_.IsOpen() || rx_thread_.Joinable() || timer_thread_.Joinable()) CQLM207::Unlink();
  transport_.SetRxCallback(&CQLM207::RxCallback, this);
  transport_.SetLinkCallback(&CQLM207::LinkCallback, this);
  loopback_link_.store(port == kLoopbackPort ? 1 : 0);
  int ok;
  if (port == kLoopbackPort) {
    link_name_ = "127.0.0.1:1000";
    ok = transport_.OpenTcpNoWait("127.0.0.1", 1000, baud, 3000, 5000);
    if (ok) tcp_flag_.store(1);
  } else if (port == kStoredTcpPort) {
    char dotted[20];
    const uint32_t a = board_address_;
    std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", a & 0xFF, (a >> 8) & 0xFF, (a >> 16) & 0xFF, (a >> 24) & 0xFF);
    char name[32];
    std::snprintf(name, sizeof name, "%s:%d", dotted, static_cast<int>(board_tcp_port_));
    link_name_ = name;
    ok = transport_.OpenTcp(dotted, static_cast<uint16_t>(board_tcp_port_), baud, 3000, 5000);
    if (ok) tcp_flag_.store(1);
  } else {
    link_name_ = platform::SerialDeviceName(port);
    if (link_name_.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "serial port %u", static_cast<unsigned>(port));
      link_name_ = name;
    }
    ok = transport_.OpenSerialNo(port, baud, 8, 0, 0);
  }
  if (!ok) {
    transport_.ClearRxCallback();
    transport_.ClearTxHook();
    return 0;
  }
  return StartThreads();
}

int CQLM207::LinkDevice(const char* path, uint32_t baud) {
  if (!ready_flag_ || path == nullptr) return 0;
  if (transport_.IsOpen() || rx_thread_.Joinable() || timer_thread_.Joinable()) CQLM207::Unlink();
  transport_.SetRxCallback(&CQLM207::RxCallback, this);
  transport_.SetLinkCallback(&CQLM207::LinkCallback, this);
  loopback_link_.store(0);
  link_name_ = path;
  if (!transport_.OpenSerialDevice(path, baud)) {
    transport_.ClearRxCallback();
    transport_.ClearTxHook();
    return 0;
  }
  return StartThreads();
}

std::string CQLM207::OpenFailureText() const {
  const OpenFailure f = transport_.LastOpenFailure();
  const char* link = link_name_.c_str();
  char text[384];
  switch (f.kind) {
    case OpenFailureKind::kHeld:
      std::snprintf(text, sizeof text, "the board at %s is held by another host", link);
      break;
    case OpenFailureKind::kNoAnswer:
      std::snprintf(text, sizeof text, "no answer from %s (the connection timed out)", link);
      break;
    case OpenFailureKind::kSystem: {
      char reason[256];
      std::snprintf(text, sizeof text, "%s: %s", link, platform::SystemErrorText(f.os_error, reason, sizeof reason));
      break;
    }
    case OpenFailureKind::kNone:
    default:
      std::snprintf(text, sizeof text, "%s: the link opened, but its threads could not be started", link);
      break;
  }
  return text;
}

int CQLM207::StartThreads() {
  {
    // Completions a board reported on an earlier link end no wait on this one.
    platform::Locked g(mirror_.Lock());
    std::memset(reported_, 0, sizeof reported_);
    std::memset(sent_, 0, sizeof sent_);
    std::memset(complete_reason_, 0, sizeof complete_reason_);
  }
  for (auto& t : reg_seen_ms_) t.store(-1);
  pacer_.Restart();
  restart_watch_.store(0);
  restore_pending_.store(0);
  // The open flag goes up first: the timer thread runs only while it is set.
  open_flag_.store(1);
  // Bytes the board sent the moment it accepted the connection may already
  // wait in the ring, their wake-up spent while the slot was not yet open:
  // the receive thread starts by taking them.
  rx_wake_.Set();
  board_reported_.store(0);
  timer_wake_.Reset();
  if (!rx_thread_.Start([this] { ReceiveThreadMain(); })) {
    open_flag_.store(0);
    return 0;
  }
  if (!timer_thread_.Start([this] { TimerThreadMain(); })) {
    open_flag_.store(0);
    return 0;
  }
  return 1;
}

int CQLM207::LinkTcp(uint32_t address, int port, uint32_t rate) {
  board_address_ = address;
  board_tcp_port_ = port & 0xFFFF;
  return LinkPort(kStoredTcpPort, rate);
}

void CQLM207::Unlink() {
  // Nothing is built or sent from here on, and the timer thread (polls,
  // keep-alives, the queue's drain) ends first: a frame handed to the link
  // before the close goes out with it, none is handed over half-closed.
  open_flag_.store(0);
  timer_wake_.Set();
  rx_wake_.Set();
  transport_.WakeTxWaiters();  // a call waiting for room gives up now
  timer_thread_.Join();
  transport_.Close();
  EndRefreshes();
  tcp_flag_.store(0);
  loopback_link_.store(0);
  // The receive thread watches the transport and the event; it ends at once.
  rx_wake_.Set();
  // A wait for a completion on this link ends now.
  wait_epoch_.fetch_add(1);
  completion_.Set();
  // Closed from a message handler, this thread holds the parse lock that the
  // receive thread may be waiting for: that thread ends by itself once the
  // handler returns, and the next open or the destructor joins it.
  if (parse_owner_.load() != std::this_thread::get_id()) rx_thread_.Join();
  SetLinkFlag(0, VOXA_LINK_REASON_CLOSED);
}

void CQLM207::SetLinkFlag(int up, int reason) {
  if (link_flag_.exchange(up) != up) dispatch::Link(board_index_, up ? VOXA_LINK_UP : VOXA_LINK_DOWN, reason, 0);
}

void CQLM207::LinkCallback(void* self, int state, int reason, int os_error) {
  auto* c = static_cast<CQLM207*>(self);
  // A serial device that went away takes the link with it at once (and the
  // application hears of it even when the link flag was not yet up).
  if (state == VOXA_LINK_DOWN) c->link_flag_.store(0);
  dispatch::Link(c->board_index_, state, reason, os_error);
  if (state == VOXA_LINK_RECONNECTING || (state == VOXA_LINK_DOWN && reason == VOXA_LINK_REASON_HANGUP))
    c->SettleInDoubt();
  else if (state == VOXA_LINK_RECONNECTED) {
    c->pacer_.Restart();
    c->restart_watch_.store(1);
  }
}

void CQLM207::SettleInDoubt() {
  const uint32_t n = pacer_.TakeInDoubt();
  if (n == 0) return;
  in_doubt_.fetch_add(n);
  dispatch::Link(board_index_, VOXA_LINK_IN_DOUBT, VOXA_LINK_REASON_NONE, static_cast<int>(n));
  char text[160];
  std::snprintf(text, sizeof text,
                "%u queued frames were on their way when the link was lost: the board may not have them, and "
                "they are not sent again\n",
                n);
  dispatch::Log(board_index_, text);
}

int CQLM207::RegAge(int r) {
  if (r < 0 || r >= kRegisters) return -1;
  const int64_t seen = reg_seen_ms_[r].load();
  if (seen < 0) return -1;
  const int64_t age = NowMs() - seen;
  return age > INT32_MAX ? INT32_MAX : static_cast<int>(age);
}

int64_t CQLM207::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(platform::Clock::now().time_since_epoch()).count();
}

// ---------------------------------------------------------------- builder

int CQLM207::SendBuilt(const FrameBuffer& f) {
  const uint8_t* stored = &f.bytes[1];
  if (f.bytes[3] & kImmediate) return SendFrameDirect(stored);
  // Without soft-queue storage, queued commands go out directly too.
  const int pushed = PushFrame(f);
  return pushed >= 0 ? pushed : SendFrameDirect(stored);
}

int CQLM207::SendCommand(uint8_t opcode, uint8_t mask, uint8_t tag) {
  if (!open_flag_.load()) return 0;
  platform::Locked g(build_lock_);
  bool built = false;
  switch (KindOf(opcode)) {
    case OpKind::System: built = BuildSystemCommand(frame_, controller_id_, opcode, tag); break;
    case OpKind::Action: built = BuildActionCommand(frame_, controller_id_, opcode, mask, tag); break;
    default: return SendRegCommand(opcode, mask, kWidth4, tag);
  }
  return built ? SendBuilt(frame_) : 0;
}

int CQLM207::SendRegCommand(uint8_t opcode, uint8_t mask, uint8_t descriptor, uint8_t tag) {
  if (!open_flag_.load()) return 0;
  platform::Locked g(build_lock_);
  bool built = false;
  switch (KindOf(opcode)) {
    case OpKind::System: built = BuildSystemCommand(frame_, controller_id_, opcode, tag); break;
    case OpKind::Action: built = BuildActionCommand(frame_, controller_id_, opcode, mask, tag); break;
    case OpKind::ReadRequest:
      built = BuildReadRequest(frame_, controller_id_, opcode, mask, descriptor, tag);
      break;
    case OpKind::RegisterWrite: {
      const int r = ((opcode & 0x7F) - 0x10) >> 1;
      uint32_t values[8];
      {
        platform::Locked s(mirror_.Lock());
        std::memcpy(values, mirror_.Image() + r * kWords, sizeof values);
      }
      built = BuildRegisterWrite(frame_, controller_id_, opcode, mask, descriptor, tag, values);
      break;
    }
  }
  return built ? SendBuilt(frame_) : 0;
}

int CQLM207::SendReadRequest(int immediate, int r, uint8_t mask, uint8_t descriptor, uint8_t tag) {
  const uint8_t opcode = static_cast<uint8_t>(0x10 + 2 * (r & 0x1F) + (immediate ? kImmediate : 0));
  return SendRegCommand(opcode, mask, descriptor, tag);
}

int CQLM207::SendRegWrite(int immediate, int r, uint8_t mask, uint8_t descriptor, uint8_t tag) {
  const uint8_t opcode = static_cast<uint8_t>(0x11 + 2 * (r & 0x1F) + (immediate ? kImmediate : 0));
  return SendRegCommand(opcode, mask, descriptor, tag);
}

// ---------------------------------------------------------------- queue and send

int CQLM207::PushFrame(const FrameBuffer& f) {
  platform::Locked g(queue_transfer_lock_);
  return soft_queue_.Push(&f.bytes[1]);
}

int CQLM207::PopAndSendFrame() {
  int32_t failure = -1;
  {
    platform::Locked g(queue_transfer_lock_);
    // A frame leaves the queue only when the link can take it: while the link
    // is down or the board does not read, frames wait here, in order.
    platform::Locked s(send_lock_);
    if (!transport_.CanTake(kFrameBufferSize + 2)) return 0;
    uint8_t stored[kFrameBufferSize];
    if (soft_queue_.Pop(stored, sizeof stored, &failure) != 0) {
      const int sent = SendFrameDirect(stored);
      if (sent) pacer_.FrameSent();
      return sent;
    }
  }
  if (failure >= 0) {
    // Said from the dispatch thread: this is the tick, which a close waits
    // for, and the handler may call any export.
    char text[80];
    std::snprintf(text, sizeof text, "\n QLM207.CmdQueue_SendTxPacket>Error! Pop packecket Size[%d]", failure);
    dispatch::Log(board_index_, text);
  }
  return 0;
}

void CQLM207::ClearSoftQueue() {
  // Holding the transfer lock, a clear never falls inside a frame's push or pop.
  platform::Locked g(queue_transfer_lock_);
  soft_queue_.Clear();
}

CallSends& ThisCallSends() {
  thread_local CallSends sends;
  return sends;
}

int CQLM207::SendFrameDirect(const uint8_t* stored) {
  const int len = stored[0] & 0x7F;
  uint8_t wire[kFrameBufferSize + 1];
  wire[0] = kStartByte;
  std::memcpy(wire + 1, stored, static_cast<size_t>(len));
  wire[len + 1] = FrameChecksum(wire, static_cast<size_t>(len) + 1);
  const int size = len + 2;

  // An application's call waits a while for room in a full transmit ring
  // (a board that reads slowly, or not at all); the library's own threads
  // never wait here.
  CallSends& call = ThisCallSends();
  const auto deadline = platform::Clock::now() + std::chrono::milliseconds(kSendLimitMs);
  for (;;) {
    if (call.in_call) transport_.ArmTxRoom();
    {
      platform::Locked g(send_lock_);
      // The whole frame goes into the transmit ring at once, never half of it.
      if (transport_.TxGetFree() > len + 5 && transport_.TxPushBlock(wire, static_cast<uint32_t>(size))) {
        dispatch::Trace(board_index_, VOXA_TRACE_SENT, wire, size);
        // Never blocks: what the link cannot take now its own thread sends later.
        transport_.Transmit();
        return 1;
      }
    }
    const auto now = platform::Clock::now();
    if (!call.in_call || !open_flag_.load() || now >= deadline) {
      if (call.in_call) call.refused = true;
      return 0;
    }
    transport_.WaitTxRoom(static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1));
  }
}

// ---------------------------------------------------------------- completion

uint8_t CQLM207::AwaitedId() {
  platform::Locked g(mirror_.Lock());
  return awaited_id_;
}

uint8_t CQLM207::CompletedId() {
  platform::Locked g(mirror_.Lock());
  return completed_id_;
}

void CQLM207::NoteIdSent(uint8_t id) {
  platform::Locked g(mirror_.Lock());
  reported_[id] = 0;
  sent_[id] = 1;
  stops_at_send_[id] = host_stops_;
  complete_reason_[id] = VOXA_COMPLETE_NONE;
}

void CQLM207::NoteHostStop() {
  platform::Locked g(mirror_.Lock());
  ++host_stops_;
}

uint8_t CQLM207::ReasonOf(uint8_t id) const {
  // An ID the host did not send on this link (a marker of another program,
  // a command of an earlier link) is taken as reported.
  return sent_[id] && stops_at_send_[id] != host_stops_ ? VOXA_COMPLETE_HOST_STOP : VOXA_COMPLETE_ENDED;
}

int CQLM207::WaitReason() {
  platform::Locked g(mirror_.Lock());
  return wait_reason_;
}

int CQLM207::CompleteReason(uint8_t id) {
  platform::Locked g(mirror_.Lock());
  return complete_reason_[id];
}

bool CQLM207::ReportedSinceSent(uint8_t id) {
  platform::Locked g(mirror_.Lock());
  return reported_[id] != 0;
}

int CQLM207::WaitMotion(uint8_t id, uint32_t timeout_ms) {
  const auto deadline = platform::Clock::now() + std::chrono::milliseconds(timeout_ms);
  const uint32_t epoch = wait_epoch_.load();
  if (!open_flag_.load()) return 0;
  // The event is cleared before the awaited ID is published, so a match
  // that lands in between is not wiped out.
  completion_.Reset();
  {
    platform::Locked g(mirror_.Lock());
    awaited_id_ = id;
    // The board may have reported the ID before this wait began (a fast link
    // answers between the command and the wait). That report ends this one
    // wait; the next waits for a new one.
    if (id != 0xFF && id != kNoTag && reported_[id]) {
      reported_[id] = 0;
      awaited_id_ = kNoTag;
      wait_reason_ = complete_reason_[id];
      return 1;
    }
    wait_reason_ = VOXA_COMPLETE_NONE;
    ++waiters_;
  }
  // The caller may be an application's window thread: its messages are
  // dispatched while it waits.
  const bool signalled = timeout_ms == 0 ? completion_.Test() : completion_.WaitUntilDispatching(deadline);
  platform::Locked g(mirror_.Lock());
  --waiters_;
  // A close ends the wait without a completion. A match that came between
  // the timeout and this point was meant for this wait: it is taken, not lost.
  const bool matched_late = !signalled && id != kNoTag && awaited_id_ == kNoTag;
  const bool taken = (signalled || matched_late) && wait_epoch_.load() == epoch;
  wait_reason_ = taken ? matched_reason_ : VOXA_COMPLETE_NONE;
  return taken ? 1 : 0;
}

void CQLM207::OnComplete(uint32_t payload_word) {
  const uint8_t c = static_cast<uint8_t>(payload_word & 0xFF);
  {
    platform::Locked g(mirror_.Lock());
    completed_id_ = c;
    complete_reason_[c] = ReasonOf(c);
    if (awaited_id_ == c || awaited_id_ == 0xFF) {
      matched_reason_ = complete_reason_[c];
      completion_.Set();
      awaited_id_ = kNoTag;
      // Taken by the wait in progress; with none in progress (it timed
      // out) the report is remembered for the next wait.
      if (waiters_ == 0) reported_[c] = 1;
    } else {
      reported_[c] = 1;
    }
  }
  PostEvent(kEventComplete, payload_word);
}

int CQLM207::Refresh(uint32_t registers, uint32_t timeout_ms) {
  const auto deadline = platform::Clock::now() + std::chrono::milliseconds(timeout_ms);
  uint32_t ticket[kRegisters] = {};
  uint32_t epoch;
  {
    std::lock_guard<std::mutex> g(refresh_lock_);
    epoch = refresh_link_epoch_;
    for (int r = 0; r < kRegisters; ++r)
      if (registers & (1u << r)) ticket[r] = ++refresh_sent_[r];
  }
  bool sent = true;
  for (int r = 0; r < kRegisters; ++r)
    if (registers & (1u << r)) {
      pacer_.PollSent(r);  // its answer confirms the queued frames sent before it, too
      if (!SendReadRequest(1, r, 0xFF, kWidth4, kTagRefresh)) sent = false;
    }

  std::unique_lock<std::mutex> g(refresh_lock_);
  auto answered = [&] {
    for (int r = 0; r < kRegisters; ++r)
      if ((registers & (1u << r)) && static_cast<int32_t>(refresh_answered_[r] - ticket[r]) < 0) return false;
    return true;
  };
  const bool ok = sent && refresh_answered_cv_.wait_until(g, deadline, [&] {
    return refresh_link_epoch_ != epoch || answered();
  }) && refresh_link_epoch_ == epoch;
  if (ok) return 1;
  // A request given up on is not waited for again, but its answer may still
  // come: it is owed, and skipped when it comes, so that it never answers a
  // later refresh (the board answers in order). A request the board lost
  // is never answered: what is owed lapses after three times the wait.
  const int64_t until = NowMs() + 3 * static_cast<int64_t>(timeout_ms < 50 ? 50 : timeout_ms);
  for (int r = 0; r < kRegisters; ++r)
    if ((registers & (1u << r)) && static_cast<int32_t>(refresh_answered_[r] - ticket[r]) < 0) {
      refresh_owed_[r] += ticket[r] - refresh_answered_[r];
      refresh_answered_[r] = ticket[r];
      if (until > refresh_owed_until_[r]) refresh_owed_until_[r] = until;
    }
  return 0;
}

void CQLM207::OnReadReply(int r, int tag) {
  if (tag == kTagPoll || tag == kTagRefresh) pacer_.PollAnswered(r);
  if (tag == kTagPoll) WatchForRestart(r);
  if (tag != kTagRefresh || r < 0 || r >= kRegisters) return;
  {
    std::lock_guard<std::mutex> g(refresh_lock_);
    if (refresh_owed_[r] > 0 && NowMs() >= refresh_owed_until_[r]) refresh_owed_[r] = 0;
    if (refresh_owed_[r] > 0) {
      --refresh_owed_[r];  // the late answer to a request given up on
      return;
    }
    if (refresh_answered_[r] == refresh_sent_[r]) return;  // asked by nobody here
    ++refresh_answered_[r];
  }
  refresh_answered_cv_.notify_all();
}

void CQLM207::EndRefreshes() {
  {
    std::lock_guard<std::mutex> g(refresh_lock_);
    ++refresh_link_epoch_;
    for (int r = 0; r < kRegisters; ++r) {
      refresh_answered_[r] = refresh_sent_[r];
      refresh_owed_[r] = 0;  // a closed link answers nothing more
    }
  }
  refresh_answered_cv_.notify_all();
}

void CQLM207::OnEventPacket(uint32_t payload_word) { PostEvent(kEventComparator, payload_word); }

void CQLM207::OnFrame(const uint8_t* frame, int size) {
  // A state packet carrying CHIPSTATUS, or a CHIPSTATUS read reply: the
  // board on this link has reported its engine and status.
  const int type = frame[3] & 0x7F;
  if ((type == 11 && size > 5 && (frame[4] & 0x01)) || type == 16 + 2 * CHIPSTATUS) board_reported_.store(1);
  if (dispatch::TraceOn()) state_batch_.Flush(board_index_, false);
  dispatch::Trace(board_index_, VOXA_TRACE_RECEIVED, frame, size);
}

void CQLM207::RegisterEvent(int event, VOXA_HWND window, uint32_t message) {
  if (event < 0 || event >= kEventTableSize) return;
  platform::Locked g(mirror_.Lock());
  events_[event].window = window;
  events_[event].message = message;
}

void CQLM207::PostEvent(int event, uint32_t payload_word) {
  EventEntry e;
  {
    platform::Locked g(mirror_.Lock());
    e = events_[event];
  }
  // The state notes of the packets before this one go first.
  state_batch_.Flush(board_index_, false);
  // wParam identifies the board: the address of its controller.
  dispatch::Message(board_index_, e.window, e.message, reinterpret_cast<uintptr_t>(this),
                    static_cast<intptr_t>(static_cast<int32_t>(payload_word)));
}

// ---------------------------------------------------------------- receive thread

void CQLM207::ReceiveThreadMain() {
  platform::SetThreadName("voxa-rx");
  while (transport_.IsOpen()) {
    // Close sets the wake event, so no periodic wake-up is needed to notice it.
    rx_wake_.WaitForever();
    if (!transport_.IsOpen()) break;
    std::lock_guard<std::mutex> g(parse_lock_);
    parse_owner_.store(std::this_thread::get_id());
    DrainReceived();
    parse_owner_.store(std::thread::id());
  }
}

void CQLM207::DrainReceived() {
  uint8_t chunk[4096];
  for (;;) {
    uint32_t stream = 0;
    const uint32_t n = transport_.RxPopBlock(chunk, sizeof chunk, &stream);
    if (n == 0) break;
    // The first bytes of a new connection or a new open start a new
    // stream: a frame the old one broke off must not swallow them.
    if (stream != parser_stream_) {
      parser_.Reset();
      parser_stream_ = stream;
    }
    const auto now = platform::Clock::now().time_since_epoch();
    const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    const uint64_t now_us = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
    const bool notify = dispatch::StateOn();
    parser_.FeedBlock(chunk, n, [&](const RxFrame& f) {
      OnFrame(f.bytes, f.n + 2);
      uint32_t updated = 0;
      DispatchFrame(mirror_, counters_, this, f, &updated);
      if (updated != 0) {
        for (int r = 0; r < kRegisters; ++r)
          if (updated & (1u << r)) reg_seen_ms_[r].store(now_ms, std::memory_order_relaxed);
        if (notify) state_batch_.Add(board_index_, updated, now_us);
      }
    });
  }
  // The burst is over: its state notes go to the dispatch thread at once.
  state_batch_.Flush(board_index_, true);
}

// ---------------------------------------------------------------- CQLM207Y

CQLM207Y::CQLM207Y() { std::memset(mode_stack_, kImmediate, sizeof mode_stack_); }

CQLM207Y::~CQLM207Y() { CQLM207Y::Unlink(); }

void CQLM207Y::Unlink() { CQLM207::Unlink(); }

int CQLM207Y::OpenComm(uint16_t port, uint32_t baud) {
  const int ok = CQLM207::LinkPort(port, baud);
  if (ok) port_number_.store(port);
  return ok;
}

int CQLM207Y::OpenDevice(const char* path, uint32_t baud) {
  const int ok = CQLM207::LinkDevice(path, baud);
  if (ok) port_number_.store(0);
  return ok;
}

int CQLM207Y::OpenTcpLink(uint32_t address, int port, uint32_t rate) { return LinkTcp(address, port, rate); }

uint8_t CQLM207Y::CommandMode() {
  platform::Locked g(mirror_.Lock());
  return mode_;
}

void CQLM207Y::SetCommandMode(uint8_t m) {
  platform::Locked g(mirror_.Lock());
  mode_ = m;
}

int CQLM207Y::ModeStackDepth() {
  platform::Locked g(mirror_.Lock());
  return mode_depth_;
}

void CQLM207Y::PushMode(uint8_t m) {
  platform::Locked g(mirror_.Lock());
  if (mode_depth_ < kModeStackSize) mode_stack_[mode_depth_++] = m;
}

uint8_t CQLM207Y::PopMode() {
  platform::Locked g(mirror_.Lock());
  if (mode_depth_ > 0) return mode_stack_[--mode_depth_];
  return 0x77;
}

void CQLM207Y::EnterQueueCmd() {
  group_lock_.Enter();
  PushMode(CommandMode());
  SetCommandMode(0);
}

void CQLM207Y::LeaveQueueCmd() {
  const uint8_t m = PopMode();
  SetCommandMode(m);
  if (m == kImmediate) SendCommand(0x8C, 0, kTagSystem);
  group_lock_.Leave();
}

void CQLM207Y::EnterImCmd() {
  group_lock_.Enter();
  PushMode(CommandMode());
  SetCommandMode(kImmediate);
  SendCommand(0x8C, 0, kTagSystem);
}

void CQLM207Y::LeaveImCmd() {
  const uint8_t m = PopMode();
  if (m != 0) {
    SetCommandMode(kImmediate);
  } else {
    SendCommand(0x8D, 0, kTagSystem);
    SetCommandMode(0);
  }
  group_lock_.Leave();
}

void CQLM207Y::SetCmdId(uint8_t id) {
  platform::Locked g(mirror_.Lock());
  cmd_id_ = id;
  reg_tag_ = id;
}

uint8_t CQLM207Y::CmdId() {
  platform::Locked g(mirror_.Lock());
  return cmd_id_;
}

uint8_t CQLM207Y::RegTag() {
  platform::Locked g(mirror_.Lock());
  return reg_tag_;
}

int CQLM207Y::WriteRegTagged(int r, uint8_t mask, uint8_t tag) {
  return SendRegWrite(Immediate() ? 1 : 0, r, mask, kWidth4, tag);
}

int CQLM207Y::ActionTagged(uint8_t code, uint8_t mask, uint8_t tag) {
  if (tag != kNoTag) NoteIdSent(tag);
  return SendCommand(static_cast<uint8_t>((code & 0x7F) | ImmediateFlag()), mask, tag);
}

int CQLM207Y::System(uint8_t code, uint8_t tag) {
  return SendCommand(static_cast<uint8_t>((code & 0x7F) | ImmediateFlag()), 0, tag);
}

}  // namespace voxa
