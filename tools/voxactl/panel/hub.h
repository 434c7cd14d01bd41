// The panel's live streams: events queued per browser and written by the
// server's thread of that stream.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace voxactl::panel {

// A browser that reads slower than this much behind is dropped.
inline constexpr size_t kMaxBacklog = 8u << 20;

// One browser's live stream: what is waiting to be written to it.
struct Client {
  uint64_t id = 0;
  bool trace = false;
  std::string out;
  bool closed = false;
};

// The live streams. Events are queued per stream and written by the
// server's thread of that stream.
class Hub {
 public:
  std::shared_ptr<Client> Add(bool trace) {
    auto c = std::make_shared<Client>();
    c->trace = trace;
    std::lock_guard<std::mutex> g(mu_);
    c->id = next_id_++;
    c->closed = closed_;
    clients_[c->id] = c;
    return c;
  }
  void Remove(uint64_t id) {
    std::lock_guard<std::mutex> g(mu_);
    clients_.erase(id);
  }
  bool Has(uint64_t id) {
    std::lock_guard<std::mutex> g(mu_);
    auto it = clients_.find(id);
    return it != clients_.end() && !it->second->closed;
  }
  bool HasTraceClients() {
    std::lock_guard<std::mutex> g(mu_);
    for (auto& [id, c] : clients_)
      if (c->trace) return true;
    return false;
  }
  // Queues an event for every stream (trace streams get trace events only).
  void Send(const std::string& event, const std::string& data, bool trace = false) {
    const std::string text = "event: " + event + "\ndata: " + data + "\n\n";
    {
      std::lock_guard<std::mutex> g(mu_);
      for (auto& [id, c] : clients_) {
        if (c->trace != trace) continue;
        c->out += text;
        if (c->out.size() > kMaxBacklog) c->closed = true;
      }
    }
    cv_.notify_all();
  }
  void SendTo(Client& c, const std::string& event, const std::string& data) {
    {
      std::lock_guard<std::mutex> g(mu_);
      c.out += "event: " + event + "\ndata: " + data + "\n\n";
    }
    cv_.notify_all();
  }
  // What to write to the stream next: the queued events, or a keep-alive
  // comment after `wait`. False once the stream is to end.
  bool Next(Client& c, std::string& chunk, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> g(mu_);
    cv_.wait_for(g, wait, [&] { return c.closed || !c.out.empty(); });
    if (c.closed) return false;
    chunk.swap(c.out);
    c.out.clear();
    if (chunk.empty()) chunk = ":\n\n";
    return true;
  }
  void CloseAll() {
    {
      std::lock_guard<std::mutex> g(mu_);
      closed_ = true;
      for (auto& [id, c] : clients_) c->closed = true;
    }
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::map<uint64_t, std::shared_ptr<Client>> clients_;
  uint64_t next_id_ = 1;
  bool closed_ = false;
};

}  // namespace voxactl::panel
