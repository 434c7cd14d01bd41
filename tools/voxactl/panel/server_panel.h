// The panel's server, shared by its two files: server.cpp (the live
// stream, the trace and the run) and actions.cpp (the requests that act on
// the board).
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "../session.h"
#include "feed.h"
#include "hub.h"
#include "jogs.h"
#include "server.h"
#include "voxa/voxa.h"

namespace voxactl::panel {

using Ms = std::chrono::milliseconds;

// printf into a string (at most 511 characters).
std::string Fmt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

struct Answer {
  int status = 200;
  std::string text;
};

class Panel {
 public:
  Panel(Session& s, Feed& feed, Options o, std::string board_text);
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

// An answer as the page takes it: {"ok":..., "text":...}.
std::string JsonAnswer(const Answer& a);

}  // namespace voxactl::panel
