// The table's entries of the panel, `record` and `plot`: their work is in
// panel/, record.cpp and plot.cpp.
#include "commands.h"
#ifndef VOXACTL_NO_PANEL
#include "panel/panel.h"
#endif
#include "plot.h"
#include "record.h"

namespace voxactl {
namespace {

Command CmdRecord(Args& args) {
  std::function<int(Session&)> run = ParseRecord(args.rest());
  return run ? Do(std::move(run)) : Bad(kExitUsage);
}

}  // namespace

std::span<const CommandSpec> RecordCommands() {
  static constexpr CommandSpec kCommands[] = {
#ifndef VOXACTL_NO_PANEL
      {.name = "panel",
       .usage = "panel [--sim] [--listen ADDR:PORT] [--state-ms MS]",
       .help = "Serves a page from which the board is watched and driven in a browser ('voxactl panel --help').",
       .whole = &RunPanel},
#endif
      {.name = "record",
       .usage = "record [--signals pos,vel,enc,status] [--axes 0,1] [--duration S] [--state-ms MS] --csv FILE",
       .help = "Records the board's state reports into FILE as CSV: the time in seconds since the first\n"
               "report, then one column per signal and axis (pos0, pos1, vel0, ...). Signals: pos\n"
               "(position, pulses), vel (velocity, pulses/s), enc (encoder, pulses), status (axis status\n"
               "bits); default pos,vel of axes 0,1. Switches the board's state packets on every MS\n"
               "(25, 50, 100, 200, 250, 500, 1000; default 25) and restores its settings afterwards;\n"
               "--state-ms 0 leaves them alone and records what the board reports by itself. Runs for\n"
               "S seconds or until Ctrl-C, keeps what was recorded either way and prints a summary\n"
               "(samples, mean period, gaps). A sample is a state report that carries the chip status\n"
               "and every asked signal. When the link is lost (the board closed it, fell silent, or\n"
               "serves another host), the recording ends there, keeps what it has, says how long it\n"
               "ran and why, and fails.",
       .parse = &CmdRecord},
      {.name = "plot",
       .usage = "plot FILE.csv --svg OUT.svg [--xy AXIS,AXIS]",
       .help = "Draws a recording of `record` as an SVG picture: one panel per signal over time, a line\n"
               "per axis. With --xy X,Y the path of axis Y's position against axis X's instead, at equal\n"
               "scale. Needs no board.",
       .offline = &RunPlot},
  };
  return kCommands;
}

}  // namespace voxactl
