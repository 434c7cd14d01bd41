#include "transport/comm.h"

#include "platform/serial.h"
#include "transport/socket_engine.h"

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
  if (name.empty()) return 0;
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
  if (port_->Open(device, s) != 0) return 0;
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

void CComm::WatchReceive() {
  platform::SetThreadName("voxa-serial");
  uint8_t buf[kReadChunk];
  while (open_.load()) {
    auto w = port_->WaitReadable(-1);
    if (!open_.load() || w == platform::SerialPort::Wait::kWoken) break;
    if (w == platform::SerialPort::Wait::kTimeout) continue;
    bool hung_up = w == platform::SerialPort::Wait::kHangup;
    uint32_t total = 0;
    // Everything the driver holds (also what came before a hang-up), chunk
    // by chunk, then one callback. A burst is capped at the ring's size so
    // that the consumer hears of it soon.
    while (total < kRingSize) {
      bool failed = false;
      uint32_t n = ReadChunk(buf, kReadChunk, &failed);
      hung_up = hung_up || failed;
      if (n == 0) break;
      RxPushSome(buf, n);
      total += n;
    }
    if (total > 0) NotifyReceived();
    if (hung_up) {
      // The device is gone (or the other end of a pseudo-terminal closed):
      // it would report the hang-up on every wait, so wait for the close.
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
  if (!initialised_ || p == nullptr) return 0;
  uint32_t n;
  {
    platform::Locked g(rx_lock_);
    n = rx_ring_.PopBlock(p, max);
  }
  if (n > 0) rx_room_.Set();
  return n;
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
  platform::Locked g(tx_lock_);
  return tx_ring_.Pop(b);
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
  platform::Locked g(tx_lock_);
  tx_ring_.Clear();
}

int CComm::TxPushBlock(const uint8_t* p, uint32_t n) {
  if (!initialised_ || p == nullptr) return 0;
  platform::Locked g(tx_lock_);
  return tx_ring_.PushBlock(p, n);
}

uint32_t CComm::TxPopBlock(uint8_t* p, uint32_t max) {
  if (!initialised_ || p == nullptr) return 0;
  platform::Locked g(tx_lock_);
  return tx_ring_.PopBlock(p, max);
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

void CVX_Comm_Socket::Flush() {
  switch (GetType()) {
    case 1:
      if (!IsPortOpen()) TxClear();
      break;
    case 2:
      if (tcp_->IsConnected())
        tcp_->Send();
      else
        TxClear();
      break;
    default: break;
  }
}

int CVX_Comm_Socket::IsConnected() const { return tcp_->IsConnected(); }
int CVX_Comm_Socket::IsLinkReady() const { return tcp_->IsLinkReady(); }
uint32_t CVX_Comm_Socket::LinkErrorCount() const { return tcp_->LinkErrorCount(); }
int CVX_Comm_Socket::Send() { return tcp_->Send(); }

}  // namespace voxa
