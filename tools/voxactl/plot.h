// `voxactl plot`: a recording (CSV) as an SVG picture.
#pragma once

#include <string>
#include <vector>

namespace voxactl {

// `plot` needs no board: the whole command.
int RunPlot(const std::vector<std::string>& args);

// ---- the pieces, for tests ----

// A recording read back: column names and rows of numbers.
struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<double>> rows;
  std::vector<size_t> cuts;  // rows before which the record was cut (a gap)
  int Column(const std::string& name) const;
};

bool ReadCsv(const std::string& path, Table& table, std::string& error);
// Time panels, one per signal (pos, vel, enc, status) with a line per axis.
std::string TimeSvg(const Table& table);
// The path of axis `x` against axis `y` (positions), at equal scale.
std::string XySvg(const Table& table, int x, int y, std::string& error);

}  // namespace voxactl
