// The host side of a link to the simulated board, played by hand in the
// simulator's tests: a loopback socket or a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "codec.h"
#include "platform/listener.h"
#include "platform/pty.h"
#include "sim.h"


namespace voxa::test {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
namespace plat = voxa::platform;

inline const Bytes kHeartbeatBytes{0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B};

// The host side of a link, by hand: writes frames, collects whole frames
// the board sends (parsed with the board's parser, which is generic).
class Host {
 public:
  explicit Host(uint16_t port) : sock_(plat::StreamSocket::ConnectLoopback(port, 2000)) {}
  explicit Host(const std::string& tty) {
    tty_ = std::make_unique<plat::RawTty>();
    if (!tty_->Open(tty)) tty_.reset();
  }
  bool Ok() const { return sock_ != nullptr || tty_ != nullptr; }
  int Fd() const { return sock_ ? sock_->Fd() : tty_->Fd(); }

  void Send(const Bytes& b) {
    if (sock_) {
      ASSERT_EQ(sock_->SendAll(b.data(), b.size(), 1000), b.size());
    } else {
      ASSERT_EQ(tty_->Write(b.data(), b.size()), static_cast<long>(b.size()));
    }
  }
  // Reads until count frames arrived, the link closed, or timeout.
  std::vector<Bytes> Frames(size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::vector<Bytes> out;
    while (out.size() < count && !closed_) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      plat::WaitItem it;
      it.fd = Fd();
      it.want_read = true;
      if (plat::WaitReady(&it, 1, static_cast<int>(left)) <= 0) continue;
      uint8_t buf[4096];
      long r = sock_ ? sock_->Recv(buf, sizeof buf) : tty_->Read(buf, sizeof buf);
      if (r == plat::kClosed) {
        closed_ = true;
        break;
      }
      for (long i = 0; i < r; ++i) {
        raw_.push_back(buf[i]);
        if (parser_.Feed(buf[i])) out.push_back(parser_.Raw());
      }
    }
    return out;
  }
  bool Closed() const { return closed_; }
  const Bytes& RawBytes() const { return raw_; }
  const voxa_sim::FrameParser& Parser() const { return parser_; }

 private:
  std::unique_ptr<plat::StreamSocket> sock_;
  std::unique_ptr<plat::RawTty> tty_;
  voxa_sim::FrameParser parser_;
  Bytes raw_;
  bool closed_ = false;
};

inline bool IsCode(const voxa_sim::RxFrame& f, uint8_t code) { return f.cmd.code == code; }

}  // namespace voxa::test
