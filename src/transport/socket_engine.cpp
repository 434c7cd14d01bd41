#include "transport/socket_engine.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <new>

#include "dispatch/dispatch.h"
#include "voxa/voxa.h"
#include "transport/comm.h"

namespace voxa {
namespace {

using platform::Clock;
using std::chrono::milliseconds;

int MsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  // Round up so that a wait does not wake just before its deadline.
  return static_cast<int>(left) + 1;
}

}  // namespace

CSocketEngine::CSocketEngine(CVX_Comm_Socket& owner) : owner_(owner) {}

CSocketEngine::~CSocketEngine() { Disconnect(); }

void CSocketEngine::Report(int err) {
  char caption[64];
  char text[256];
  std::snprintf(caption, sizeof caption, "TCP ERROR-(%d)", err);
  // From the dispatch thread: the application's report may wait for a user
  // and may close the board, which joins this worker.
  dispatch::ErrorReport(caption, platform::SystemErrorText(err, text, sizeof text));
}

void CSocketEngine::PostKey(uint32_t key) {
  std::lock_guard<std::mutex> g(sock_lock_);
  poller_.Post(key);
}

void CSocketEngine::ReleaseHandles() {
  std::lock_guard<std::mutex> g(sock_lock_);
  sock_.Close();
  poller_.Close();
}

int CSocketEngine::Connect(const char* address, uint16_t port, uint32_t connect_timeout_ms,
                           uint32_t idle_timeout_ms) {
  return Open(address, port, connect_timeout_ms, idle_timeout_ms, true);
}

int CSocketEngine::ConnectNoWait(const char* address, uint16_t port, uint32_t connect_timeout_ms,
                                 uint32_t idle_timeout_ms) {
  return Open(address, port, connect_timeout_ms, idle_timeout_ms, false);
}

int CSocketEngine::Open(const char* address, uint16_t port, uint32_t connect_timeout_ms, uint32_t idle_timeout_ms,
                        bool wait) {
  std::lock_guard<std::mutex> control(control_);
  link_ready_.store(0);
  if (connected_.load()) {
    // Already up: the worker re-establishes the link at once.
    PostKey(CVX_Comm_Socket::kLinkErrorKey);
    return 1;
  }
  auto failed = [this](OpenFailureKind kind, int err) {
    owner_.SetOpenFailure(kind, err);
    ReleaseHandles();
    return 0;
  };
  if (!owner_.IsInitialised()) return failed(OpenFailureKind::kSystem, ENOMEM);
  worker_.Join();  // a worker that ended on its own (closed from its callback)
  ReleaseHandles();

  platform::Ipv4Endpoint peer;
  if (!platform::ParseIpv4(address, port, &peer)) return failed(OpenFailureKind::kSystem, EINVAL);
  if (!rx_buf_) rx_buf_.reset(new (std::nothrow) uint8_t[kBufferSize]);
  if (!tx_buf_) tx_buf_.reset(new (std::nothrow) uint8_t[kBufferSize]);
  if (!rx_buf_ || !tx_buf_) return failed(OpenFailureKind::kSystem, ENOMEM);

  platform::TcpSocket s;
  int err = s.Create();
  if (err == 0) {
    std::lock_guard<std::mutex> g(sock_lock_);
    err = poller_.Open();
  }
  if (err != 0) {
    Report(err);
    return failed(OpenFailureKind::kSystem, err);
  }
  peer_ = peer;
  connect_timeout_ms_ = connect_timeout_ms;

  bool up = true;
  uint32_t early = 0;  // bytes the board sent at once, before the worker runs
  err = s.StartConnect(peer);
  if (err == EINPROGRESS && wait) {
    bool stopped = false;
    err = WaitConnected(s, connect_timeout_ms, false, &stopped);
    // A reset that meets the connect: the board took it and ended it at once.
    if (err == ECONNRESET) return failed(OpenFailureKind::kHeld, 0);
    if (err != 0) {
      // Refused or not answered: a failed open, not an error to report.
      return failed(err == ETIMEDOUT ? OpenFailureKind::kNoAnswer : OpenFailureKind::kSystem,
                    err == ETIMEDOUT ? 0 : err);
    }
  } else if (err != 0 && err != EINPROGRESS) {
    if (wait || err != ECONNREFUSED) {
      if (err != ECONNREFUSED) Report(err);
      return failed(OpenFailureKind::kSystem, err);
    }
    // Without waiting the link counts as up; the worker connects.
    up = false;
  }
  if (wait && up && TurnedAway(s, false, &early) != Attempt::kUp) return failed(OpenFailureKind::kHeld, 0);

  // A new stream: nothing of an earlier connection is parsed with it.
  owner_.RxRestart();
  owner_.TxClear();
  if (early > 0) {
    owner_.RxPushSome(rx_buf_.get(), early);
    owner_.AddRxBytes(early);
  }
  owner_.SetOpenFailure(OpenFailureKind::kNone, 0);
  idle_timeout_ms_.store(idle_timeout_ms);
  {
    std::lock_guard<std::mutex> g(sock_lock_);
    sock_ = std::move(s);
    last_reported_ = 0;
    link_ready_.store(up ? 1 : 0);
    connected_.store(1);
  }
  if (!worker_.Start([this] { Worker(); })) {
    connected_.store(0);
    link_ready_.store(0);
    ReleaseHandles();
    return 0;
  }
  return 1;
}

CSocketEngine::Attempt CSocketEngine::TurnedAway(platform::TcpSocket& s, bool watch_stop, uint32_t* early) {
  // A board that serves another host accepts the connection and ends it at
  // once, before it says anything. Whatever it does say meanwhile is the
  // start of the new stream and is kept.
  *early = 0;
  const auto deadline = Clock::now() + milliseconds(kTurnAwayGraceMs);
  for (;;) {
    platform::Poller::Result r;
    poller_.Wait(&s, platform::Poller::Interest::kReadable, MsUntil(deadline), &r);
    if (watch_stop && StopSeen(r)) return Attempt::kStopped;
    if (r.socket_ready) {
      int err = 0;
      const long n = s.Receive(rx_buf_.get(), kBufferSize, &err);
      if (n > 0) {
        *early = static_cast<uint32_t>(n);
        return Attempt::kUp;
      }
      if (n == 0 || err != EAGAIN) return Attempt::kHeld;
    }
    if (Clock::now() >= deadline) return Attempt::kUp;
  }
}

int CSocketEngine::Disconnect() {
  std::lock_guard<std::mutex> control(control_);
  const bool working = connected_.load() && link_ready_.load();
  connected_.store(0);
  link_ready_.store(0);
  PostKey(CVX_Comm_Socket::kStopKey);
  worker_.Join();  // every wait of the worker ends on the stop key
  if (working) Linger();
  ReleaseHandles();
  return 1;
}

void CSocketEngine::Linger() {
  // A socket closed while the board's bytes wait unread in it resets the
  // connection, and the board may then throw away commands it had not yet
  // read. So what was handed to the link goes out first, the sending side
  // ends in order, and the board's bytes are read until it closes its side.
  const auto deadline = Clock::now() + milliseconds(kCloseLingerMs);
  std::lock_guard<std::mutex> one_sender(send_lock_);
  uint8_t buf[4096];
  for (;;) {
    const uint32_t n = owner_.TxPeek(buf, sizeof buf);
    if (n == 0) break;
    int err = 0;
    const long w = sock_.SendSome(buf, n, &err);
    if (w < 0) break;
    owner_.TxDiscard(static_cast<uint32_t>(w));
    if (w == 0) {
      platform::Poller::Result r;
      poller_.Wait(&sock_, platform::Poller::Interest::kWritable, MsUntil(deadline), &r);
      if (Clock::now() >= deadline) break;
    }
  }
  owner_.TxClear();
  sock_.ShutdownSend();
  while (Clock::now() < deadline) {
    platform::Poller::Result r;
    poller_.Wait(&sock_, platform::Poller::Interest::kReadable, MsUntil(deadline), &r);
    if (!r.socket_ready) continue;
    int err = 0;
    const long got = sock_.Receive(buf, sizeof buf, &err);
    if (got == 0 || (got < 0 && err != EAGAIN)) break;  // the board closed its side
  }
}

int CSocketEngine::Send() {
  std::lock_guard<std::mutex> one_sender(send_lock_);
  if (!connected_.load() || !link_ready_.load()) {
    // Closed, or the link is being re-established: nothing can go out.
    if (owner_.TxIsEmpty()) return 1;
    owner_.TxClear();
    return 0;
  }
  // What the socket takes now; the rest stays in the ring for the worker,
  // which sends it once the socket has room. Never blocks.
  for (;;) {
    const uint32_t n = owner_.TxPeek(tx_buf_.get(), kBufferSize);
    if (n == 0) return 1;
    int err = 0;
    long w;
    {
      std::lock_guard<std::mutex> g(sock_lock_);
      w = sock_.SendSome(tx_buf_.get(), n, &err);
      if (w < 0) {
        // The bytes are lost; the worker re-establishes the link.
        link_ready_.store(0);
        poller_.Post(CVX_Comm_Socket::kLinkErrorKey);
      } else if (static_cast<uint32_t>(w) < n) {
        poller_.Post(CVX_Comm_Socket::kSendKey);
      }
    }
    if (w < 0) {
      owner_.TxClear();
      return 0;
    }
    owner_.NotifySent(tx_buf_.get(), static_cast<uint32_t>(w));
    owner_.TxDiscard(static_cast<uint32_t>(w));
    if (static_cast<uint32_t>(w) < n) return 1;
  }
}

int CSocketEngine::WaitConnected(platform::TcpSocket& s, uint32_t timeout_ms, bool watch_stop, bool* stopped) {
  const auto deadline = Clock::now() + milliseconds(timeout_ms);
  for (;;) {
    platform::Poller::Result r;
    poller_.Wait(&s, platform::Poller::Interest::kWritable, MsUntil(deadline), &r);
    if (watch_stop && StopSeen(r)) {
      *stopped = true;
      return ECANCELED;
    }
    if (r.socket_ready) {
      const int err = s.ConnectResult();
      if (err != EINPROGRESS) return err;
    }
    if (Clock::now() >= deadline) return ETIMEDOUT;
  }
}

bool CSocketEngine::StopSeen(const platform::Poller::Result& r) const {
  return !connected_.load() || r.Has(CVX_Comm_Socket::kStopKey);
}

bool CSocketEngine::Pause(uint32_t ms) {
  const auto deadline = Clock::now() + milliseconds(ms);
  for (;;) {
    if (!connected_.load()) return false;
    platform::Poller::Result r;
    poller_.Wait(nullptr, platform::Poller::Interest::kReadable, MsUntil(deadline), &r);
    if (StopSeen(r)) return false;
    // Link-error keys that arrive now change nothing: the link is down.
    if (Clock::now() >= deadline) return true;
  }
}

CSocketEngine::Attempt CSocketEngine::Reconnect() {
  {
    std::lock_guard<std::mutex> g(sock_lock_);
    link_ready_.store(0);
    sock_.Close();
  }
  if (!Pause(kReconnectClosePauseMs)) return Attempt::kStopped;

  auto fail = [this] {
    owner_.RxRestart();
    owner_.TxClear();
    return Attempt::kFailed;
  };
  platform::TcpSocket s;
  int err = s.Create();
  if (err != 0) {
    // Reported once per outage, not on every attempt.
    if (err != last_reported_) Report(err);
    last_reported_ = err;
    return fail();
  }
  err = s.StartConnect(peer_);
  if (err == EINPROGRESS) {
    bool stopped = false;
    err = WaitConnected(s, kReconnectConnectWaitMs, true, &stopped);
    if (stopped) return Attempt::kStopped;
  }
  if (err == ECONNRESET) {
    fail();
    return Attempt::kHeld;  // taken and ended at once: another host has the board
  }
  if (err != 0) return fail();  // the board does not answer yet: no report
  uint32_t early = 0;
  const Attempt a = TurnedAway(s, true, &early);
  if (a == Attempt::kStopped) return a;
  if (a == Attempt::kHeld) {
    fail();
    return a;
  }

  {
    std::lock_guard<std::mutex> g(sock_lock_);
    // The new connection is a new stream: a frame the old one broke off
    // in the middle must not swallow the first bytes of this one, and
    // nothing the old one was sending goes out half.
    owner_.RxRestart();
    owner_.TxClear();
    if (early > 0) {
      owner_.RxPushSome(rx_buf_.get(), early);
      owner_.AddRxBytes(early);
    }
    sock_ = std::move(s);
    last_reported_ = 0;
    link_ready_.store(1);
  }
  owner_.NotifyLink(VOXA_LINK_RECONNECTED, VOXA_LINK_REASON_NONE, 0);
  return Attempt::kUp;
}

uint32_t CSocketEngine::Receive(bool* link_lost, int* reason, int* os_error) {
  // Take no more than the receive ring has room for: the rest waits in the
  // socket (and holds the board back) instead of being thrown away.
  uint32_t room = owner_.RxRoom();
  if (room == 0) {
    // The receiver is still busy with earlier bytes; once it takes some
    // out, the worker reads on. The short limit keeps a close prompt.
    owner_.NotifyReceived();
    owner_.WaitRxRoom(kRoomWaitMs);
    return 0;
  }
  if (room > kBufferSize) room = kBufferSize;
  int err = 0;
  long n = sock_.Receive(rx_buf_.get(), room, &err);
  if (n > 0) {
    // One lock for the whole chunk; bytes that do not fit are dropped.
    owner_.RxPushSome(rx_buf_.get(), static_cast<uint32_t>(n));
    owner_.AddRxBytes(static_cast<uint32_t>(n));
    owner_.NotifyReceived();
    return static_cast<uint32_t>(n);
  }
  // Zero bytes: the board closed the connection. Any error but "nothing
  // waiting" ends the link as well.
  if (n == 0 || err != EAGAIN) {
    *link_lost = true;
    *reason = n == 0 ? VOXA_LINK_REASON_PEER_CLOSED : VOXA_LINK_REASON_ERROR;
    *os_error = n == 0 ? 0 : err;
  }
  return 0;
}

void CSocketEngine::Worker() {
  platform::SetThreadName("voxa-tcp");
  auto idle_start = Clock::now();
  // Reconnect attempts start no closer together than the retry pause, also
  // when the last one succeeded (received data is not held back meanwhile).
  auto next_attempt = Clock::now();

  bool held = false;  // the board turned this host away last time
  auto reconnect = [&]() -> bool {
    auto now = Clock::now();
    if (now < next_attempt && !Pause(static_cast<uint32_t>(MsUntil(next_attempt)))) return false;
    Attempt a = Reconnect();
    if (a == Attempt::kStopped) return false;
    if (a == Attempt::kHeld) {
      // Another host has the board: say so once, and ask again only now
      // and then, so that the two hosts do not push each other out.
      if (!held) owner_.NotifyLink(VOXA_LINK_RECONNECTING, VOXA_LINK_REASON_HELD, 0);
      held = true;
      if (!Pause(kHeldRetryPauseMs)) return false;
      idle_start = Clock::now();
      return true;
    }
    held = false;
    if (a == Attempt::kFailed && !Pause(kReconnectRetryPauseMs)) return false;
    next_attempt = Clock::now() + milliseconds(a == Attempt::kUp ? kReconnectRetryPauseMs : 0);
    idle_start = Clock::now();
    return true;
  };

  // Why the link was lost, for the link handler, which hears once of each
  // outage and once of its end.
  int lost_reason = VOXA_LINK_REASON_ERROR;
  int lost_error = 0;
  bool outage = false;
  auto outage_begins = [&](int reason, int err) {
    if (!outage) owner_.NotifyLink(VOXA_LINK_RECONNECTING, reason, err);
    outage = true;
    lost_reason = VOXA_LINK_REASON_ERROR;
    lost_error = 0;
  };
  while (connected_.load()) {
    if (!link_ready_.load()) {
      link_errors_.fetch_add(1, std::memory_order_relaxed);
      outage_begins(lost_reason, lost_error);
      if (!reconnect()) break;
      if (link_ready_.load()) outage = false;
      continue;
    }
    const uint32_t idle = idle_timeout_ms_.load();
    const auto idle_deadline = idle_start + milliseconds(idle);
    // Room to write is waited for only while bytes wait to be sent.
    const bool sending = !owner_.TxIsEmpty();
    platform::Poller::Result r;
    poller_.Wait(&sock_, sending ? platform::Poller::Interest::kReadWrite : platform::Poller::Interest::kReadable,
                 idle > 0 ? MsUntil(idle_deadline) : -1, &r);
    if (StopSeen(r)) break;
    if (sending && r.writable) Send();
    if (r.socket_ready && (!sending || r.readable)) {
      bool lost = false;
      if (Receive(&lost, &lost_reason, &lost_error) > 0) idle_start = Clock::now();
      if (lost) link_ready_.store(0);
      continue;
    }
    // A link-error key needs nothing here: the sender cleared link-ready.
    if (idle > 0 && Clock::now() >= idle_deadline) {
      outage_begins(VOXA_LINK_REASON_SILENCE, 0);
      if (!reconnect()) break;
      if (link_ready_.load()) outage = false;
    }
  }
}

}  // namespace voxa
