#include "feed.h"

#include <atomic>

#include "voxa/voxa.h"

namespace voxactl::panel {
namespace {

std::atomic<Feed*> g_feed{nullptr};

}  // namespace

uint64_t NowUs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count());
}

Feed::~Feed() { Stop(); }

// Until the library tells of each report, the register image is read at a
// steady 20 ms.
void Feed::Start() { g_feed.store(this); }

void Feed::Stop() {
  g_feed.store(nullptr);
  {
    std::lock_guard<std::mutex> g(mu_);
    stopped_ = true;
  }
  cv_.notify_all();
}

bool Feed::WaitReport(Report& out, Clock::time_point deadline) {
  std::unique_lock<std::mutex> g(mu_);
  const auto tick = std::min(deadline, Clock::now() + std::chrono::milliseconds(20));
  cv_.wait_until(g, tick, [&] { return stopped_ || pending_.merged > 0; });
  if (stopped_) return false;
  if (pending_.merged == 0) {
    if (tick == deadline) return false;
    pending_ = Report{~0u, NowUs(), 1};
  }
  out = pending_;
  pending_ = Report{};
  return true;
}

std::deque<std::string> Feed::TakeLinkChanges() {
  std::lock_guard<std::mutex> g(mu_);
  std::deque<std::string> out;
  out.swap(links_);
  return out;
}

int Feed::AgeMs(int) { return -1; }
uint32_t Feed::Drops() { return 0; }

void Feed::OnState(uint32_t registers, uint64_t time_us) {
  {
    std::lock_guard<std::mutex> g(mu_);
    pending_.registers |= registers;
    pending_.time_us = time_us;
    ++pending_.merged;
  }
  cv_.notify_all();
}

void Feed::OnLink(int, int, int) {}

}  // namespace voxactl::panel
