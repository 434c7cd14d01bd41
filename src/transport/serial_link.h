// The serial link: a tty (a pseudo-terminal included) and the watcher thread
// that moves the device's bytes into the receive ring and sends what the
// device could not take at once.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/serial.h"
#include "transport/link.h"

namespace voxa {

class SerialLink final : public Link {
 public:
  explicit SerialLink(LinkEvents& events);
  ~SerialLink() override;

  // The device the next open uses: a path (port n is /dev/ttyS<n-1> on Linux,
  // COMn or \\.\COMn on Windows; an empty path fails the open with ENODEV). Data
  // bits 5..8; stop-bit code 0 one, 1 one and a half, 2 two; parity code 0
  // none, 1 odd, 2 even, 3 mark, 4 space. A rate the platform cannot set
  // fails the open.
  void SetTarget(const std::string& device, const platform::SerialSettings& settings);
  const std::string& DeviceName() const { return device_; }

  // Opening while open closes first.
  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return open_.load() != 0; }
  bool IsUp() const override { return open_.load() != 0 && hung_up_.load() == 0; }
  int SetRate(uint32_t baud) override;
  bool IsHungUp() const override { return hung_up_.load() != 0; }

  // Hands all count bytes to the device, waiting for room in its queue but
  // never past a close; the bytes handed over.
  int WriteWaiting(const uint8_t* buf, uint32_t count);

 protected:
  void Transmit() override;

 private:
  static constexpr uint32_t kReadChunk = 1024;
  static constexpr int kWriteStallMs = 1000;

  void WatchReceive();
  // One read into buf; *hung_up set when the device failed or hung up.
  uint32_t ReadChunk(uint8_t* buf, uint32_t max, bool* hung_up);
  // Moves what the device holds into the receive ring, never more than the
  // ring has room for (the rest waits in the device); true on a hang-up.
  bool ReceiveSerial(uint8_t* buf, bool hung_up);

  std::string device_;
  platform::SerialSettings settings_;
  std::atomic<int> open_{0};
  std::atomic<int> hung_up_{0};
  std::unique_ptr<platform::SerialPort> port_;
  // Guards the device handle against a close while a write, a rate change
  // or an open is using it. The watcher reads without it: the port closes
  // only after the watcher has ended.
  std::mutex port_lock_;
  platform::Thread watcher_;
};

}  // namespace voxa
