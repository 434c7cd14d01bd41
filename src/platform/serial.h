// A serial device: a tty opened raw, with the board's line settings, reads
// that never block and a wake-up that ends every wait of the port at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace voxa::platform {

struct SerialSettings {
  uint32_t baud = 115200;
  uint8_t byte_size = 8;  // 5..8
  uint8_t stop_bits = 0;  // 0 one, 1 one and a half, 2 two
  uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
};

// The device of serial port number n (1-based): /dev/ttyS<n-1> on Linux;
// COMn below 5 and \\.\COMn from 5 on, on Windows. Empty for 0.
std::string SerialDeviceName(uint16_t port);

// A Linux port opens only at a rate it has a speed constant for; a Windows
// port hands any rate to its driver, which decides.

class SerialPort {
 public:
  enum class Wait { kReadable, kWoken, kHangup, kTimeout };

  SerialPort() = default;
  ~SerialPort() { Close(); }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens a tty (a pseudo-terminal included) for exclusive use, raw, no flow
  // control, DTR and RTS low, the given settings; both directions purged.
  // Returns 0 or the system error number (EINVAL for a setting the platform
  // cannot apply).
  int Open(const char* path, const SerialSettings& settings);
  bool IsOpen() const { return fd_ != -1; }
  // Replaces the rate only and purges both directions; 0 or the error
  // number (the former rate stays on failure).
  int SetBaud(uint32_t baud);
  // Discards what the driver holds in both directions.
  void Purge();
  // Reads what the driver holds, never blocking: the bytes read, 0 when
  // there are none, -1 on a device error (*err holds it).
  long Read(uint8_t* buf, size_t max, int* err);
  // Hands all bytes to the driver, waiting for room while its queue is full.
  // Gives up after wait_ms without progress, or at once after Wake. Returns
  // the bytes handed over.
  size_t Write(const uint8_t* buf, size_t n, int wait_ms);
  // Hands the driver what it takes now, never blocking: the bytes taken (0
  // when its queue is full), or -1 on a device error (*err holds it).
  long WriteSome(const uint8_t* buf, size_t n, int* err);
  // Waits for any of: bytes to read, room to write (only with want_write),
  // a hang-up, Kick, Wake, or timeout_ms (-1: no limit). Returns the kEv
  // bits of what happened (0 on a timeout); takes a pending Kick.
  static constexpr unsigned kEvReadable = 1, kEvWritable = 2, kEvHangup = 4, kEvWoken = 8, kEvKicked = 16;
  unsigned WaitEvents(bool want_write, int timeout_ms);
  // Ends the current (or next) WaitEvents once, so that its caller looks
  // again at what it should wait for.
  void Kick();
  // Waits until bytes can be read, the port hangs up (bytes that came
  // before may still be read then), Wake was called, or timeout_ms (-1: no
  // limit) has passed.
  Wait WaitReadable(int timeout_ms);
  // Waits only for Wake.
  void WaitForWake();
  // Ends every wait of this port, now and until Close.
  void Wake();
  // Reads the line settings back; 0 or the error number.
  int GetSettings(SerialSettings* out) const;
  void Close();

  // The backend's state for overlapped operations (none on Linux).
  struct Io;

 private:
  // Descriptors on Linux, HANDLEs on Windows.
  intptr_t fd_ = -1;
  intptr_t wake_fd_ = -1;
  intptr_t kick_fd_ = -1;
  Io* io_ = nullptr;
};

}  // namespace voxa::platform
