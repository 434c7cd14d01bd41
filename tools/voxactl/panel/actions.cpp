// The panel's requests that act on the board: the routes, the actions
// (stops, jogs, moves, homing, servo and outputs, simulated faults) and the
// configuration download and load.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "panel_page.h"
#include "server_panel.h"

namespace voxactl::panel {

std::string JsonAnswer(const Answer& a) {
  return "{\"ok\":" + std::string(a.status == 200 ? "true" : "false") + ",\"text\":" + JsonString(a.text) + "}";
}

static std::optional<int> IntParam(const httplib::Request& req, const char* name, int lo, int hi) {
  if (!req.has_param(name)) return std::nullopt;
  const std::string v = req.get_param_value(name);
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || errno != 0 || n < lo || n > hi) return std::nullopt;
  return static_cast<int>(n);
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

}  // namespace voxactl::panel
