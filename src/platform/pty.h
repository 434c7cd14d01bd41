// Pseudo-terminals: the simulated board serves one as its serial line.
//
// PtyMaster opens the master side in raw mode (no echo, no line editing, no
// character translation) and reports the slave's device path, which a host
// opens like any serial port (VOXA_Open_CommDevice). The master keeps a
// descriptor of the slave open itself, so the line does not hang up while no
// host has the port open, and a host may open and close it again freely.
//
// RawTty is the other end, for tests and tools: it opens a tty path in raw
// mode, non-blocking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace voxa::platform {

class PtyMaster {
 public:
  PtyMaster() = default;
  ~PtyMaster();
  PtyMaster(const PtyMaster&) = delete;
  PtyMaster& operator=(const PtyMaster&) = delete;

  bool Open();
  bool IsOpen() const { return master_ >= 0; }
  const std::string& SlavePath() const { return path_; }
  // The master descriptor, for WaitReady (listener.h).
  int Fd() const { return master_; }
  // Non-blocking; results as in listener.h: > 0 bytes, 0 would block, -1 failed.
  long Read(uint8_t* data, size_t max);
  long Write(const uint8_t* data, size_t n);
  // Throws away bytes waiting in either direction.
  void Flush();
  void Close();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

class RawTty {
 public:
  RawTty() = default;
  ~RawTty();
  RawTty(const RawTty&) = delete;
  RawTty& operator=(const RawTty&) = delete;

  bool Open(const std::string& path);
  int Fd() const { return fd_; }
  long Read(uint8_t* data, size_t max);
  long Write(const uint8_t* data, size_t n);
  void Close();

 private:
  int fd_ = -1;
};

}  // namespace voxa::platform
