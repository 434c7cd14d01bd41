#include "feed.h"

#include <atomic>
#include <string>

#include "voxa/voxa.h"

namespace voxactl::panel {
namespace {

std::atomic<Feed*> g_feed{nullptr};

void VOXA_CALL StateHandler(int, uint32_t registers, uint64_t time_us) {
  if (Feed* f = g_feed.load()) f->OnState(registers, time_us);
}

void VOXA_CALL LinkHandler(int, int state, int reason, int os_error) {
  if (Feed* f = g_feed.load()) f->OnLink(state, reason, os_error);
}

}  // namespace

uint64_t NowUs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count());
}

Feed::~Feed() { Stop(); }

void Feed::Start() {
  g_feed.store(this);
  VOXA_Set_StateHandler(&StateHandler);
  VOXA_Set_LinkHandler(&LinkHandler);
}

void Feed::Stop() {
  if (g_feed.load() == this) {
    VOXA_Set_StateHandler(nullptr);
    VOXA_Set_LinkHandler(nullptr);
    g_feed.store(nullptr);
  }
  {
    std::lock_guard<std::mutex> g(mu_);
    stopped_ = true;
  }
  cv_.notify_all();
}

bool Feed::WaitReport(Report& out, Clock::time_point deadline) {
  std::unique_lock<std::mutex> g(mu_);
  cv_.wait_until(g, deadline, [&] { return stopped_ || pending_.merged > 0; });
  if (stopped_ || pending_.merged == 0) return false;
  out = pending_;
  pending_ = Report{};
  return true;
}

std::deque<Feed::LinkChange> Feed::TakeLinkChanges() {
  std::lock_guard<std::mutex> g(mu_);
  std::deque<LinkChange> out;
  out.swap(links_);
  return out;
}

int Feed::AgeMs(int reg) { return VOXA_Get_RegAge(reg); }
uint32_t Feed::Drops() { return VOXA_Get_StateDrops(); }

void Feed::OnState(uint32_t registers, uint64_t time_us) {
  {
    std::lock_guard<std::mutex> g(mu_);
    pending_.registers |= registers;
    pending_.time_us = time_us;
    ++pending_.merged;
  }
  cv_.notify_all();
}

void Feed::OnLink(int state, int reason, int os_error) {
  static const char* const kStates[] = {"down", "up", "re-establishing", "re-established"};  // VOXA_LINK_*
  static const char* const kReasons[] = {"", "silence", "peer closed", "error", "closed", "serial device gone",
                                         "heartbeat", "held by another host"};
  std::string text = state >= 0 && state <= 3 ? kStates[state] : "state " + std::to_string(state);
  static_assert(sizeof kReasons / sizeof *kReasons == VOXA_LINK_REASON_HELD + 1, "a text for every reason");
  if (reason > 0 && reason <= VOXA_LINK_REASON_HELD) text += std::string(": ") + kReasons[reason];
  if (reason == 3) text += " " + std::to_string(os_error);
  {
    std::lock_guard<std::mutex> g(mu_);
    links_.push_back(LinkChange{state, std::move(text)});
    if (links_.size() > 100) links_.pop_front();
  }
  cv_.notify_all();
}

}  // namespace voxactl::panel
