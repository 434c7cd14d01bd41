// `voxactl record` and `voxactl plot`: the board's state reports as CSV,
// and CSV as an SVG picture.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "session.h"

namespace voxactl {

inline constexpr const char* kRecordUsage = "record [--signals pos,vel,enc,status] [--axes 0,1] [--duration S] [--state-ms MS] --csv FILE";
inline constexpr const char* kRecordHelp =
    "Records the board's state reports into FILE as CSV: the time in seconds since the first\n"
    "report, then one column per signal and axis (pos0, pos1, vel0, ...). Signals: pos\n"
    "(position, pulses), vel (velocity, pulses/s), enc (encoder, pulses), status (axis status\n"
    "bits); default pos,vel of axes 0,1. Switches the board's state packets on every MS\n"
    "(25, 50, 100, 200, 250, 500, 1000; default 25) and restores its settings afterwards;\n"
    "--state-ms 0 leaves them alone and records what the board reports by itself. Runs for\n"
    "S seconds or until Ctrl-C, keeps what was recorded either way and prints a summary\n"
    "(samples, mean period, gaps). A sample is a state report that carries the chip status\n"
    "and every asked signal. When the link is lost (the board closed it, fell silent, or\n"
    "serves another host), the recording ends there, keeps what it has, says how long it\n"
    "ran and why, and fails.";
inline constexpr const char* kPlotUsage = "plot FILE.csv --svg OUT.svg [--xy AXIS,AXIS]";
inline constexpr const char* kPlotHelp =
    "Draws a recording of `record` as an SVG picture: one panel per signal over time, a line\n"
    "per axis. With --xy X,Y the path of axis Y's position against axis X's instead, at equal\n"
    "scale. Needs no board.";

// Checks the arguments of `record`; what to do once the board is open, or
// an empty function after printing the usage error.
std::function<int(Session&)> ParseRecord(const std::vector<std::string>& args);

// `plot` needs no board: the whole command.
int RunPlot(const std::vector<std::string>& args);

// ---- the pieces, for tests ----

// A recording read back: column names and rows of numbers.
struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<double>> rows;
  int Column(const std::string& name) const;
};

bool ReadCsv(const std::string& path, Table& table, std::string& error);
// Time panels, one per signal (pos, vel, enc, status) with a line per axis.
std::string TimeSvg(const Table& table);
// The path of axis `x` against axis `y` (positions), at equal scale.
std::string XySvg(const Table& table, int x, int y, std::string& error);

}  // namespace voxactl
