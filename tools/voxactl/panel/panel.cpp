#include "panel.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "../session.h"
#include "feed.h"
#include "server.h"
#include "sim_c.h"
#include "voxa/voxa.h"

namespace voxactl {
namespace {

constexpr const char* kUsage =
    "usage: voxactl panel (--tcp ADDR[:PORT] | --serial DEV [--baud N] | --sim)\n"
    "                     [--listen ADDR:PORT] [--state-ms MS]\n"
    "\n"
    "Serves a page from which the board is watched and driven in a browser: axes, I/O,\n"
    "jog, moves, homing, stops, a scope, the frame trace, configuration save and load.\n"
    "Prints the address to open; it carries the access token.\n"
    "\n"
    "  --sim               a simulated board, started in this process\n"
    "  --listen ADDR:PORT  where to serve (default 127.0.0.1:8080; port 0: any free port).\n"
    "                      An address other than loopback makes the panel reachable from\n"
    "                      other machines: whoever has the printed address can move the machine.\n"
    "  --state-ms MS       the board's state report period: 25, 50, 100, 200, 250, 500 or\n"
    "                      1000 (default 25); with --sim any period from 1 to 1000 ms\n";

constexpr int kStateContents = 0x400 | 0x800 | 0x1000 | 0x2000 | 0x4000 | 0x8000;
constexpr int kSimContents = 0x01 | 0x02 | 0x04 | 0x08 | 0x10 | 0x20;

int Usage(const std::string& why) {
  std::fprintf(stderr, "voxactl: %s\n%s", why.c_str(), kUsage);
  return 2;
}

// ADDR:PORT, [V6]:PORT or ADDR (port 8080).
bool ParseListen(const std::string& text, panel::Options& o) {
  std::string host = text, port = "8080";
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      port = text.substr(close + 2);
    }
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    const size_t colon = text.find(':');
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  char* end = nullptr;
  const long p = std::strtol(port.c_str(), &end, 10);
  if (host.empty() || port.empty() || *end != '\0' || p < 0 || p > 65535) return false;
  o.host = host;
  o.port = static_cast<int>(p);
  return true;
}

int TimerSelector(long ms) {
  constexpr struct {
    int ms, selector;
  } kPeriods[] = {{25, 2}, {50, 3}, {100, 4}, {200, 5}, {250, 6}, {500, 7}, {1000, 8}};
  for (const auto& p : kPeriods)
    if (p.ms == ms) return p.selector;
  return 0;
}

}  // namespace

int RunPanel(int argc, char** argv) {
  std::string tcp, serial;
  int baud = 115200;
  bool sim_board = false;
  long state_ms = 25;
  panel::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      const size_t n = std::strlen(name);
      if (a == name) return i + 1 < argc ? argv[++i] : nullptr;
      if (a.compare(0, n, name) == 0 && a.size() > n && a[n] == '=') return argv[i] + n + 1;
      return nullptr;
    };
    auto is = [&](const char* name) { return a == name || a.rfind(std::string(name) + "=", 0) == 0; };
    if (a == "panel") continue;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--sim") {
      sim_board = true;
    } else if (is("--tcp")) {
      const char* v = value("--tcp");
      if (!v) return Usage("--tcp needs ADDR[:PORT]");
      tcp = v;
    } else if (is("--serial")) {
      const char* v = value("--serial");
      if (!v) return Usage("--serial needs a device");
      serial = v;
    } else if (is("--baud")) {
      const char* v = value("--baud");
      baud = v ? std::atoi(v) : 0;
      if (baud <= 0) return Usage("--baud needs a positive number");
    } else if (is("--listen")) {
      const char* v = value("--listen");
      if (!v || !ParseListen(v, options)) return Usage("--listen needs ADDR:PORT, e.g. 127.0.0.1:8080");
      options.listen_given = true;
    } else if (is("--state-ms")) {
      const char* v = value("--state-ms");
      char* end = nullptr;
      state_ms = v ? std::strtol(v, &end, 10) : 0;
      if (!v || *end != '\0' || state_ms < 1 || state_ms > 1000) return Usage("--state-ms needs a period in ms");
    } else {
      return Usage("unknown argument '" + a + "'");
    }
  }
  if ((tcp.empty() ? 0 : 1) + (serial.empty() ? 0 : 1) + (sim_board ? 1 : 0) != 1)
    return Usage("give one of --tcp ADDR[:PORT], --serial DEV and --sim");
  const int selector = TimerSelector(state_ms);
  if (!selector && !sim_board) return Usage("--state-ms takes 25, 50, 100, 200, 250, 500 or 1000 for a board");

  // A closed browser connection must end a write, not the program.
  signal(SIGPIPE, SIG_IGN);
  Session session;
  SignalWatch signals(session);
  session.StartCapture(false);
  panel::Feed feed;
  feed.Start();

  voxa_sim_board* sim = nullptr;
  bool opened = false;
  std::string board_text;
  auto open_tcp = [&](const std::string& text) {
    TcpAddress address;
    std::string error;
    if (!ParseTcpAddress(text, address, error)) {
      std::fprintf(stderr, "voxactl: %s\n", error.c_str());
      return false;
    }
    return session.OpenTcp(address);
  };
  if (sim_board) {
    sim = voxa_sim_start_tcp(0);
    if (!sim) {
      std::fprintf(stderr, "voxactl: cannot start the simulated board\n");
      return 1;
    }
    opened = open_tcp("127.0.0.1:" + std::to_string(voxa_sim_port(sim)));
    board_text = "simulated, " + session.Description();
  } else {
    opened = tcp.empty() ? session.OpenSerial(serial, baud) : open_tcp(tcp);
    board_text = session.Description();
  }
  int rc = 1;
  if (opened) {
    // The board reports its state at the period asked for; the simulated
    // board also at periods its timer does not have, driven from here.
    std::atomic<bool> clock_quit{false};
    std::thread clock;
    {
      VOXA_Enter_ImCmd();
      VOXA_Enable_CompleteStatePacket(1);
      if (selector)
        VOXA_Set_StateTimer(selector | kStateContents);
      VOXA_Leave_ImCmd();
    }
    if (!selector)
      clock = std::thread([&] {
        pthread_setname_np(pthread_self(), "sim-clock");
        auto next = panel::Clock::now();
        while (!clock_quit.load()) {
          voxa_sim_send_state_packet(sim, kSimContents);
          next += std::chrono::milliseconds(state_ms);
          std::this_thread::sleep_until(next);
        }
      });
    if (sim)
      options.sim_fault = [sim](const std::string& kind, int ms) -> std::string {
        if (kind == "drop") {
          voxa_sim_drop_connection(sim);
          return "the simulated board dropped the connection";
        }
        voxa_sim_go_silent(sim, static_cast<uint32_t>(ms));
        return "the simulated board is silent for " + std::to_string(ms) + " ms";
      };
    rc = panel::Serve(session, feed, options, board_text);
    clock_quit.store(true);
    if (clock.joinable()) clock.join();
    VOXA_Enter_ImCmd();
    VOXA_Clr_StateTimer(1 | kStateContents);
    VOXA_Leave_ImCmd();
  }
  feed.Stop();
  session.Close();
  voxa_sim_stop(sim);
  return rc;
}

}  // namespace voxactl
