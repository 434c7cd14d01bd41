// The panel's HTTP side: the page, the live stream, the actions, and the
// checks every request passes.
#pragma once

#include <functional>
#include <string>

#include "feed.h"

namespace voxactl {
class Session;
}

namespace voxactl::panel {

struct Options {
  std::string host = "127.0.0.1";  // the address to listen on
  int port = 8080;                 // 0: any free port
  bool listen_given = false;       // --listen was on the command line
  std::string token;               // empty: a random one
  // A simulated board's faults ("drop": the connection; "silent": nothing
  // sent for ms); what was done, as text. Empty for a real board.
  std::function<std::string(const std::string& kind, int ms)> sim_fault;
};

// Serves the board open in `session` until Ctrl-C (or SIGTERM). Prints the
// address to open. Returns the exit code.
int Serve(Session& session, Feed& feed, const Options& options, const std::string& board_text);

// Helpers, for the tests too.
bool IsLoopbackHost(const std::string& host);
std::string JsonString(const std::string& text);

}  // namespace voxactl::panel
