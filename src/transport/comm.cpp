#include "transport/comm.h"

#include <cerrno>

#include "platform/serial.h"
#include "transport/socket_engine.h"
#include "voxa/voxa.h"

namespace voxa {

// ---------------------------------------------------------------------------
// CComm: the rings, the callbacks and the serial link.

CComm::CComm() : port_(std::make_unique<platform::SerialPort>()) {
  if (rx_ring_.Create(kRingSize)) {
    if (tx_ring_.Create(kRingSize))
      initialised_ = 1;
    else
      rx_ring_.Release();
  }
}

CComm::~CComm() {
  ClosePort();
  rx_ring_.Release();
  tx_ring_.Release();
}

int CComm::OpenPortNo(uint16_t port, uint32_t baud, uint8_t byte_size, uint8_t stop_bits, uint8_t parity) {
  std::string name = platform::SerialDeviceName(port);
  if (name.empty()) {
    SetOpenFailure(OpenFailureKind::kSystem, ENODEV);
    return 0;
  }
  return OpenPort(name.c_str(), baud, byte_size, stop_bits, parity);
}

int CComm::OpenPort(const char* device, uint32_t baud, uint8_t byte_size, uint8_t stop_bits, uint8_t parity) {
  if (!initialised_ || device == nullptr) return 0;
  // A second open would leave the first device and its watcher behind.
  ClosePort();
  std::lock_guard<std::mutex> g(port_lock_);
  port_name_ = device;
  platform::SerialSettings s;
  s.baud = baud;
  s.byte_size = byte_size;
  s.stop_bits = stop_bits;
  s.parity = parity;
  const int err = port_->Open(device, s);
  if (err != 0) {
    SetOpenFailure(OpenFailureKind::kSystem, err);
    return 0;
  }
  SetOpenFailure(OpenFailureKind::kNone, 0);
  hung_up_.store(0);
  RxRestart();
  TxClear();
  open_.store(1);
  if (!watcher_.Start([this] { WatchReceive(); })) {
    open_.store(0);
    port_->Close();
    return 0;
  }
  return 1;
}

int CComm::ChangeBaudRate(uint32_t baud) {
  if (!open_.load()) return 0;
  std::lock_guard<std::mutex> g(port_lock_);
  if (!port_->IsOpen()) return 0;
  return port_->SetBaud(baud) == 0 ? 1 : 0;
}

void CComm::ClosePort() {
  open_.store(0);
  // Wakes the watcher and a write waiting for room, at once.
  port_->Wake();
  watcher_.Join();  // not when the watcher itself closes (from the callback)
  std::lock_guard<std::mutex> g(port_lock_);
  port_->Close();
}

uint32_t CComm::ReadChunk(uint8_t* buf, uint32_t max, bool* hung_up) {
  int err = 0;
  long n = port_->Read(buf, max, &err);
  if (n < 0) {
    *hung_up = true;
    return 0;
  }
  AddRxBytes(static_cast<uint32_t>(n));
  return static_cast<uint32_t>(n);
}

int CComm::ReadPort(uint8_t* buf, uint32_t max) {
  if (!open_.load() || buf == nullptr) return 0;
  bool hung_up = false;
  return static_cast<int>(ReadChunk(buf, max, &hung_up));
}

int CComm::WritePort(const uint8_t* buf, uint32_t count) {
  if (!open_.load() || buf == nullptr || count == 0) return 0;
  std::lock_guard<std::mutex> g(port_lock_);
  if (!port_->IsOpen()) return 0;
  return static_cast<int>(port_->Write(buf, count, kWriteStallMs));
}

void CComm::FlushSerial() {
  std::lock_guard<std::mutex> g(port_lock_);
  if (!port_->IsOpen() || hung_up_.load()) {
    TxClear();
    return;
  }
  uint8_t buf[kReadChunk];
  for (;;) {
    const uint32_t n = TxPeek(buf, sizeof buf);
    if (n == 0) return;
    int err = 0;
    const long w = port_->WriteSome(buf, n, &err);
    if (w < 0) {
      TxClear();  // the device failed: the watcher hears of it next
      return;
    }
    TxDiscard(static_cast<uint32_t>(w));
    if (static_cast<uint32_t>(w) < n) break;
  }
  // The device's queue is full: the watcher sends the rest once it has room.
  port_->Kick();
}

bool CComm::ReceiveSerial(uint8_t* buf, bool hung_up) {
  uint32_t total = 0;
  // Everything the driver holds (also what came before a hang-up), chunk by
  // chunk, then one callback. A burst is capped at the ring's size so that
  // the consumer hears of it soon.
  while (total < kRingSize) {
    uint32_t room = RxRoom();
    if (room == 0) {
      // The receiver is busy with earlier bytes: the rest waits in the
      // device (and holds the board back) instead of being thrown away.
      if (total > 0) NotifyReceived();
      total = 0;
      WaitRxRoom(10);
      if (!open_.load()) break;
      continue;
    }
    bool failed = false;
    const uint32_t n = ReadChunk(buf, room < kReadChunk ? room : kReadChunk, &failed);
    hung_up = hung_up || failed;
    if (n == 0) break;
    RxPushSome(buf, n);
    total += n;
  }
  if (total > 0) NotifyReceived();
  return hung_up;
}

void CComm::WatchReceive() {
  platform::SetThreadName("voxa-serial");
  uint8_t buf[kReadChunk];
  while (open_.load()) {
    const unsigned ev = port_->WaitEvents(!TxIsEmpty(), -1);
    if (!open_.load() || (ev & platform::SerialPort::kEvWoken)) break;
    if (ev & platform::SerialPort::kEvWritable) FlushSerial();
    if (!(ev & (platform::SerialPort::kEvReadable | platform::SerialPort::kEvHangup))) continue;
    if (ReceiveSerial(buf, (ev & platform::SerialPort::kEvHangup) != 0)) {
      // The device is gone (a USB adapter unplugged, the other end of a
      // pseudo-terminal closed): the link is down at once, and what waits
      // to be sent stays queued. The hang-up would be reported on every
      // wait, so wait for the close.
      hung_up_.store(1);
      TxClear();
      NotifyLink(VOXA_LINK_DOWN, VOXA_LINK_REASON_HANGUP, 0);
      port_->WaitForWake();
      break;
    }
  }
}

// Receive ring.

int CComm::RxPush(uint8_t b) {
  if (!initialised_) return 0;
  platform::Locked g(rx_lock_);
  return rx_ring_.Push(b);
}

int CComm::RxPop(uint8_t* b) {
  if (!initialised_) return 0;
  platform::Locked g(rx_lock_);
  return rx_ring_.Pop(b);
}

int CComm::RxIsEmpty() {
  platform::Locked g(rx_lock_);
  return rx_ring_.IsEmpty();
}

void CComm::RxClear() {
  platform::Locked g(rx_lock_);
  rx_ring_.Clear();
}

int CComm::RxPushBlock(const uint8_t* p, uint32_t n) {
  if (!initialised_ || p == nullptr) return 0;
  platform::Locked g(rx_lock_);
  return rx_ring_.PushBlock(p, n);
}

uint32_t CComm::RxPushSome(const uint8_t* p, uint32_t n) {
  if (!initialised_ || p == nullptr) return 0;
  platform::Locked g(rx_lock_);
  return rx_ring_.PushSome(p, n);
}

uint32_t CComm::RxPopBlock(uint8_t* p, uint32_t max) {
  uint32_t stream;
  return RxPopBlock(p, max, &stream);
}

uint32_t CComm::RxPopBlock(uint8_t* p, uint32_t max, uint32_t* stream) {
  if (!initialised_ || p == nullptr) return 0;
  uint32_t n;
  {
    platform::Locked g(rx_lock_);
    n = rx_ring_.PopBlock(p, max);
    *stream = rx_stream_;
  }
  if (n > 0) rx_room_.Set();
  return n;
}

void CComm::RxRestart() {
  {
    platform::Locked g(rx_lock_);
    rx_ring_.Clear();
    ++rx_stream_;
  }
  rx_room_.Set();
}

uint32_t CComm::RxRoom() {
  platform::Locked g(rx_lock_);
  if (!rx_ring_.IsCreated()) return 0;
  return rx_ring_.GetSize() - 1 - static_cast<uint32_t>(rx_ring_.GetCount());
}

// Transmit ring.

int CComm::TxPush(uint8_t b) {
  if (!initialised_) return 0;
  platform::Locked g(tx_lock_);
  return tx_ring_.Push(b);
}

int CComm::TxPop(uint8_t* b) {
  if (!initialised_) return 0;
  int n;
  {
    platform::Locked g(tx_lock_);
    n = tx_ring_.Pop(b);
  }
  if (n) tx_room_.Set();
  return n;
}

int CComm::TxIsEmpty() {
  platform::Locked g(tx_lock_);
  return tx_ring_.IsEmpty();
}

int32_t CComm::TxGetFree() {
  platform::Locked g(tx_lock_);
  return tx_ring_.GetFree();
}

int32_t CComm::TxGetCount() {
  platform::Locked g(tx_lock_);
  return tx_ring_.GetCount();
}

void CComm::TxClear() {
  {
    platform::Locked g(tx_lock_);
    tx_ring_.Clear();
  }
  tx_room_.Set();
}

int CComm::TxPushBlock(const uint8_t* p, uint32_t n) {
  if (!initialised_ || p == nullptr) return 0;
  platform::Locked g(tx_lock_);
  return tx_ring_.PushBlock(p, n);
}

uint32_t CComm::TxPopBlock(uint8_t* p, uint32_t max) {
  if (!initialised_ || p == nullptr) return 0;
  uint32_t n;
  {
    platform::Locked g(tx_lock_);
    n = tx_ring_.PopBlock(p, max);
  }
  if (n) tx_room_.Set();
  return n;
}

uint32_t CComm::TxPeek(uint8_t* p, uint32_t max) {
  if (!initialised_ || p == nullptr) return 0;
  platform::Locked g(tx_lock_);
  return tx_ring_.Peek(p, max);
}

void CComm::TxDiscard(uint32_t n) {
  {
    platform::Locked g(tx_lock_);
    tx_ring_.Discard(n);
  }
  if (n) tx_room_.Set();
}

// Callbacks. Function and argument change together under the callback
// lock; the callbacks themselves run outside it.

void CComm::SetRxCallback(CommCallback fn, void* arg) {
  platform::Locked g(cb_lock_);
  rx_cb_.store(fn);
  rx_cb_arg_.store(arg);
}

void CComm::ClearRxCallback() { SetRxCallback(nullptr, nullptr); }

void CComm::SetTxHook(CommCallback fn, void* arg) {
  platform::Locked g(cb_lock_);
  tx_hook_.store(fn);
  tx_hook_arg_.store(arg);
}

void CComm::ClearTxHook() { SetTxHook(nullptr, nullptr); }

void CComm::NotifyReceived() {
  CommCallback fn;
  void* arg;
  {
    platform::Locked g(cb_lock_);
    fn = rx_cb_.load();
    arg = rx_cb_arg_.load();
  }
  if (fn != nullptr) fn(arg);
}

void CComm::SetLinkCallback(LinkCallback fn, void* arg) {
  platform::Locked g(cb_lock_);
  link_cb_.store(fn);
  link_cb_arg_.store(arg);
}

void CComm::NotifyLink(int state, int reason, int os_error) {
  LinkCallback fn;
  void* arg;
  {
    platform::Locked g(cb_lock_);
    fn = link_cb_.load();
    arg = link_cb_arg_.load();
  }
  if (fn != nullptr) fn(arg, state, reason, os_error);
}

void CComm::NotifySent(const uint8_t* p, uint32_t n) {
  CommCallback fn;
  void* arg;
  {
    platform::Locked g(cb_lock_);
    fn = tx_hook_.load();
    arg = tx_hook_arg_.load();
  }
  if (fn == nullptr) return;
  for (uint32_t i = 0; i < n; ++i) {
    current_tx_byte_ = p[i];
    fn(arg);
  }
}

// ---------------------------------------------------------------------------
// CVX_Comm_Socket: serial or TCP, chosen at open time.

CVX_Comm_Socket::CVX_Comm_Socket() : tcp_(std::make_unique<CSocketEngine>(*this)) {}

CVX_Comm_Socket::~CVX_Comm_Socket() {
  // No worker may outlive the object, whatever the type says.
  tcp_->Disconnect();
  ClosePort();
}

int CVX_Comm_Socket::OpenSerialNo(uint16_t port, uint32_t baud, uint8_t byte_size, uint8_t stop_bits,
                                  uint8_t parity) {
  CloseTcp();
  SetType(1);
  return OpenPortNo(port, baud, byte_size, stop_bits, parity);
}

int CVX_Comm_Socket::OpenSerialDevice(const char* path, uint32_t baud) {
  CloseTcp();
  SetType(1);
  return OpenPort(path, baud, 8, 0, 0);
}

int CVX_Comm_Socket::OpenTcp(const char* address, uint16_t port, uint32_t /*baud*/, uint32_t connect_timeout_ms,
                             uint32_t idle_timeout_ms) {
  ClosePort();
  SetType(2);
  if (tcp_->Connect(address, port, connect_timeout_ms, idle_timeout_ms)) return 1;
  Close();
  return 0;
}

int CVX_Comm_Socket::OpenTcpNoWait(const char* address, uint16_t port, uint32_t /*baud*/,
                                   uint32_t connect_timeout_ms, uint32_t idle_timeout_ms) {
  ClosePort();
  SetType(2);
  if (tcp_->ConnectNoWait(address, port, connect_timeout_ms, idle_timeout_ms)) return 1;
  Close();
  return 0;
}

int CVX_Comm_Socket::IsOpen() {
  switch (GetType()) {
    case 1: return IsPortOpen();
    case 2: return tcp_->IsConnected();
    default: return 0;
  }
}

void CVX_Comm_Socket::Close() {
  switch (GetType()) {
    case 1: ClosePort(); break;
    case 2: CloseTcp(); break;
    default: break;
  }
}

void CVX_Comm_Socket::CloseTcp() {
  open_.store(0);
  tcp_->Disconnect();
}

// The link's own flush: what waits goes on to the device or the socket
// (never blocking), and is dropped when the link is closed.
void CVX_Comm_Socket::Flush() { Transmit(); }

void CVX_Comm_Socket::Transmit() {
  switch (GetType()) {
    case 1: FlushSerial(); break;
    case 2:
      if (tcp_->IsConnected())
        tcp_->Send();
      else
        TxClear();
      break;
    default: TxClear(); break;
  }
}

bool CVX_Comm_Socket::CanTake(uint32_t n) {
  switch (GetType()) {
    case 1:
      if (!IsPortOpen() || IsHungUp()) return false;
      break;
    case 2:
      if (!tcp_->IsConnected() || !tcp_->IsLinkReady()) return false;
      break;
    default: return false;
  }
  return TxGetFree() > static_cast<int32_t>(n) + 5;
}

int CVX_Comm_Socket::IsConnected() const { return tcp_->IsConnected(); }
int CVX_Comm_Socket::IsLinkReady() const { return tcp_->IsLinkReady(); }
uint32_t CVX_Comm_Socket::LinkErrorCount() const { return tcp_->LinkErrorCount(); }
int CVX_Comm_Socket::Send() { return tcp_->Send(); }

}  // namespace voxa
