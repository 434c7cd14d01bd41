#include "server.h"

#include <httplib.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "../frame_text.h"
#include "../session.h"
#include "gate.h"
#include "jogs.h"
#include "panel_page.h"
#include "voxa/voxa.h"

namespace voxactl::panel {
namespace {

using Ms = std::chrono::milliseconds;

constexpr int CHIPSTATUS = 1, AXISSTATUS = 3, CURPOS = 6, ENCPOS = 12, CURVEL = 18, SERVOIO = 28, GIO = 29;
// The registers whose reports the page waits for.
constexpr uint32_t kLiveRegisters = (1u << CHIPSTATUS) | (1u << AXISSTATUS) | (1u << CURPOS) | (1u << ENCPOS) |
                                    (1u << CURVEL) | (1u << SERVOIO) | (1u << GIO);
// The live stream goes to the browser at most this often; every report in
// between is still sampled for the scope.
constexpr Ms kPushInterval{20};
// A report that came too soon after a push goes out this long after that
// push when no other report follows it.
constexpr Ms kPushLate{50};
// Without reports the page still hears from the panel this often (age of
// the data, link state).
constexpr Ms kQuietPush{500};
// A stream writes something at least this often: a closed tab is noticed
// when a write fails.
constexpr Ms kKeepAlive{200};
// The frame trace goes out in batches this far apart.
constexpr Ms kTraceInterval{100};
// A browser that reads slower than this much behind is dropped.
constexpr size_t kMaxBacklog = 8u << 20;
constexpr int kServerThreads = 48;
// The largest request body (a configuration file is some 20 KiB).
constexpr size_t kMaxBody = 1u << 20;

std::string Fmt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

std::string RandomToken() {
  std::random_device rd;
  std::string t;
  for (int i = 0; i < 8; ++i) t += Fmt("%08x", static_cast<unsigned>(rd()));
  return t;
}

// Compares without leaking where the first difference is.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char d = 0;
  for (size_t i = 0; i < a.size(); ++i) d |= static_cast<unsigned char>(a[i] ^ b[i]);
  return d == 0;
}

std::string CookieValue(const std::string& header, const std::string& name) {
  size_t i = 0;
  while (i < header.size()) {
    while (i < header.size() && (header[i] == ' ' || header[i] == ';')) ++i;
    const size_t end = std::min(header.find(';', i), header.size());
    const std::string item = header.substr(i, end - i);
    const size_t eq = item.find('=');
    if (eq != std::string::npos && item.substr(0, eq) == name) return item.substr(eq + 1);
    i = end + 1;
  }
  return "";
}

bool IsIpv4Literal(const std::string& s);
// 1.2.3.4 or [v6].
bool IsIpLiteral(const std::string& s) {
  if (s.size() > 2 && s.front() == '[' && s.back() == ']')
    return s.find_first_not_of("0123456789abcdefABCDEF:.", 1) == s.size() - 1;
  return IsIpv4Literal(s);
}

bool IsIpv4Literal(const std::string& s) {
  if (s.empty()) return false;
  int dots = 0;
  for (char c : s) {
    if (c == '.')
      ++dots;
    else if (c < '0' || c > '9')
      return false;
  }
  return dots == 3;
}

// ---------------------------------------------------------------- streams

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
  bool Next(Client& c, std::string& chunk, Ms wait) {
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

// ---------------------------------------------------------------- the panel

struct Answer {
  int status = 200;
  std::string text;
};

class Panel {
 public:
  Panel(Session& s, Feed& feed, Options o, std::string board_text)
      : session_(s), feed_(feed), opt_(std::move(o)), board_text_(std::move(board_text)),
        jogs_(Jogs::Board{[this](int axis) { return StopJog(axis); }, [this](int axis) { return SeenAxis(axis); },
                          [this](const std::string& text) { Note(text); }}) {
    if (opt_.token.empty()) opt_.token = RandomToken();
    start_us_ = NowUs();
  }
  int Run();

 private:
  // ---- the board: every library call is made under board_mu_, because
  //      the library's error flag belongs to the whole process ----
  template <class F>
  Answer Call(const char* what, F&& f) {
    std::lock_guard<std::mutex> g(board_mu_);
    return Immediate(what, f);
  }
  // Sends what f sends as immediate commands; board_mu_ is held.
  template <class F>
  Answer Immediate(const char* what, F& f) {
    VOXA_Enter_ImCmd();
    const bool ok = f();
    const bool failed = !ok || VOXA_Is_Err();
    const int code = failed ? VOXA_Get_LastErr() : 0;
    VOXA_Leave_ImCmd();
    if (failed) return Answer{409, Fmt("%s failed: error %d: %s", what, code, VOXA_Get_ErrText(code))};
    return Answer{200, Fmt("%s: sent", what)};
  }
  // A call that moves an axis: refused, with the reason, while the board
  // reports an emergency stop or an alarm, or does not answer.
  template <class F>
  Answer Motion(const char* what, F&& f) {
    std::lock_guard<std::mutex> g(board_mu_);
    if (!VOXA_Is_Link())
      return Answer{409, Fmt("%s refused: the board does not answer (link down); nothing was sent", what)};
    if (VOXA_Is_Alarm())
      return Answer{409, Fmt("%s refused: the board reports %s; nothing was sent (Alarm reset clears it)", what,
                             AlarmText().c_str())};
    return Immediate(what, f);
  }
  // A move or home tagged with a command ID of its own, whose completion
  // the pages are told of.
  template <class F>
  Answer TaggedMotion(const char* what, const std::string& kind, int mask, F&& f);
  void ReportCompletions();
  bool StopJog(int axis);
  Jogs::Seen SeenAxis(int axis);
  void Note(const std::string& text) { hub_.Send("note", "{\"text\":" + JsonString(text) + "}"); }
  static std::string AlarmText();
  std::string Snapshot(uint64_t report_us, const std::string& samples);
  std::string Sample(uint64_t report_us);

  void Publish();
  void TraceFrames();

  // ---- HTTP ----
  void Routes(httplib::Server& svr);
  bool Allowed(const httplib::Request& req, httplib::Response& res);
  Answer Act(const std::string& name, const httplib::Request& req);
  void Stream(const httplib::Request& req, httplib::Response& res, bool trace);
  std::string CookieName() const { return "voxa_panel_" + std::to_string(port_); }
  std::string Hello(uint64_t client);

  Session& session_;
  Feed& feed_;
  Options opt_;
  std::string board_text_;
  int port_ = 0;
  std::vector<std::string> hosts_;  // Host headers taken
  bool any_ip_host_ = false;        // listening on every address: any IP literal
  uint64_t start_us_ = 0;

  std::mutex board_mu_;
  // Moves and homes whose completion is awaited, by command ID (under board_mu_).
  struct Pending {
    std::string kind;
    int mask;
  };
  std::map<int, Pending> pending_;
  int next_id_ = 0;
  Hub hub_;
  Jogs jogs_;
  std::atomic<bool> quit_{false};
  std::atomic<uint64_t> seq_{0};
  std::mutex load_mu_;  // one configuration load at a time
};

bool Panel::StopJog(int axis) {
  return Call("VOXA_Spindle", [&] { return VOXA_Spindle(1 << axis, 0) != 0; }).status == 200;
}

Jogs::Seen Panel::SeenAxis(int axis) {
  std::lock_guard<std::mutex> g(board_mu_);
  Jogs::Seen s;
  s.link = VOXA_Is_Link() == 1;
  s.moving = VOXA_Get_CurVelAxis(1 << axis) != 0;
  s.board_moving = VOXA_Is_OnMotion() == 1;
  const int age = VOXA_Get_RegAge(CURVEL);
  const uint64_t now = NowUs();
  s.report_us = age < 0 ? 0 : now - std::min<uint64_t>(now, static_cast<uint64_t>(age + 1) * 1000);
  return s;
}

// "EMERGENCY STOP, code 0x00000004" or "ALARM, code 0x00000001, axes 2"; under board_mu_.
std::string Panel::AlarmText() {
  std::string axes;
  for (int a = 0; a < 8; ++a)
    if (VOXA_Is_AlarmAxis(1 << a)) axes += (axes.empty() ? ", axes " : " ") + std::to_string(a);
  return Fmt("%s, code 0x%08X", VOXA_Is_EStop() ? "EMERGENCY STOP" : "ALARM", static_cast<unsigned>(VOXA_Get_Alarm())) +
         axes;
}

// Command IDs 1..200 go round; the panel sends nothing else tagged.
template <class F>
Answer Panel::TaggedMotion(const char* what, const std::string& kind, int mask, F&& f) {
  int id = 0;
  Answer a = Motion(what, [&] {
    id = next_id_ % 200 + 1;
    next_id_ = id;
    VOXA_Set_CmdID(id);
    const bool ok = f();
    VOXA_Set_CmdID(VOXA_CMDID_NONE);
    return ok;
  });
  if (a.status == 200) {
    std::lock_guard<std::mutex> g(board_mu_);
    pending_[id] = Pending{kind, mask};
    a.text += Fmt(" (command ID %d; its end is told on the live stream)", id);
  }
  return a;
}

// Completions reported since the last look: ended, or stopped by a stop of
// the host before its end (not an arrival). Under board_mu_.
void Panel::ReportCompletions() {
  for (auto it = pending_.begin(); it != pending_.end();) {
    const int reason = VOXA_Get_CompleteReason(it->first);
    if (reason != VOXA_COMPLETE_ENDED && reason != VOXA_COMPLETE_HOST_STOP) {
      ++it;
      continue;
    }
    // The image may still hold a position from the middle of the move: ask
    // the board where it ended before saying so.
    VOXA_Refresh(1u << 6, 100);  // CURPOS; short: stops wait for board_mu_
    std::string where;
    for (int a = 0; a < 8; ++a)
      if (it->second.mask & (1 << a)) where += Fmt("%saxis %d = %d", where.empty() ? "" : ", ", a, VOXA_Get_CurPos(1 << a));
    Note(it->second.kind + (reason == VOXA_COMPLETE_ENDED ? " complete at " : " stopped before its end at ") + where);
    it = pending_.erase(it);
  }
}

std::string NumberList(const int* v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(v[i]);
  return s;
}

// One scope sample: time in ms since the panel started, positions and
// velocities of the eight axes. Under board_mu_.
std::string Panel::Sample(uint64_t report_us) {
  int pos[8], vel[8];
  for (int a = 0; a < 8; ++a) {
    pos[a] = VOXA_Get_CurPos(1 << a);
    vel[a] = VOXA_Get_CurVelAxis(1 << a);
  }
  const double t = (static_cast<double>(report_us) - static_cast<double>(start_us_)) / 1000.0;
  return Fmt("[%.1f,", t) + NumberList(pos, 8) + "," + NumberList(vel, 8) + "]";
}

// Everything the page shows, as JSON. Under board_mu_.
std::string Panel::Snapshot(uint64_t report_us, const std::string& samples) {
  char engine[64] = "";
  VOXA_Get_EngineVer(engine, static_cast<int>(sizeof engine));
  // The report's time on the wall clock, for the page to tell its latency.
  const auto wall_now = std::chrono::system_clock::now().time_since_epoch();
  const double wall_ms = std::chrono::duration<double, std::milli>(wall_now).count() -
                         (static_cast<double>(NowUs()) - static_cast<double>(report_us)) / 1000.0;
  std::string s = "{";
  s += Fmt("\"seq\":%" PRIu64 ",\"t\":%.1f,\"trw\":%.3f,", ++seq_,
           (static_cast<double>(report_us) - static_cast<double>(start_us_)) / 1000.0, wall_ms);
  s += Fmt("\"link\":%d,\"engine\":%s,", VOXA_Is_Link(), JsonString(engine).c_str());
  s += Fmt("\"exe\":%d,\"cmd\":%d,\"motion\":%d,\"busy\":%d,\"pause\":%d,", VOXA_Is_EnableExe(),
           VOXA_Get_CmdState(), VOXA_Is_OnMotion(), VOXA_Is_Busy(), VOXA_Is_Pause());
  s += Fmt("\"alarm\":%d,\"alarmCode\":%u,\"estop\":%d,", VOXA_Is_Alarm(), static_cast<unsigned>(VOXA_Get_Alarm()),
           VOXA_Is_EStop());
  s += Fmt("\"bq\":%d,\"hq\":%d,", VOXA_Get_EngineQueueLeftCmd(), VOXA_Get_SoftQueueLeftCmd());
  s += Fmt("\"age\":%d,\"ageStatus\":%d,\"drops\":%u,", Feed::AgeMs(CURPOS), Feed::AgeMs(AXISSTATUS),
           Feed::Drops());
  s += Fmt("\"gin\":%u,\"gout\":%u,", static_cast<unsigned>(VOXA_Get_GIn()), static_cast<unsigned>(VOXA_Get_GOut()));
  s += "\"axes\":[";
  for (int a = 0; a < 8; ++a) {
    const int m = 1 << a;
    const int flags = (VOXA_Is_LimitL(m) ? 1 : 0) | (VOXA_Is_LimitH(m) ? 2 : 0) | (VOXA_Is_SoftLimitL(m) ? 4 : 0) |
                      (VOXA_Is_SoftLimitH(m) ? 8 : 0) | (VOXA_Is_AlarmAxis(m) ? 16 : 0) |
                      (VOXA_Is_ServoOn(m) ? 32 : 0);
    s += Fmt("%s[%d,%d,%d,%d]", a ? "," : "", VOXA_Get_CurPos(m), VOXA_Get_EncPos(m), VOXA_Get_CurVelAxis(m), flags);
  }
  s += "],\"s\":[" + samples + "]}";
  return s;
}

// Takes every report as it comes (a scope sample each) and pushes the
// state to the browsers: a report that comes kPushInterval or more after
// the last push goes out at once; one that comes sooner waits for the next
// report, or for kPushLate when none comes. Periodic reports thus reach the
// page without waiting, at most every kPushInterval.
void Panel::Publish() {
  auto last_push = Clock::now() - kQuietPush;
  std::string samples;
  uint64_t report_us = NowUs();
  bool dirty = false;
  while (!quit_.load()) {
    const auto deadline = last_push + (dirty ? kPushLate : kQuietPush);
    Report r;
    bool fresh = false;
    if (feed_.WaitReport(r, deadline)) {
      std::lock_guard<std::mutex> g(board_mu_);
      if (r.registers & (1u << CURPOS)) {
        if (!samples.empty()) samples += ",";
        samples += Sample(r.time_us);
      }
      // Replies to the library's polls of settings registers wait for the
      // next state report or the quiet push.
      if (r.registers & kLiveRegisters) {
        report_us = r.time_us;
        dirty = fresh = true;
      }
      ReportCompletions();
    }
    bool link_changed = false;
    for (const Feed::LinkChange& change : feed_.TakeLinkChanges()) {
      hub_.Send("link", "{\"text\":" + JsonString(change.text) + "}");
      dirty = fresh = link_changed = true;
      if (change.state == VOXA_LINK_DOWN || change.state == VOXA_LINK_RECONNECTING) {
        // The scope shows where its record was cut: a gap sample.
        const double t = (static_cast<double>(NowUs()) - static_cast<double>(start_us_)) / 1000.0;
        if (!samples.empty()) samples += ",";
        samples += Fmt("[%.1f,", t) + JsonString(change.text) + "]";
        // A jog does not outlive the link it was held over.
        jogs_.StopAll("the link to the board was lost");
      }
    }
    jogs_.Poke(link_changed);
    if (quit_.load()) break;
    const auto now = Clock::now();
    const bool due = fresh ? now >= last_push + kPushInterval : now >= deadline;
    if (!due) continue;
    std::string json;
    {
      std::lock_guard<std::mutex> g(board_mu_);
      json = Snapshot(dirty ? report_us : NowUs(), samples);
    }
    hub_.Send("state", json);
    samples.clear();
    dirty = false;
    last_push = now;
  }
}

// The frame trace, to the pages that show it, in batches of kTraceInterval.
void Panel::TraceFrames() {
  const uint64_t start_us = start_us_;
  std::deque<TracedFrame> frames;
  while (!quit_.load() && session_.Pause(Clock::now() + kTraceInterval)) {
    const uint64_t dropped = session_.TakeFrames(frames, Clock::now() + Ms(250));
    if (frames.empty() && !dropped) continue;
    if (!hub_.HasTraceClients()) {
      frames.clear();
      continue;
    }
    std::string json = "[";
    bool first = true;
    for (const TracedFrame& f : frames) {
      const int n = static_cast<int>(f.bytes.size());
      const auto t_us = std::chrono::duration_cast<std::chrono::microseconds>(f.time.time_since_epoch()).count();
      const double t = (static_cast<double>(t_us) - static_cast<double>(start_us)) / 1e6;
      json += Fmt("%s[%.6f,%d,%d,", first ? "" : ",", t, f.direction == kSent ? 0 : 1,
                  IsPollTraffic(f.direction, f.bytes.data(), n) ? 1 : 0);
      json += JsonString(DescribeFrame(f.direction, f.bytes.data(), n)) + "," +
              JsonString(HexBytes(f.bytes.data(), n)) + "]";
      first = false;
    }
    json += "]";
    frames.clear();
    hub_.Send("trace", Fmt("{\"dropped\":%" PRIu64 ",\"frames\":", dropped) + json + "}", true);
  }
}

// ---------------------------------------------------------------- requests

// Every request: a Host of ours (a rebound DNS name is not), no foreign
// Origin (a page of another site in the same browser is not us), and the
// token, in the first URL or the cookie set from it.
bool Panel::Allowed(const httplib::Request& req, httplib::Response& res) {
  auto refuse = [&](int status, const std::string& why) {
    res.status = status;
    res.set_content(why + "\n", "text/plain; charset=utf-8");
    return false;
  };
  const std::string host = req.get_header_value("Host");
  bool host_ok = std::find(hosts_.begin(), hosts_.end(), host) != hosts_.end();
  if (!host_ok && any_ip_host_) {
    const size_t colon = host.rfind(':');
    host_ok = colon != std::string::npos && host.substr(colon + 1) == std::to_string(port_) &&
              IsIpLiteral(host.substr(0, colon));
  }
  if (!host_ok) return refuse(403, "refused: the Host '" + host + "' is not this panel's address");
  if (req.has_header("Origin") && req.get_header_value("Origin") != "http://" + host)
    return refuse(403, "refused: requests from another site (Origin '" + req.get_header_value("Origin") + "')");
  if (req.has_header("Sec-Fetch-Site")) {
    const std::string site = req.get_header_value("Sec-Fetch-Site");
    if (site != "same-origin" && site != "none") return refuse(403, "refused: requests from another site");
  }
  if (req.has_param("token")) {
    if (!SameSecret(req.get_param_value("token"), opt_.token)) return refuse(401, "refused: wrong access token");
    if (req.method == "GET" && req.path == "/") {
      // Into the cookie, and out of the address bar and the history.
      res.set_header("Set-Cookie", CookieName() + "=" + opt_.token + "; Path=/; HttpOnly; SameSite=Strict");
      res.set_redirect("/", 303);
      return false;
    }
    return true;
  }
  if (!SameSecret(CookieValue(req.get_header_value("Cookie"), CookieName()), opt_.token))
    return refuse(401, "refused: this needs the access token; open the address voxactl panel printed");
  return true;
}

std::string JsonAnswer(const Answer& a) {
  return "{\"ok\":" + std::string(a.status == 200 ? "true" : "false") + ",\"text\":" + JsonString(a.text) + "}";
}

std::optional<int> IntParam(const httplib::Request& req, const char* name, int lo, int hi) {
  if (!req.has_param(name)) return std::nullopt;
  const std::string v = req.get_param_value(name);
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || errno != 0 || n < lo || n > hi) return std::nullopt;
  return static_cast<int>(n);
}

Answer Panel::Act(const std::string& name, const httplib::Request& req) {
  auto bad = [](const std::string& why) { return Answer{400, why}; };
  const auto axis = IntParam(req, "axis", 0, 7);
  const int mask = axis ? 1 << *axis : 0;
  auto need_axis = [&]() { return axis.has_value(); };
  if (name == "stop") return Call("VOXA_DecStop", [] { return VOXA_DecStop() != 0; });
  if (name == "estop") return Call("VOXA_EStop", [] { return VOXA_EStop(1) != 0; });
  if (name == "alarmreset") {
    // Nothing asked for before (or during) the alarm runs once it is reset:
    // both queues are cleared first.
    Answer a = Call("the reset", [] { return VOXA_Clr_Queue() && VOXA_AlarmReset() && VOXA_Resume(); });
    if (a.status == 200)
      a.text = "queues cleared (the host's and the board's), then the alarm reset and execution resumed";
    return a;
  }
  if (name == "resume") return Call("VOXA_Resume", [] { return VOXA_Resume() != 0; });
  if (name == "jog") {
    const auto dir = IntParam(req, "dir", -1, 1);
    const auto vel = IntParam(req, "vel", 1, 1000000);
    const auto client = IntParam(req, "client", 1, INT32_MAX);
    const auto press = IntParam(req, "press", 1, INT32_MAX);
    if (!need_axis() || !dir || *dir == 0 || !vel || !client || !press)
      return bad("jog takes axis (0..7), dir (1 or -1), vel (1..1000000), client and press");
    const auto c = static_cast<uint64_t>(*client), p = static_cast<uint64_t>(*press);
    if (!hub_.Has(c)) return Answer{409, "jog refused: the page's live stream is closed"};
    switch (jogs_.Hold(*axis, *dir, c, p)) {
      case Jogs::Press::kRenewed: return Answer{200, "jog held"};
      case Jogs::Press::kRefused: return Answer{409, "jog refused: this press has ended; press again"};
      case Jogs::Press::kStart: break;
    }
    // The start goes out immediate, ahead of any queued motion.
    Answer a = Motion("jog", [&] { return VOXA_Spindle(mask, *dir * *vel) != 0; });
    if (a.status != 200) jogs_.Failed(*axis, c, p);
    return a;
  }
  if (name == "jogstop") {
    if (!need_axis()) return bad("jogstop takes axis (0..7), and the client and press it ends");
    const auto client = IntParam(req, "client", 1, INT32_MAX);
    const auto press = IntParam(req, "press", 1, INT32_MAX);
    Answer a = Call("VOXA_Spindle", [&] { return VOXA_Spindle(mask, 0) != 0; });
    // Sent again until the board reports the axis at rest.
    jogs_.Release(*axis, client ? static_cast<uint64_t>(*client) : 0, press ? static_cast<uint64_t>(*press) : 0,
                  "released");
    return a;
  }
  if (name == "simfault") {
    // Faults of the simulated board, to see what the panel does about them.
    const auto silent = IntParam(req, "silent", 1, 60000);
    if (!opt_.sim_fault) return Answer{404, "simfault: the board is not simulated"};
    if (req.has_param("drop")) return Answer{200, opt_.sim_fault("drop", 0)};
    if (silent) return Answer{200, opt_.sim_fault("silent", *silent)};
    return bad("simfault takes drop=1 or silent=MS");
  }
  if (name == "move") {
    const auto pos = IntParam(req, "pos", INT32_MIN, INT32_MAX);
    const auto vel = IntParam(req, "vel", 1, 65535);
    if (!need_axis() || !pos) return bad("move takes axis (0..7), pos and optionally vel (1..65535)");
    int values[8] = {};
    values[*axis] = *pos;
    return TaggedMotion("VOXA_CMove", Fmt("move of axis %d to %d", *axis, *pos), mask, [&] {
      return (!vel || VOXA_Set_DriveVelAxis(mask, *vel)) && VOXA_CMove(mask, values) != 0;
    });
  }
  if (name == "home") {
    const auto vel = IntParam(req, "vel", 1, 65535);
    if (!need_axis()) return bad("home takes axis (0..7) and optionally vel (1..65535)");
    return TaggedMotion("VOXA_Home", Fmt("home of axis %d", *axis), mask,
                        [&] { return (!vel || VOXA_Set_HomeSeekVel(mask, *vel)) && VOXA_Home(mask, 0) != 0; });
  }
  if (name == "servo") {
    const auto on = IntParam(req, "on", 0, 1);
    if (!need_axis() || !on) return bad("servo takes axis (0..7) and on (0 or 1)");
    return Call("VOXA_Set_ServoOn", [&] { return VOXA_Set_ServoOn(mask, *on) != 0; });
  }
  if (name == "output") {
    const auto bit = IntParam(req, "bit", 0, 31);
    const auto on = IntParam(req, "on", 0, 1);
    if (!bit) return bad("output takes bit (0..31) and optionally on (0 or 1; toggles without)");
    return Call("VOXA_Set_GOut", [&] {
      const uint32_t now = static_cast<uint32_t>(VOXA_Get_GOut());
      const uint32_t b = 1u << *bit;
      const bool set = on ? *on == 1 : (now & b) == 0;
      return VOXA_Set_GOut(static_cast<int>(set ? now | b : now & ~b)) != 0;
    });
  }
  return Answer{404, "no action '" + name + "'"};
}

std::string Panel::Hello(uint64_t client) {
  char dll[64] = "";
  VOXA_Get_DllVer(dll, static_cast<int>(sizeof dll));
  return Fmt("{\"client\":%" PRIu64 ",\"board\":", client) + JsonString(board_text_) +
         ",\"library\":" + JsonString(dll) + Fmt(",\"jogLeaseMs\":%d}", static_cast<int>(Jogs::kLease.count()));
}

void Panel::Stream(const httplib::Request&, httplib::Response& res, bool trace) {
  auto client = hub_.Add(trace);
  {
    std::lock_guard<std::mutex> g(board_mu_);
    hub_.SendTo(*client, "hello", Hello(client->id));
  }
  res.set_header("Cache-Control", "no-store");
  res.set_header("X-Accel-Buffering", "no");
  res.set_chunked_content_provider(
      "text/event-stream",
      [this, client](size_t, httplib::DataSink& sink) {
        std::string chunk;
        if (!hub_.Next(*client, chunk, kKeepAlive) || quit_.load()) {
          sink.done();
          return true;
        }
        return sink.is_writable() && sink.write(chunk.data(), chunk.size());
      },
      [this, client](bool) {
        hub_.Remove(client->id);
        jogs_.Gone(client->id);
      });
}

void Panel::Routes(httplib::Server& svr) {
  svr.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    return Allowed(req, res) ? httplib::Server::HandlerResponse::Unhandled : httplib::Server::HandlerResponse::Handled;
  });
  svr.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
                   "img-src 'self' data: blob:; frame-ancestors 'none'; form-action 'none'; base-uri 'none'");
    res.set_content(reinterpret_cast<const char*>(kPage), sizeof kPage - 1, "text/html; charset=utf-8");
  });
  svr.Get("/events", [this](const httplib::Request& req, httplib::Response& res) { Stream(req, res, false); });
  svr.Get("/trace", [this](const httplib::Request& req, httplib::Response& res) { Stream(req, res, true); });
  svr.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) {
    std::string json;
    {
      std::lock_guard<std::mutex> g(board_mu_);
      json = Snapshot(NowUs(), "");
    }
    res.set_content(json, "application/json");
  });
  svr.Get("/api/config", [this](const httplib::Request&, httplib::Response& res) {
    char path[] = "/tmp/voxa-panel-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
      res.status = 500;
      res.set_content(JsonAnswer({500, "cannot make a temporary file"}), "application/json");
      return;
    }
    close(fd);
    const Answer a = Call("VOXA_Save_ConfigFile", [&] { return VOXA_Save_ConfigFile(path) != 0; });
    std::ifstream in(path, std::ios::binary);
    std::stringstream body;
    body << in.rdbuf();
    std::remove(path);
    if (a.status != 200) {
      res.status = a.status;
      res.set_content(JsonAnswer(a), "application/json");
      return;
    }
    res.set_header("Content-Disposition", "attachment; filename=\"board.ini\"");
    res.set_content(body.str(), "text/plain; charset=utf-8");
  });
  svr.Post("/api/config", [this](const httplib::Request& req, httplib::Response& res) {
    std::unique_lock<std::mutex> one(load_mu_, std::try_to_lock);
    if (!one.owns_lock()) {
      res.status = 409;
      res.set_content(JsonAnswer({409, "a configuration load is already running"}), "application/json");
      return;
    }
    char path[] = "/tmp/voxa-panel-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, req.body.data(), req.body.size()) != static_cast<ssize_t>(req.body.size())) {
      if (fd >= 0) close(fd), std::remove(path);
      res.status = 500;
      res.set_content(JsonAnswer({500, "cannot write a temporary file"}), "application/json");
      return;
    }
    close(fd);
    // The load writes every register word: the pages see it go.
    std::atomic<bool> done{false};
    const uint64_t base = session_.ConfigWrites();
    std::thread progress([&] {
      uint64_t seen = base;
      while (!done.load()) {
        seen = session_.WaitConfigWrites(seen, done, Clock::now() + Ms(50));
        const int percent = static_cast<int>(std::min<uint64_t>(99, (seen - base) * 100 / 256));
        hub_.Send("load", Fmt("{\"percent\":%d}", percent));
      }
    });
    const Answer a = Call("VOXA_Load_ConfigFile", [&] { return VOXA_Load_ConfigFile(path) != 0; });
    done.store(true);
    session_.WakeAll();
    progress.join();
    std::remove(path);
    hub_.Send("load", Fmt("{\"percent\":%d}", a.status == 200 ? 100 : -1));
    res.status = a.status;
    res.set_content(JsonAnswer(a.status == 200 ? Answer{200, "configuration loaded"} : a), "application/json");
  });
  svr.Post(R"(/api/([a-z]+))", [this](const httplib::Request& req, httplib::Response& res) {
    const Answer a = Act(req.matches[1], req);
    res.status = a.status;
    res.set_content(JsonAnswer(a), "application/json");
  });
  // Actions move machines: never on a GET.
  svr.Get(R"(/api/([a-z]+))", [](const httplib::Request&, httplib::Response& res) {
    res.status = 405;
    res.set_header("Allow", "POST");
    res.set_content(JsonAnswer({405, "actions are POST only"}), "application/json");
  });
  svr.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
}

int Panel::Run() {
  HttpServer svr;
  svr.set_payload_max_length(kMaxBody);
  svr.set_read_timeout(5);
  svr.set_write_timeout(5);
  Routes(svr);
  GateLimits limits;
  limits.max_body = kMaxBody;
  limits.workers = kServerThreads;
  Gate gate(svr, limits);
  std::string why;
  port_ = gate.Bind(opt_.host, opt_.port, why);
  if (port_ == 0) {
    std::fprintf(stderr, "voxactl: cannot listen on %s:%d: %s (in use? try --listen 127.0.0.1:0 for any free port)\n",
                 opt_.host.c_str(), opt_.port, why.c_str());
    return 1;
  }
  const std::string p = std::to_string(port_);
  const bool v6 = opt_.host.find(':') != std::string::npos;
  // The host as it stands in a URL or a Host header.
  const std::string in_url = v6 ? "[" + opt_.host + "]" : opt_.host == "localhost" ? "127.0.0.1" : opt_.host;
  hosts_ = {"127.0.0.1:" + p, "localhost:" + p, "[::1]:" + p, in_url + ":" + p};
  const bool loopback = IsLoopbackHost(opt_.host);
  if (opt_.host == "0.0.0.0" || opt_.host == "::") {
    any_ip_host_ = true;
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) == 0 && name[0]) hosts_.push_back(std::string(name) + ":" + p);
  }
  // A URL that works from this machine (for 0.0.0.0 the reader puts in the
  // machine's name).
  const std::string shown = opt_.host == "0.0.0.0" ? "THIS-MACHINE" : opt_.host == "::" ? "[::1]" : in_url;
  std::printf("voxactl panel: board %s\n", board_text_.c_str());
  if (!loopback)
    std::printf(
        "voxactl panel: listening on %s:%d, reachable from other machines: whoever has the address below can "
        "move the machine\n",
        in_url.c_str(), port_);
  std::printf("voxactl panel: open http://%s:%d/?token=%s\n", shown.c_str(), port_, opt_.token.c_str());
  std::printf("voxactl panel: Ctrl-C ends it\n");
  std::fflush(stdout);

  std::thread publisher([this] {
    pthread_setname_np(pthread_self(), "panel-publish");
    Publish();
  });
  std::thread tracer([this] {
    pthread_setname_np(pthread_self(), "panel-trace");
    TraceFrames();
  });
  std::thread server([&] {
    pthread_setname_np(pthread_self(), "panel-gate");
    gate.Run();
  });
  while (session_.Pause(Clock::now() + std::chrono::hours(1))) {
  }
  // No jog outlives the panel: they stop first, and the board is given a
  // moment to report them at rest.
  jogs_.StopAll("the panel ends");
  const bool settled = jogs_.WaitSettled(Clock::now() + Ms(1500));
  if (!settled) std::fprintf(stderr, "voxactl: a jog's stop was not confirmed by the board before the panel ended\n");
  quit_.store(true);
  feed_.Stop();
  hub_.CloseAll();
  gate.Stop();
  server.join();
  publisher.join();
  tracer.join();
  return 0;
}

}  // namespace

bool IsLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

std::string JsonString(const std::string& text) {
  std::string s = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': s += "\\\""; break;
      case '\\': s += "\\\\"; break;
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\t': s += "\\t"; break;
      default:
        if (c < 0x20 || c == '<' || c == '>' || c == '&')
          s += Fmt("\\u%04x", c);
        else
          s += static_cast<char>(c);
    }
  }
  return s + "\"";
}

int Serve(Session& session, Feed& feed, const Options& options, const std::string& board_text) {
  Panel panel(session, feed, options, board_text);
  return panel.Run();
}

}  // namespace voxactl::panel
