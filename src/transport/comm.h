// Transports: the byte ring, the serial link and the TCP link.
//
// The controller sees one object per board, CVX_Comm_Socket, whose type
// (1 serial, 2 TCP) is chosen at open time. Received bytes land in the
// receive ring and the receive callback is called; frames to send are pushed
// whole into the transmit ring and flushed. The OS calls sit in src/platform.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace voxa {

namespace platform {
class SerialPort;  // platform/serial.h
}  // namespace platform

class CSocketEngine;  // transport/socket_engine.h

// A byte ring of a fixed size; holds at most size-1 bytes. Not locked: CComm
// locks around it.
class CCommQueue {
 public:
  CCommQueue() = default;
  virtual ~CCommQueue();
  CCommQueue(const CCommQueue&) = delete;
  CCommQueue& operator=(const CCommQueue&) = delete;

  int Create(uint32_t requested_size);  // clamps to 4096..65536; 0 if already created
  void Release();
  int IsCreated() const { return created_; }
  uint32_t GetSize() const { return size_; }
  int32_t GetCount() const { return count_; }
  int32_t GetFree() const { return static_cast<int32_t>(size_) - count_; }
  int IsEmpty() const { return write_ == read_ ? 1 : 0; }
  void Clear();
  int Push(uint8_t b);
  int Pop(uint8_t* b);
  // Whole-block forms: PushBlock stores all n bytes or none; PushSome stores
  // as many of them as fit and returns how many (the rest is dropped, as
  // byte-wise pushes into a full ring would drop it); PopBlock takes up to
  // max bytes and returns how many.
  int PushBlock(const uint8_t* p, uint32_t n);
  uint32_t PushSome(const uint8_t* p, uint32_t n);
  uint32_t PopBlock(uint8_t* p, uint32_t max);
  // Copies up to max bytes from the front without taking them; Discard
  // then takes n of them.
  uint32_t Peek(uint8_t* p, uint32_t max) const;
  void Discard(uint32_t n);

 private:
  int created_ = 0;
  uint8_t* storage_ = nullptr;
  uint32_t size_ = 0;
  uint32_t write_ = 0;
  uint32_t read_ = 0;
  int32_t count_ = 0;
};

// Why the last open of a link failed (the application reads it as
// VOXA_OPEN_..., the same numbers).
enum class OpenFailureKind : int { kNone = 0, kSystem = 1, kNoAnswer = 2, kHeld = 3 };
struct OpenFailure {
  OpenFailureKind kind = OpenFailureKind::kNone;
  int os_error = 0;  // the system's error number, with kSystem
};

using CommCallback = void (*)(void* arg);
// What a link tells its owner about itself: state and reason as the
// application's link handler gets them (VOXA_LINK_..., VOXA_LINK_REASON_...).
using LinkCallback = void (*)(void* arg, int state, int reason, int os_error);

// The serial transport and the rings both transports share.
class CComm {
 public:
  static constexpr uint32_t kRingSize = 0x8000;

  CComm();
  virtual ~CComm();
  CComm(const CComm&) = delete;
  CComm& operator=(const CComm&) = delete;

  // Serial port. Port n is /dev/ttyS<n-1> on Linux; a device path opens any
  // tty, a pseudo-terminal included. Opening while a port is open closes the
  // open one first. Data bits 5..8; stop-bit code 0 one, 1 one and a half,
  // 2 two; parity code 0 none, 1 odd, 2 even, 3 mark, 4 space. A rate the
  // platform cannot set fails the open (and ChangeBaudRate).
  int OpenPort(const char* device, uint32_t baud, uint8_t byte_size, uint8_t stop_bits, uint8_t parity);
  int OpenPortNo(uint16_t port, uint32_t baud, uint8_t byte_size, uint8_t stop_bits, uint8_t parity);
  int ChangeBaudRate(uint32_t baud);
  // Returns once the receive watcher has ended.
  void ClosePort();
  // Never blocks: 0 when the port holds nothing.
  int ReadPort(uint8_t* buf, uint32_t max);
  // Hands all count bytes to the device (waiting for room in its queue, but
  // never past a close); returns the bytes handed over.
  int WritePort(const uint8_t* buf, uint32_t count);
  int IsPortOpen() const { return open_.load(); }
  const std::string& PortName() const { return port_name_; }

  int RxPush(uint8_t b);
  int RxPop(uint8_t* b);
  int RxIsEmpty();
  void RxClear();
  int RxPushBlock(const uint8_t* p, uint32_t n);  // all or nothing
  uint32_t RxPushSome(const uint8_t* p, uint32_t n);  // as many as fit
  uint32_t RxPopBlock(uint8_t* p, uint32_t max);
  // As RxPopBlock; *stream is the number of the stream the bytes belong to.
  uint32_t RxPopBlock(uint8_t* p, uint32_t max, uint32_t* stream);
  // Starts a new stream: what the ring holds is dropped and the stream
  // number advances, so that the parser starts afresh on the new bytes.
  void RxRestart();
  // Bytes the receive ring can still take, and a wait (at most ms) for the
  // receiver to take some out.
  uint32_t RxRoom();
  void WaitRxRoom(uint32_t ms) { rx_room_.Wait(ms); }
  // A wait (at most ms) for bytes to leave the transmit ring; WakeTxWaiters
  // ends every such wait at once (a close).
  // ArmTxRoom comes before the look at the room, so that bytes leaving in
  // between still end the wait.
  void ArmTxRoom() { tx_room_.Reset(); }
  void WaitTxRoom(uint32_t ms) { tx_room_.Wait(ms); }
  void WakeTxWaiters() { tx_room_.Set(); }
  int TxPush(uint8_t b);
  int TxPop(uint8_t* b);
  int TxIsEmpty();
  int32_t TxGetFree();
  int32_t TxGetCount();
  void TxClear();
  int TxPushBlock(const uint8_t* p, uint32_t n);  // all or nothing
  uint32_t TxPopBlock(uint8_t* p, uint32_t max);
  uint32_t TxPeek(uint8_t* p, uint32_t max);
  void TxDiscard(uint32_t n);

  // Serial: hands the device what it takes of the transmit ring now, never
  // blocking; the receive watcher sends the rest once the device has room.
  void FlushSerial();
  // True once the serial device has hung up (until the port is closed).
  int IsHungUp() const { return hung_up_.load(); }

  void SetLinkCallback(LinkCallback fn, void* arg);
  void NotifyLink(int state, int reason, int os_error);

  void SetRxCallback(CommCallback fn, void* arg);
  void ClearRxCallback();
  void SetTxHook(CommCallback fn, void* arg);
  void ClearTxHook();
  // Calls the receive callback if one is registered.
  void NotifyReceived();
  // Hands each byte to the transmit hook, if one is registered; the byte
  // being handed over is CurrentTxByte() while the hook runs.
  void NotifySent(const uint8_t* p, uint32_t n);
  uint8_t CurrentTxByte() const { return current_tx_byte_; }

  uint32_t GetRxByteCount() const { return rx_bytes_.load(std::memory_order_relaxed); }
  void SetRxByteCount(uint32_t v) { rx_bytes_.store(v, std::memory_order_relaxed); }
  void AddRxBytes(uint32_t n) { rx_bytes_.fetch_add(n, std::memory_order_relaxed); }
  int IsInitialised() const { return initialised_; }
  // Why the last open failed; set by every failed open, cleared by a good one.
  OpenFailure LastOpenFailure() const {
    std::lock_guard<std::mutex> g(failure_lock_);
    return open_failure_;
  }
  void SetOpenFailure(OpenFailureKind kind, int os_error) {
    std::lock_guard<std::mutex> g(failure_lock_);
    open_failure_ = OpenFailure{kind, os_error};
  }

 protected:
  static constexpr uint32_t kReadChunk = 1024;
  static constexpr int kWriteStallMs = 1000;

  void WatchReceive();
  // One read into buf; *hung_up set when the device failed or hung up.
  uint32_t ReadChunk(uint8_t* buf, uint32_t max, bool* hung_up);
  // Moves what the device holds into the receive ring, never more than the
  // ring has room for (the rest waits in the device); true on a hang-up.
  bool ReceiveSerial(uint8_t* buf, bool hung_up);

  platform::CriticalSection rx_lock_;
  platform::CriticalSection tx_lock_;
  int initialised_ = 0;
  std::atomic<int> open_{0};
  std::string port_name_;
  std::unique_ptr<platform::SerialPort> port_;
  // Guards the device handle against a close while a write, a rate change
  // or an open is using it. The watcher reads without it: the port closes
  // only after the watcher has ended.
  std::mutex port_lock_;
  platform::Thread watcher_;
  std::atomic<uint32_t> rx_bytes_{0};
  CCommQueue tx_ring_;
  CCommQueue rx_ring_;
  platform::Event rx_room_{false};  // set whenever bytes leave the receive ring
  platform::Event tx_room_{true};   // set whenever bytes leave the transmit ring
  platform::CriticalSection cb_lock_;
  std::atomic<CommCallback> rx_cb_{nullptr};
  std::atomic<void*> rx_cb_arg_{nullptr};
  std::atomic<CommCallback> tx_hook_{nullptr};
  std::atomic<LinkCallback> link_cb_{nullptr};
  std::atomic<void*> link_cb_arg_{nullptr};
  uint32_t rx_stream_ = 0;  // receive lock
  std::atomic<int> hung_up_{0};
  std::atomic<void*> tx_hook_arg_{nullptr};
  uint8_t current_tx_byte_ = 0;
  mutable std::mutex failure_lock_;
  OpenFailure open_failure_;  // failure lock
};

// The transport every controller embeds: serial (type 1) or TCP (type 2).
class CVX_Comm_Socket : public CComm {
 public:
  static constexpr int kLinkErrorKey = 2;
  static constexpr int kStopKey = 9999;
  static constexpr int kSendKey = 3;  // bytes wait for room in the socket

  CVX_Comm_Socket();
  ~CVX_Comm_Socket() override;

  void SetType(int type) { type_.store(type >= 0 && type <= 3 ? type : 0); }
  int GetType() const { return type_.load(); }

  int OpenSerialNo(uint16_t port, uint32_t baud, uint8_t byte_size, uint8_t stop_bits, uint8_t parity);
  // Opens by device path, 8N1.
  int OpenSerialDevice(const char* path, uint32_t baud);
  // address: dotted IPv4 text. The baud value is not used by the TCP link.
  // OpenTcp waits up to connect_timeout_ms for the board; OpenTcpNoWait
  // counts the link as up at once and lets the worker connect. A TCP link
  // re-establishes itself after a link error or idle_timeout_ms (0: never)
  // without received bytes; IsOpen stays 1 meanwhile.
  int OpenTcp(const char* address, uint16_t port, uint32_t baud, uint32_t connect_timeout_ms, uint32_t idle_timeout_ms);
  int OpenTcpNoWait(const char* address, uint16_t port, uint32_t baud, uint32_t connect_timeout_ms, uint32_t idle_timeout_ms);

  virtual int IsOpen();
  virtual void Close();
  virtual void Flush();

  // TCP engine state seen by the transmit path and the timer thread.
  int IsConnected() const;     // the connected flag
  int IsLinkReady() const;     // the link-ready flag
  uint32_t LinkErrorCount() const;
  // Sends what the socket takes of the transmit ring now, never blocking;
  // the worker sends the rest once the socket has room. 1 sent or under
  // way, 0 failed (the bytes are dropped and the worker re-establishes the
  // link).
  int Send();
  // Hands the transmit ring on to the link, never blocking: to the serial
  // device or the socket; dropped when the link is closed.
  void Transmit();
  // True when a frame of n bytes can go out now: the link is up and the
  // transmit ring has room for it. While it is false, queued frames wait.
  bool CanTake(uint32_t n);

 private:
  void CloseTcp();

  std::atomic<int> type_{0};
  std::unique_ptr<CSocketEngine> tcp_;
};

}  // namespace voxa
