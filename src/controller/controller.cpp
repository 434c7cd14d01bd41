#include "controller/controller.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/serial.h"

namespace voxa {

Controller::Controller() : CommandSender(*this, *this), CompletionWaits(*this, *this), serial_(*this), tcp_(*this) {
  link_.store(&serial_);
  int k = 0;
  for (int r = 0; r < 32; ++r)
    if (r != CAL2 && r != CAL3) poll_table_[k++] = r;
}

Controller::~Controller() {
  if (open_flag_.load()) Unlink();
  // A thread that failed to start its partner may still run.
  link().Close();
  rx_wake_.Set();
  timer_wake_.Set();
  rx_thread_.Join();
  timer_thread_.Join();
}

// ---------------------------------------------------------------- open and close

int Controller::OpenComm(uint16_t port, uint32_t baud) {
  const int ok = LinkPort(port, baud);
  if (ok) port_number_.store(port);
  return ok;
}

int Controller::LinkPort(uint16_t port, uint32_t baud) {
  int ok;
  if (port == kLoopbackPort) {
    link_name_ = "127.0.0.1:1000";
    tcp_.SetTarget("127.0.0.1", 1000, 3000, 5000, false);
    ok = StartLink(tcp_, true);
  } else if (port == kStoredTcpPort) {
    char dotted[20];
    const uint32_t a = board_address_;
    std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", a & 0xFF, (a >> 8) & 0xFF, (a >> 16) & 0xFF, (a >> 24) & 0xFF);
    char name[32];
    std::snprintf(name, sizeof name, "%s:%d", dotted, static_cast<int>(board_tcp_port_));
    link_name_ = name;
    tcp_.SetTarget(dotted, static_cast<uint16_t>(board_tcp_port_), 3000, 5000, true);
    ok = StartLink(tcp_);
  } else {
    const std::string device = platform::SerialDeviceName(port);
    link_name_ = device;
    if (link_name_.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "serial port %u", static_cast<unsigned>(port));
      link_name_ = name;
    }
    serial_.SetTarget(device, platform::SerialSettings{baud, 8, 0, 0});
    ok = StartLink(serial_);
  }
  return ok;
}

int Controller::OpenDevice(const char* path, uint32_t baud) {
  if (path == nullptr) return 0;
  link_name_ = path;
  serial_.SetTarget(path, platform::SerialSettings{baud, 8, 0, 0});
  const int ok = StartLink(serial_);
  if (ok) port_number_.store(0);
  return ok;
}

int Controller::OpenTcpLink(uint32_t address, int port, uint32_t rate) {
  board_address_ = address;
  board_tcp_port_ = port & 0xFFFF;
  // The port number stays that of the last serial open.
  return LinkPort(kStoredTcpPort, rate);
}

int Controller::OpenLink(Link& link, const std::string& name) {
  link_name_ = name;
  return StartLink(link);
}

int Controller::StartLink(Link& link, bool loopback_port) {
  if (!IsReady()) return 0;
  // A slot whose threads failed to start last time still holds an open
  // link; close it before opening again.
  if (link_.load()->IsOpen() || rx_thread_.Joinable() || timer_thread_.Joinable()) Unlink();
  loopback_link_.store(loopback_port ? 1 : 0);
  link_.store(&link);
  if (!link.Open()) {
    loopback_link_.store(0);
    return 0;
  }
  tcp_flag_.store(link.IsTcp() ? 1 : 0);
  return StartThreads();
}

std::string Controller::OpenFailureText() const {
  const OpenFailure f = LastOpenFailure();
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

int Controller::StartThreads() {
  ForgetCompletions();
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

void Controller::Unlink() {
  // Nothing is built or sent from here on, and the timer thread (polls,
  // keep-alives, the queue's drain) ends first: a frame handed to the link
  // before the close goes out with it, none is handed over half-closed.
  open_flag_.store(0);
  timer_wake_.Set();
  rx_wake_.Set();
  Link& link = this->link();
  link.WakeWriters();  // a call waiting for room gives up now
  timer_thread_.Join();
  link.Close();
  tcp_flag_.store(0);
  loopback_link_.store(0);
  // The receive thread watches the link and the event; it ends at once.
  rx_wake_.Set();
  // Waits for a completion or a refresh on this link end now.
  EndWaits();
  // Closed from a message handler, this thread holds the parse lock that the
  // receive thread may be waiting for: that thread ends by itself once the
  // handler returns, and the next open or the destructor joins it.
  if (parse_owner_.load() != std::this_thread::get_id()) rx_thread_.Join();
  // A link the caller set up may go away after the close.
  if (&link != &serial_ && &link != &tcp_) link_.store(&serial_);
  SetLinkFlag(0, VOXA_LINK_REASON_CLOSED);
}

// ---------------------------------------------------------------- the link's events

// Runs on the link's thread once received bytes are in the receive ring.
// When the receive thread is not busy with earlier bytes, the bytes are
// parsed right here, which spares a thread hand-off on every reply; else the
// receive thread is woken and takes them in order.
void Controller::OnReceived() {
  if (open_flag_.load() && parse_lock_.try_lock()) {
    parse_owner_.store(std::this_thread::get_id());
    DrainReceived();
    parse_owner_.store(std::thread::id());
    parse_lock_.unlock();
    if (link().Received().Empty()) return;
  }
  rx_wake_.Set();
}

void Controller::OnLinkState(int state, int reason, int os_error) {
  if (state == kLinkFault) {
    // From the dispatch thread: the application's report may wait for a
    // user and may close the board, which joins the link's thread.
    char caption[64];
    char text[256];
    std::snprintf(caption, sizeof caption, "TCP ERROR-(%d)", platform::SystemErrorCode(os_error));
    dispatch::ErrorReport(caption, platform::SystemErrorText(os_error, text, sizeof text));
    return;
  }
  // A serial device that went away takes the link with it at once (and the
  // application hears of it even when the link flag was not yet up).
  if (state == VOXA_LINK_DOWN) link_flag_.store(0);
  dispatch::Link(board_index_, state, reason, os_error);
  if (state == VOXA_LINK_RECONNECTING || (state == VOXA_LINK_DOWN && reason == VOXA_LINK_REASON_HANGUP)) {
    SettleInDoubt();
  } else if (state == VOXA_LINK_RECONNECTED) {
    pacer_.Restart();
    restart_watch_.store(1);
  }
}

void Controller::SetLinkFlag(int up, int reason) {
  if (link_flag_.exchange(up) != up) dispatch::Link(board_index_, up ? VOXA_LINK_UP : VOXA_LINK_DOWN, reason, 0);
}

void Controller::SettleInDoubt() {
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

int Controller::RegAge(int r) {
  if (r < 0 || r >= kRegisters) return -1;
  const int64_t seen = reg_seen_ms_[r].load();
  if (seen < 0) return -1;
  const int64_t now =
      std::chrono::duration_cast<std::chrono::milliseconds>(platform::Clock::now().time_since_epoch()).count();
  const int64_t age = now - seen;
  return age > INT32_MAX ? INT32_MAX : static_cast<int>(age);
}

// ---------------------------------------------------------------- the receive path

void Controller::OnComplete(uint32_t payload_word) {
  TakeCompletion(static_cast<uint8_t>(payload_word & 0xFF));
  PostEvent(kEventComplete, payload_word);
}

void Controller::OnReadReply(int r, int tag) {
  // Its age is known before the reply wakes a refresh: a refresh that
  // returned finds the register reported.
  if (r >= 0 && r < kRegisters)
    reg_seen_ms_[r].store(
        std::chrono::duration_cast<std::chrono::milliseconds>(platform::Clock::now().time_since_epoch()).count(),
        std::memory_order_relaxed);
  if (tag == kTagPoll || tag == kTagRefresh) pacer_.PollAnswered(r);
  if (tag == kTagPoll) WatchForRestart(r);
  if (tag == kTagRefresh) RefreshAnswered(r);
}

void Controller::OnEventPacket(uint32_t payload_word) { PostEvent(kEventComparator, payload_word); }

void Controller::OnFrame(const uint8_t* frame, int size) {
  // A state packet carrying CHIPSTATUS, or a CHIPSTATUS read reply: the
  // board on this link has reported its engine and status.
  const int type = frame[3] & 0x7F;
  if ((type == 11 && size > 5 && (frame[4] & 0x01)) || type == 16 + 2 * CHIPSTATUS) board_reported_.store(1);
  if (dispatch::TraceOn()) state_batch_.Flush(board_index_, false);
  dispatch::Trace(board_index_, VOXA_TRACE_RECEIVED, frame, size);
}

void Controller::RegisterEvent(int event, VOXA_HWND window, uint32_t message) {
  if (event < 0 || event >= kEventTableSize) return;
  platform::Locked g(mirror_.Lock());
  events_[event].window = window;
  events_[event].message = message;
}

void Controller::PostEvent(int event, uint32_t payload_word) {
  EventEntry e;
  {
    platform::Locked g(mirror_.Lock());
    e = events_[event];
  }
  // The state notes of the packets before this one go first.
  state_batch_.Flush(board_index_, false);
  // wParam identifies the board: the address of its controller; lParam is
  // the payload word's value (0x80000007 stays 0x80000007 in a 64-bit lParam).
  dispatch::Message(board_index_, e.window, e.message, reinterpret_cast<uintptr_t>(this),
                    static_cast<intptr_t>(payload_word));
}

void Controller::ReceiveThreadMain() {
  platform::SetThreadName("voxa-rx");
  Link& link = this->link();
  while (link.IsOpen()) {
    // Close sets the wake event, so no periodic wake-up is needed to notice it.
    rx_wake_.WaitForever();
    if (!link.IsOpen()) break;
    std::lock_guard<std::mutex> g(parse_lock_);
    parse_owner_.store(std::this_thread::get_id());
    DrainReceived();
    parse_owner_.store(std::thread::id());
  }
}

void Controller::DrainReceived() {
  ByteRing& received = link().Received();
  uint8_t chunk[4096];
  for (;;) {
    uint32_t stream = 0;
    const uint32_t n = received.PopBlock(chunk, sizeof chunk, &stream);
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

}  // namespace voxa
