// COM ports with overlapped I/O. The driver returns what it holds at once
// and otherwise waits for the first byte (read timeouts MAXDWORD, MAXDWORD
// and a constant): a pending one-byte read is the wait for data, and the
// byte it brings is handed out first by the next Read.
#include "platform/serial.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/win32/win32.h"

namespace voxa::platform {

struct SerialPort::Io {
  OVERLAPPED read_ov{};
  OVERLAPPED write_ov{};
  HANDLE wake = nullptr;  // manual reset: stays set until Close
  HANDLE kick = nullptr;  // auto reset: ends one WaitEvents
  bool probe_pending = false;
  // A write the driver has not finished: its bytes are held here.
  bool write_pending = false;
  uint8_t tx[4096];
  bool has_carry = false;
  uint8_t carry = 0;
  uint8_t probe_byte = 0;
};

namespace {

constexpr DWORD kQueueBytes = 32768;

HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

bool ReadTimeouts(HANDLE h) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = MAXDWORD;
  t.ReadTotalTimeoutConstant = MAXDWORD - 1;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 0;
  return SetCommTimeouts(h, &t) != 0;
}

// Waits for an overlapped operation; the bytes it moved, or -1 on failure.
long Finish(HANDLE h, OVERLAPPED* ov, bool wait) {
  DWORD n = 0;
  if (GetOverlappedResult(h, ov, &n, wait ? TRUE : FALSE)) return static_cast<long>(n);
  return -1;
}

}  // namespace

std::string SerialDeviceName(uint16_t port) {
  if (port == 0) return {};
  // COM1..COM4 by their plain names, COM5 and up by their device-namespace
  // names.
  char name[32];
  if (port < 5)
    std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(port));
  else
    std::snprintf(name, sizeof name, "\\\\.\\COM%u", static_cast<unsigned>(port));
  return name;
}

int SerialPort::Open(const char* path, const SerialSettings& settings) {
  Close();
  if (path == nullptr || *path == '\0') return ENOENT;
  // The rate goes to the driver as it is: the driver decides what it can
  // set (SetCommState fails otherwise).
  if (settings.byte_size < 5 || settings.byte_size > 8 || settings.stop_bits > 2 || settings.parity > 4)
    return EINVAL;
  HANDLE h = CreateFileW(win32::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win32::ErrnoFromSystem(GetLastError());
  if (GetFileType(h) != FILE_TYPE_CHAR) {
    CloseHandle(h);
    return ENOTTY;
  }
  SetupComm(h, kQueueBytes, kQueueBytes);
  PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) {
    const int err = win32::ErrnoFromSystem(GetLastError());
    CloseHandle(h);
    return err;
  }
  // Raw bytes, no flow control, DTR and RTS low. The settings' codes are
  // the DCB's own (parity none, odd, even, mark, space; stop bits 1, 1.5, 2).
  dcb.BaudRate = settings.baud;
  dcb.ByteSize = settings.byte_size;
  dcb.Parity = settings.parity;
  dcb.StopBits = settings.stop_bits;
  dcb.fBinary = TRUE;
  dcb.fParity = settings.parity != 0;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!SetCommState(h, &dcb) || !ReadTimeouts(h)) {
    const int err = win32::ErrnoFromSystem(GetLastError());
    PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    CloseHandle(h);
    return err == 0 ? EINVAL : err;
  }
  io_ = new Io;
  io_->read_ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  io_->write_ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  io_->wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  io_->kick = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  fd_ = reinterpret_cast<intptr_t>(h);
  wake_fd_ = reinterpret_cast<intptr_t>(io_->wake);
  kick_fd_ = reinterpret_cast<intptr_t>(io_->kick);
  return 0;
}

int SerialPort::SetBaud(uint32_t baud) {
  if (fd_ == -1) return EBADF;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(H(fd_), &dcb)) return win32::ErrnoFromSystem(GetLastError());
  const DCB old = dcb;
  dcb.BaudRate = baud;
  if (!SetCommState(H(fd_), &dcb)) {
    const int err = win32::ErrnoFromSystem(GetLastError());
    DCB restore = old;
    SetCommState(H(fd_), &restore);
    return err == 0 ? EINVAL : err;
  }
  Purge();
  return 0;
}

void SerialPort::Purge() {
  if (fd_ == -1) return;
  PurgeComm(H(fd_), PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
  // The aborted wait for data ends; its byte (if any) is purged too.
  if (io_->probe_pending) {
    Finish(H(fd_), &io_->read_ov, true);
    io_->probe_pending = false;
  }
  io_->has_carry = false;
}

long SerialPort::Read(uint8_t* buf, size_t max, int* err) {
  *err = 0;
  if (fd_ == -1) {
    *err = EBADF;
    return -1;
  }
  if (max == 0) return 0;
  size_t got = 0;
  if (io_->probe_pending) {
    if (!HasOverlappedIoCompleted(&io_->read_ov)) return 0;  // nothing has come yet
    io_->probe_pending = false;
    const long n = Finish(H(fd_), &io_->read_ov, false);
    if (n < 0 && GetLastError() != ERROR_OPERATION_ABORTED) {
      *err = win32::ErrnoFromSystem(GetLastError());
      return -1;
    }
    if (n == 1) {
      io_->carry = io_->probe_byte;
      io_->has_carry = true;
    }
  }
  if (io_->has_carry) {
    buf[got++] = io_->carry;
    io_->has_carry = false;
  }
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(H(fd_), &errors, &status)) {
    if (got > 0) return static_cast<long>(got);
    *err = win32::ErrnoFromSystem(GetLastError());
    return -1;
  }
  size_t want = max - got;
  if (status.cbInQue < want) want = status.cbInQue;
  if (want == 0) return static_cast<long>(got);
  // The bytes are in the driver: the read completes at once.
  ResetEvent(io_->read_ov.hEvent);
  DWORD n = 0;
  if (!ReadFile(H(fd_), buf + got, static_cast<DWORD>(want), &n, &io_->read_ov)) {
    if (GetLastError() != ERROR_IO_PENDING) {
      if (got > 0) return static_cast<long>(got);
      *err = win32::ErrnoFromSystem(GetLastError());
      return -1;
    }
    const long r = Finish(H(fd_), &io_->read_ov, true);
    n = r > 0 ? static_cast<DWORD>(r) : 0;
  }
  return static_cast<long>(got + n);
}

size_t SerialPort::Write(const uint8_t* buf, size_t n, int wait_ms) {
  if (fd_ == -1 || n == 0) return 0;
  if (io_->write_pending) {
    Finish(H(fd_), &io_->write_ov, true);
    io_->write_pending = false;
  }
  ResetEvent(io_->write_ov.hEvent);
  DWORD wrote = 0;
  if (WriteFile(H(fd_), buf, static_cast<DWORD>(n), &wrote, &io_->write_ov)) return wrote;
  if (GetLastError() != ERROR_IO_PENDING) return 0;
  HANDLE events[2] = {io_->write_ov.hEvent, io_->wake};
  const DWORD r = WaitForMultipleObjects(2, events, FALSE, wait_ms < 0 ? INFINITE : static_cast<DWORD>(wait_ms));
  if (r != WAIT_OBJECT_0) CancelIoEx(H(fd_), &io_->write_ov);
  const long done = Finish(H(fd_), &io_->write_ov, true);
  if (done >= 0) return static_cast<size_t>(done);
  // Cancelled: what went out before is still counted.
  return static_cast<size_t>(io_->write_ov.InternalHigh);
}

long SerialPort::WriteSome(const uint8_t* buf, size_t n, int* err) {
  *err = 0;
  if (fd_ == -1) {
    *err = EBADF;
    return -1;
  }
  if (io_->write_pending) {
    if (!HasOverlappedIoCompleted(&io_->write_ov)) return 0;  // the driver is still busy
    io_->write_pending = false;
    if (Finish(H(fd_), &io_->write_ov, false) < 0 && GetLastError() != ERROR_OPERATION_ABORTED) {
      *err = win32::ErrnoFromSystem(GetLastError());
      return -1;
    }
  }
  if (n == 0) return 0;
  // The driver takes a copy; the caller's bytes count as taken.
  const size_t chunk = n < sizeof io_->tx ? n : sizeof io_->tx;
  std::memcpy(io_->tx, buf, chunk);
  ResetEvent(io_->write_ov.hEvent);
  DWORD wrote = 0;
  if (WriteFile(H(fd_), io_->tx, static_cast<DWORD>(chunk), &wrote, &io_->write_ov)) return static_cast<long>(chunk);
  if (GetLastError() != ERROR_IO_PENDING) {
    *err = win32::ErrnoFromSystem(GetLastError());
    return -1;
  }
  io_->write_pending = true;
  return static_cast<long>(chunk);
}

namespace {

// Starts the one-byte read that waits for data, unless bytes are waiting
// already. The Ev bits of what is ready at once.
unsigned ArmRead(HANDLE h, SerialPort::Io* io_) {
  using P = SerialPort;
  if (io_->has_carry) return P::kEvReadable;
  if (io_->probe_pending) return HasOverlappedIoCompleted(&io_->read_ov) ? P::kEvReadable : 0u;
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(h, &errors, &status)) return P::kEvHangup;
  if (status.cbInQue > 0) return P::kEvReadable;
  ResetEvent(io_->read_ov.hEvent);
  DWORD n = 0;
  if (ReadFile(h, &io_->probe_byte, 1, &n, &io_->read_ov)) {
    if (n == 1) {
      io_->carry = io_->probe_byte;
      io_->has_carry = true;
      return P::kEvReadable;
    }
    return 0;
  }
  if (GetLastError() != ERROR_IO_PENDING) return P::kEvHangup;
  io_->probe_pending = true;
  return 0;
}

}  // namespace

unsigned SerialPort::WaitEvents(bool want_write, int timeout_ms) {
  if (fd_ == -1) return kEvHangup;
  unsigned ev = ArmRead(H(fd_), io_);
  if (WaitForSingleObject(io_->wake, 0) == WAIT_OBJECT_0) ev |= kEvWoken;
  if (WaitForSingleObject(io_->kick, 0) == WAIT_OBJECT_0) ev |= kEvKicked;
  const bool writing = want_write && io_->write_pending && !HasOverlappedIoCompleted(&io_->write_ov);
  if (want_write && !writing) ev |= kEvWritable;
  if (ev != 0) return ev;
  HANDLE events[4];
  DWORD count = 0;
  events[count++] = io_->wake;
  events[count++] = io_->kick;
  if (io_->probe_pending) events[count++] = io_->read_ov.hEvent;
  if (writing) events[count++] = io_->write_ov.hEvent;
  const DWORD r = WaitForMultipleObjects(count, events, FALSE, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
  if (r == WAIT_TIMEOUT) return 0;
  if (r == WAIT_OBJECT_0) return kEvWoken;
  if (r == WAIT_OBJECT_0 + 1) return kEvKicked;
  if (r == WAIT_FAILED) return kEvHangup;
  if (events[r - WAIT_OBJECT_0] == io_->write_ov.hEvent) return kEvWritable;
  // The read that waited for data ended: data, or the device failed.
  DWORD n = 0;
  if (!GetOverlappedResult(H(fd_), &io_->read_ov, &n, FALSE) && GetLastError() != ERROR_OPERATION_ABORTED)
    return kEvHangup | kEvReadable;
  return kEvReadable;
}

void SerialPort::Kick() {
  if (io_ != nullptr) SetEvent(io_->kick);
}

SerialPort::Wait SerialPort::WaitReadable(int timeout_ms) {
  if (fd_ == -1) return Wait::kHangup;
  if (WaitForSingleObject(io_->wake, 0) == WAIT_OBJECT_0) return Wait::kWoken;
  if (io_->has_carry) return Wait::kReadable;
  if (!io_->probe_pending) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(H(fd_), &errors, &status)) return Wait::kHangup;
    if (status.cbInQue > 0) return Wait::kReadable;
    ResetEvent(io_->read_ov.hEvent);
    DWORD n = 0;
    if (ReadFile(H(fd_), &io_->probe_byte, 1, &n, &io_->read_ov)) {
      if (n == 1) {
        io_->carry = io_->probe_byte;
        io_->has_carry = true;
        return Wait::kReadable;
      }
      // No byte although the read waits for one: end the wait, look again.
      return Wait::kTimeout;
    }
    if (GetLastError() != ERROR_IO_PENDING) return Wait::kHangup;
    io_->probe_pending = true;
  }
  HANDLE events[2] = {io_->wake, io_->read_ov.hEvent};
  const DWORD r = WaitForMultipleObjects(2, events, FALSE, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
  if (r == WAIT_OBJECT_0) return Wait::kWoken;
  if (r == WAIT_OBJECT_0 + 1) {
    // Data, or the device failed: Read tells which.
    DWORD n = 0;
    if (!GetOverlappedResult(H(fd_), &io_->read_ov, &n, FALSE) && GetLastError() != ERROR_OPERATION_ABORTED)
      return Wait::kHangup;
    return Wait::kReadable;
  }
  return Wait::kTimeout;
}

void SerialPort::WaitForWake() {
  if (io_ != nullptr) WaitForSingleObject(io_->wake, INFINITE);
}

void SerialPort::Wake() {
  if (io_ != nullptr) SetEvent(io_->wake);
}

int SerialPort::GetSettings(SerialSettings* out) const {
  if (fd_ == -1) return EBADF;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(H(fd_), &dcb)) return win32::ErrnoFromSystem(GetLastError());
  out->baud = dcb.BaudRate;
  out->byte_size = dcb.ByteSize;
  out->stop_bits = dcb.StopBits;
  out->parity = dcb.Parity;
  return 0;
}

void SerialPort::Close() {
  if (fd_ != -1) {
    PurgeComm(H(fd_), PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    CancelIoEx(H(fd_), nullptr);
    if (io_->probe_pending) Finish(H(fd_), &io_->read_ov, true);
    if (io_->write_pending) Finish(H(fd_), &io_->write_ov, true);
    CloseHandle(H(fd_));
    fd_ = -1;
  }
  if (io_ != nullptr) {
    CloseHandle(io_->read_ov.hEvent);
    CloseHandle(io_->write_ov.hEvent);
    CloseHandle(io_->wake);
    CloseHandle(io_->kick);
    delete io_;
    io_ = nullptr;
  }
  wake_fd_ = -1;
  kick_fd_ = -1;
}

}  // namespace voxa::platform
