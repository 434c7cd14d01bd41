#include "transport/serial_link.h"

#include <cerrno>

#include "voxa/voxa.h"

namespace voxa {

SerialLink::SerialLink(LinkEvents& events) : Link(events), port_(std::make_unique<platform::SerialPort>()) {}

SerialLink::~SerialLink() { Close(); }

void SerialLink::SetTarget(const std::string& device, const platform::SerialSettings& settings) {
  device_ = device;
  settings_ = settings;
}

bool SerialLink::Open() {
  // A second open would leave the first device and its watcher behind.
  Close();
  if (device_.empty()) {
    SetOpenFailure(OpenFailureKind::kSystem, ENODEV);
    return false;
  }
  if (!rx_.HasStorage() || !tx_.HasStorage()) {
    SetOpenFailure(OpenFailureKind::kSystem, ENOMEM);
    return false;
  }
  std::lock_guard<std::mutex> g(port_lock_);
  const int err = port_->Open(device_.c_str(), settings_);
  if (err != 0) {
    SetOpenFailure(OpenFailureKind::kSystem, err);
    return false;
  }
  SetOpenFailure(OpenFailureKind::kNone, 0);
  hung_up_.store(0);
  rx_.Restart();
  tx_.Clear();
  open_.store(1);
  if (!watcher_.Start([this] { WatchReceive(); })) {
    open_.store(0);
    port_->Close();
    return false;
  }
  return true;
}

int SerialLink::SetRate(uint32_t baud) {
  if (!open_.load()) return 0;
  std::lock_guard<std::mutex> g(port_lock_);
  if (!port_->IsOpen()) return 0;
  return port_->SetBaud(baud) == 0 ? 1 : 0;
}

void SerialLink::Close() {
  open_.store(0);
  // Wakes the watcher and a write waiting for room, at once.
  port_->Wake();
  tx_.WakeWaiters();
  watcher_.Join();  // not when the watcher itself closes (from the callback)
  std::lock_guard<std::mutex> g(port_lock_);
  port_->Close();
}

uint32_t SerialLink::ReadChunk(uint8_t* buf, uint32_t max, bool* hung_up) {
  int err = 0;
  const long n = port_->Read(buf, max, &err);
  if (n < 0) {
    *hung_up = true;
    return 0;
  }
  return static_cast<uint32_t>(n);
}

int SerialLink::WriteWaiting(const uint8_t* buf, uint32_t count) {
  if (!open_.load() || buf == nullptr || count == 0) return 0;
  std::lock_guard<std::mutex> g(port_lock_);
  if (!port_->IsOpen()) return 0;
  return static_cast<int>(port_->Write(buf, count, kWriteStallMs));
}

void SerialLink::Transmit() {
  std::lock_guard<std::mutex> g(port_lock_);
  if (!port_->IsOpen() || hung_up_.load()) {
    tx_.Clear();
    return;
  }
  uint8_t buf[kReadChunk];
  for (;;) {
    const uint32_t n = tx_.Peek(buf, sizeof buf);
    if (n == 0) return;
    int err = 0;
    const long w = port_->WriteSome(buf, n, &err);
    if (w < 0) {
      tx_.Clear();  // the device failed: the watcher hears of it next
      return;
    }
    tx_.Discard(static_cast<uint32_t>(w));
    if (static_cast<uint32_t>(w) < n) break;
  }
  // The device's queue is full: the watcher sends the rest once it has room.
  port_->Kick();
}

bool SerialLink::ReceiveSerial(uint8_t* buf, bool hung_up) {
  uint32_t total = 0;
  // Everything the driver holds (also what came before a hang-up), chunk by
  // chunk, then one callback. A burst is capped at the ring's size so that
  // the consumer hears of it soon.
  while (total < kRingSize) {
    rx_.ArmRoomWait();
    const uint32_t room = rx_.Room();
    if (room == 0) {
      // The receiver is busy with earlier bytes: the rest waits in the
      // device (and holds the board back) instead of being thrown away.
      if (total > 0) events_.OnReceived();
      total = 0;
      rx_.WaitRoom(10);
      if (!open_.load()) break;
      continue;
    }
    bool failed = false;
    const uint32_t n = ReadChunk(buf, room < kReadChunk ? room : kReadChunk, &failed);
    hung_up = hung_up || failed;
    if (n == 0) break;
    KeepReceived(buf, n);
    total += n;
  }
  if (total > 0) events_.OnReceived();
  return hung_up;
}

void SerialLink::WatchReceive() {
  platform::SetThreadName("voxa-serial");
  uint8_t buf[kReadChunk];
  while (open_.load()) {
    const unsigned ev = port_->WaitEvents(!tx_.Empty(), -1);
    if (!open_.load() || (ev & platform::SerialPort::kEvWoken)) break;
    if (ev & platform::SerialPort::kEvWritable) Transmit();
    if (!(ev & (platform::SerialPort::kEvReadable | platform::SerialPort::kEvHangup))) continue;
    if (ReceiveSerial(buf, (ev & platform::SerialPort::kEvHangup) != 0)) {
      // The device is gone (a USB adapter unplugged, the other end of a
      // pseudo-terminal closed): the link is down at once, and what waits
      // to be sent is dropped. The hang-up would be reported on every wait,
      // so wait for the close.
      hung_up_.store(1);
      tx_.Clear();
      events_.OnLinkState(VOXA_LINK_DOWN, VOXA_LINK_REASON_HANGUP, 0);
      port_->WaitForWake();
      break;
    }
  }
}

}  // namespace voxa
