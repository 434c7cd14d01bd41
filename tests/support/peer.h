// A fake board for tests: a TCP listener on 127.0.0.1 that accepts the
// library's connection, decodes every frame the host sends and lets a test
// send packets back. Polls and keep-alives are answered or skipped so that
// tests see only the commands they caused.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <memory>
#include <vector>

#include "platform/listener.h"
#include "voxa/voxa.h"

namespace voxa::test {

struct HostFrame {
  uint8_t opcode = 0;
  uint8_t code = 0;  // opcode without the immediate flag
  bool immediate = false;
  int mask = -1;        // -1: the kind has no mask
  int descriptor = -1;  // -1: none
  int tag = -1;         // -1: no tag byte
  int reg = -1;         // register of a read request or write
  std::vector<uint32_t> values;  // per selected word, repeats expanded
  std::vector<uint8_t> raw;      // whole frame, start byte to checksum

  bool is_write(int r) const { return reg == r && (code & 1) && code >= 0x10 && code < 0x50; }
};

inline uint8_t Sum(const std::vector<uint8_t>& b) {
  unsigned s = 0;
  for (uint8_t x : b) s += x;
  return static_cast<uint8_t>(s);
}

// Builds a board packet: FE, L, id 0, type, payload, checksum.
inline std::vector<uint8_t> Packet(uint8_t type, const std::vector<uint8_t>& payload) {
  // Room for the whole packet first (GCC 12 sees a bounds fault that is not
  // there in the copy of a growing vector).
  std::vector<uint8_t> f;
  f.reserve(payload.size() + 5);
  f = {0xFE, static_cast<uint8_t>(payload.size() + 3), 0x00, type};
  f.insert(f.end(), payload.begin(), payload.end());
  f.push_back(Sum(f));
  return f;
}

inline std::optional<HostFrame> DecodeHostFrame(const std::vector<uint8_t>& raw) {
  if (raw.size() < 5) return std::nullopt;
  HostFrame h;
  h.raw = raw;
  const int L = raw[1] & 0x7F;
  h.opcode = raw[3];
  h.code = raw[3] & 0x7F;
  h.immediate = (raw[3] & 0x80) != 0;
  const int payload = L - 2;  // opcode .. tag
  if (h.code < 0x10) {
    if (payload == 2) h.tag = raw[4];
  } else if (h.code >= 0x50) {
    h.mask = raw[4];
    if (payload == 3) h.tag = raw[5];
  } else {
    h.reg = (h.code - 0x10) >> 1;
    h.mask = raw[4];
    h.descriptor = raw[5];
    if (!(h.code & 1)) {
      if (payload == 4) h.tag = raw[6];
    } else {
      const int n = h.descriptor & 0x0F;
      const int w = (h.descriptor & 0x30) == 0 ? 1 : (h.descriptor & 0x30) == 0x10 ? 2 : 4;
      if (payload == 3 + n * w + 1) h.tag = raw[6 + n * w];
      std::vector<uint32_t> v;
      for (int k = 0; k < n; ++k) {
        uint32_t x = 0;
        for (int b = 0; b < w; ++b) x |= static_cast<uint32_t>(raw[6 + k * w + b]) << (8 * b);
        v.push_back(x);
      }
      int k = 0;
      for (int i = 0; i < 8; ++i)
        if (h.mask & (1 << i)) {
          h.values.push_back(v.empty() ? 0 : v[static_cast<size_t>(k)]);
          if (k < n - 1) ++k;
        }
    }
  }
  return h;
}

class FakeBoard {
 public:
  FakeBoard() {
    listener_.Listen(0);
    port_ = listener_.Port();
    thread_ = std::thread([this] { Run(); });
  }

  ~FakeBoard() {
    if (board_ >= 0 && VOXA_Set_BoardID(board_)) VOXA_Close();
    stop_ = true;
    wake_.Signal();
    thread_.join();
  }

  uint16_t port() const { return port_; }

  // Opens the library's next free board over TCP to this peer and waits
  // until the connection is accepted. Returns the board id or -1.
  int Open() {
    board_ = VOXA_Open_Tcp(0x0100007F, port_, 0);
    if (board_ < 0) return board_;
    std::unique_lock<std::mutex> g(m_);
    cv_.wait_for(g, std::chrono::seconds(3), [&] { return connected_; });
    return board_;
  }
  int board() const { return board_; }

  void Close() {
    if (board_ >= 0 && VOXA_Set_BoardID(board_)) VOXA_Close();
    board_ = -1;
  }

  // Skip the timer thread's polls and keep-alives (default true).
  void SkipPolls(bool skip) { skip_polls_ = skip; }
  // Answer keep-alives with heartbeats (default true).
  void AnswerKeepAlives(bool on) { answer_keepalive_ = on; }
  // A board that stops reading: what the host sends piles up in the sockets.
  void StopReading(bool stop) { stop_reading_ = stop; }

  std::optional<HostFrame> NextFrame(int timeout_ms = 1000) {
    std::unique_lock<std::mutex> g(m_);
    if (!cv_.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return !frames_.empty(); })) return std::nullopt;
    HostFrame f = frames_.front();
    frames_.pop_front();
    return f;
  }

  // Waits for the next frame with this code (immediate flag ignored),
  // dropping others on the way.
  std::optional<HostFrame> NextFrameWithCode(uint8_t code, int timeout_ms = 1000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (left <= 0) return std::nullopt;
      auto f = NextFrame(left);
      if (!f) return std::nullopt;
      if (f->code == (code & 0x7F)) return f;
    }
  }

  bool ExpectNoFrame(int ms) { return !NextFrame(ms).has_value(); }

  std::vector<HostFrame> Drain(int quiet_ms = 50) {
    std::vector<HostFrame> all;
    while (auto f = NextFrame(quiet_ms)) all.push_back(*f);
    return all;
  }

  void SendRaw(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> g(send_m_);
    if (conn_) conn_->SendAll(bytes.data(), bytes.size(), 5000);
  }
  void SendPacket(uint8_t type, const std::vector<uint8_t>& payload) { SendRaw(Packet(type, payload)); }
  // Bytes sent the moment a connection is accepted, before anything is read.
  void SendOnAccept(std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> g(send_m_);
    on_accept_ = std::move(bytes);
  }
  // A complete state packet reporting this command ID.
  void SendComplete(uint8_t id) { SendPacket(14, {id, 0, 0, 0}); }
  // A read reply setting register r's selected words to values (4-byte).
  void SendReadReply(int r, uint8_t mask, const std::vector<uint32_t>& values, int tag = -1) {
    std::vector<uint8_t> p{mask, static_cast<uint8_t>(0x20 | values.size())};
    for (uint32_t v : values)
      for (int b = 0; b < 4; ++b) p.push_back(static_cast<uint8_t>(v >> (8 * b)));
    if (tag >= 0) p.push_back(static_cast<uint8_t>(tag));
    SendPacket(static_cast<uint8_t>(16 + 2 * r), p);
  }
  // Drops the connection (the library will reconnect).
  void DropConnection() {
    std::lock_guard<std::mutex> g(send_m_);
    if (conn_) conn_->Shutdown();
    conn_.reset();
  }
  int connections() const { return connections_.load(); }

 private:
  std::shared_ptr<platform::StreamSocket> Connection() {
    std::lock_guard<std::mutex> g(send_m_);
    return conn_;
  }

  void Run() {
    std::vector<uint8_t> cur;
    int state = 0, need = 0;
    uint8_t buf[4096];
    while (!stop_) {
      std::shared_ptr<platform::StreamSocket> conn = Connection();
      platform::WaitItem p[3];
      p[0].fd = wake_.Fd();
      p[0].want_read = true;
      p[1].fd = listener_.Fd();
      p[1].want_read = true;
      p[2].fd = conn && !stop_reading_ ? conn->Fd() : platform::kNoSocket;
      p[2].want_read = true;
      if (platform::WaitReady(p, 3, 200) <= 0) continue;
      if (p[0].readable) break;
      if (p[1].readable) {
        if (auto accepted = listener_.Accept()) {
          {
            // Under the send lock: no SendRaw is using the old connection.
            std::lock_guard<std::mutex> g(send_m_);
            conn_ = std::move(accepted);
            if (!on_accept_.empty()) conn_->SendAll(on_accept_.data(), on_accept_.size(), 5000);
          }
          state = 0;
          ++connections_;
          std::lock_guard<std::mutex> g(m_);
          connected_ = true;
          cv_.notify_all();
        }
      }
      if (conn && (p[2].readable || p[2].hangup)) {
        const long n = conn->Recv(buf, sizeof buf);
        if (n == platform::kWouldBlock) continue;
        if (n < 0) {
          std::lock_guard<std::mutex> g(send_m_);
          if (conn_ == conn) conn_.reset();
          continue;
        }
        for (long k = 0; k < n; ++k) {
          uint8_t b = buf[k];
          if (state == 0) {
            if (b == 0xFE) { cur.assign(1, b); state = 1; }
          } else if (state == 1) {
            cur.push_back(b);
            need = (b & 0x7F);
            state = 2;
          } else {
            cur.push_back(b);
            if (static_cast<int>(cur.size()) == need + 2) {
              state = 0;
              std::vector<uint8_t> body(cur.begin(), cur.end() - 1);
              if (Sum(body) == cur.back()) Deliver(cur);
            }
          }
        }
      }
    }
  }

  void Deliver(const std::vector<uint8_t>& raw) {
    auto f = DecodeHostFrame(raw);
    if (!f) return;
    if (f->code == 0x09 && answer_keepalive_) SendPacket(9, {0});
    const bool poll = f->tag == 0xFD && (f->code == 0x09 || (f->code >= 0x10 && f->code < 0x50 && !(f->code & 1)));
    if (poll && skip_polls_) return;
    std::lock_guard<std::mutex> g(m_);
    frames_.push_back(*f);
    cv_.notify_all();
  }

  platform::TcpListener listener_;
  platform::WakeFd wake_;
  std::shared_ptr<platform::StreamSocket> conn_;  // under send_m_
  uint16_t port_ = 0;
  int board_ = -1;
  std::atomic<bool> stop_{false};
  std::vector<uint8_t> on_accept_;  // send lock
  std::atomic<bool> stop_reading_{false};
  std::atomic<bool> skip_polls_{true};
  std::atomic<bool> answer_keepalive_{true};
  std::atomic<int> connections_{0};
  std::thread thread_;
  std::mutex m_;
  std::mutex send_m_;
  std::condition_variable cv_;
  bool connected_ = false;
  std::deque<HostFrame> frames_;
};

}  // namespace voxa::test
