// The panel's live side: the board's state streamed to the pages, the frame
// trace, the checks every request passes, and the run until Ctrl-C.
#include "server_panel.h"

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
#include "voxa/voxa.h"

namespace voxactl::panel {
namespace {

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
constexpr int kServerThreads = 48;
// The largest request body (a configuration file is some 20 KiB).
constexpr size_t kMaxBody = 1u << 20;

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

}  // namespace

std::string Fmt(const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

Panel::Panel(Session& s, Feed& feed, Options o, std::string board_text)
    : session_(s), feed_(feed), opt_(std::move(o)), board_text_(std::move(board_text)),
      jogs_(Jogs::Board{[this](int axis) { return StopJog(axis); }, [this](int axis) { return SeenAxis(axis); },
                        [this](const std::string& text) { Note(text); }}) {
  if (opt_.token.empty()) opt_.token = RandomToken();
  start_us_ = NowUs();
}

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

static std::string NumberList(const int* v, int n) {
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
