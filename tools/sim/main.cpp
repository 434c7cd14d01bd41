// voxa-sim: the simulated board as a program.
//
//   voxa-sim                 listen on 127.0.0.1:1000 (the board's port; an
//                            ephemeral port when 1000 cannot be had)
//   voxa-sim --port 5000     listen on 127.0.0.1:5000 (0: ephemeral)
//   voxa-sim --pty           serve a pseudo-terminal as a serial board
//   voxa-sim --engine 2.05   report engine version 2.05 (old-engine handling)
//   voxa-sim --trace         print every frame
//   voxa-sim --host-watchdog 500   stop every axis when the host is silent 500 ms
//   voxa-sim --hand-over     a new connection takes the board from the host
//                            it serves (default: turned away while that host is live)
//
// Prints where it can be reached on the first line of standard output and
// runs until interrupted (SIGINT or SIGTERM).
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "sim.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnSignal(int) { g_stop.store(true); }

void Usage() {
  std::fprintf(stderr,
               "usage: voxa-sim [--port N | --pty] [--engine MAJOR.MINOR] [--tick MS] [--no-heartbeat]\n"
               "                [--host-watchdog MS] [--hand-over] [--trace]\n");
}

}  // namespace

int main(int argc, char** argv) {
  voxa_sim::SimOptions opt;
  bool pty = false;
  int port = -1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) {
        Usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--port") {
      port = std::atoi(next());
    } else if (a == "--pty") {
      pty = true;
    } else if (a == "--engine") {
      int major = 0, minor = 0;
      if (std::sscanf(next(), "%d.%d", &major, &minor) != 2) {
        Usage();
        return 2;
      }
      opt.engine_major = major;
      opt.engine_minor = minor;
    } else if (a == "--tick") {
      opt.tick_ms = static_cast<uint32_t>(std::atoi(next()));
    } else if (a == "--no-heartbeat") {
      opt.heartbeat = false;
    } else if (a == "--host-watchdog") {
      const char* v = next();
      char* end = nullptr;
      const long ms = std::strtol(v, &end, 10);
      if (*v == '\0' || *end != '\0' || ms < 0 || ms > 3600000) {
        Usage();
        return 2;
      }
      opt.host_watchdog_ms = static_cast<uint32_t>(ms);
    } else if (a == "--hand-over") {
      opt.hand_over = true;
    } else if (a == "--trace") {
      opt.trace = true;
    } else if (a == "-h" || a == "--help") {
      Usage();
      return 0;
    } else {
      Usage();
      return 2;
    }
  }

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  std::unique_ptr<voxa_sim::SimBoard> sim;
  if (pty) {
    sim = voxa_sim::SimBoard::StartPty(opt);
    if (!sim) {
      std::fprintf(stderr, "voxa-sim: cannot open a pseudo-terminal\n");
      return 1;
    }
    std::printf("voxa-sim: serial board on %s\n", sim->DevicePath().c_str());
  } else {
    sim = voxa_sim::SimBoard::StartTcp(static_cast<uint16_t>(port < 0 ? 1000 : port), opt);
    if (!sim && port < 0) sim = voxa_sim::SimBoard::StartTcp(0, opt);
    if (!sim) {
      std::fprintf(stderr, "voxa-sim: cannot listen on 127.0.0.1:%d\n", port);
      return 1;
    }
    std::printf("voxa-sim: listening on 127.0.0.1:%u\n", sim->Port());
  }
  std::fflush(stdout);

  while (!g_stop.load()) voxa::platform::SleepMs(50);
  sim->Stop();
  auto st = sim->Stats();
  std::printf("voxa-sim: %llu frames in, %llu frames out, %llu connections, %llu turned away, %llu watchdog stops\n",
              static_cast<unsigned long long>(st.frames_in), static_cast<unsigned long long>(st.frames_out),
              static_cast<unsigned long long>(st.connections), static_cast<unsigned long long>(st.turned_away),
              static_cast<unsigned long long>(st.watchdog_stops));
  return 0;
}
