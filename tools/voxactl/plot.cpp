// `voxactl plot`: a recording read back from CSV and drawn as SVG.
#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "commands.h"

namespace voxactl {

namespace {

// The axis labels of the signals `record` writes.
constexpr struct {
  const char* name;
  const char* label;
} kSignals[] = {
    {"pos", "position (pulses)"},
    {"vel", "velocity (pulses/s)"},
    {"enc", "encoder (pulses)"},
    {"status", "axis status (bits)"},
};

// ---------------------------------------------------------------- SVG

// About n round tick values (1, 2 or 5 times a power of ten) in [lo, hi].
std::vector<double> Ticks(double lo, double hi, int n) {
  const double raw = (hi - lo) / n;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  const double r = raw / mag;
  const double step = (r < 1.5 ? 1 : r < 3.5 ? 2 : r < 7.5 ? 5 : 10) * mag;
  std::vector<double> out;
  for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) out.push_back(std::abs(v) < step * 1e-9 ? 0 : v);
  return out;
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

struct Range {
  double lo = INFINITY, hi = -INFINITY;
  void Add(double v) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  // A flat or empty range gets some room.
  void Widen() {
    if (!(lo <= hi)) lo = 0, hi = 1;
    if (hi - lo < 1e-9) {
      const double pad = std::max(1.0, std::abs(lo) * 0.1);
      lo -= pad;
      hi += pad;
    }
  }
};

const char* const kColors[8] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#17becf"};

// A plot area: data coordinates map to the rectangle (x, y, w, h), y up.
struct Frame {
  double x, y, w, h;
  Range rx, ry;
  double sx() const { return w / (rx.hi - rx.lo); }
  double sy() const { return h / (ry.hi - ry.lo); }
  double X(double v) const { return x + (v - rx.lo) * sx(); }
  double Y(double v) const { return y + h - (v - ry.lo) * sy(); }
  // The series are drawn in data units through this transform, so the
  // path's numbers are the recorded values themselves.
  std::string Transform() const {
    return "matrix(" + Num(sx()) + " 0 0 " + Num(-sy()) + " " + Num(x - rx.lo * sx()) + " " +
           Num(y + h + ry.lo * sy()) + ")";
  }
};

void Axes(std::string& svg, const Frame& f, const std::string& xlabel, const std::string& ylabel) {
  svg += "<rect x=\"" + Num(f.x) + "\" y=\"" + Num(f.y) + "\" width=\"" + Num(f.w) + "\" height=\"" + Num(f.h) +
         "\" fill=\"none\" stroke=\"#444\"/>\n";
  for (double t : Ticks(f.rx.lo, f.rx.hi, 8)) {
    const std::string x = Num(f.X(t));
    svg += "<line x1=\"" + x + "\" y1=\"" + Num(f.y) + "\" x2=\"" + x + "\" y2=\"" + Num(f.y + f.h) +
           "\" stroke=\"#ddd\"/>\n<text class=\"tick\" x=\"" + x + "\" y=\"" + Num(f.y + f.h + 16) +
           "\" text-anchor=\"middle\">" + Num(t) + "</text>\n";
  }
  for (double t : Ticks(f.ry.lo, f.ry.hi, 5)) {
    const std::string y = Num(f.Y(t));
    svg += "<line x1=\"" + Num(f.x) + "\" y1=\"" + y + "\" x2=\"" + Num(f.x + f.w) + "\" y2=\"" + y +
           "\" stroke=\"#ddd\"/>\n<text class=\"tick\" x=\"" + Num(f.x - 6) + "\" y=\"" + Num(f.Y(t) + 4) +
           "\" text-anchor=\"end\">" + Num(t) + "</text>\n";
  }
  svg += "<text class=\"label\" x=\"" + Num(f.x + f.w / 2) + "\" y=\"" + Num(f.y + f.h + 36) +
         "\" text-anchor=\"middle\">" + xlabel + "</text>\n";
  svg += "<text class=\"label\" transform=\"translate(" + Num(f.x - 62) + " " + Num(f.y + f.h / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">" + ylabel + "</text>\n";
}

// A line through the points; it is lifted before each row in `cuts` (where
// a recording lost the link).
void Series(std::string& svg, const Frame& f, const std::string& name, const char* color,
            const std::vector<std::pair<double, double>>& points, const std::vector<size_t>& cuts) {
  svg += "<path class=\"series\" data-series=\"" + name + "\" transform=\"" + f.Transform() +
         "\" vector-effect=\"non-scaling-stroke\" fill=\"none\" stroke=\"" + color +
         "\" stroke-width=\"1.5\" stroke-linejoin=\"round\" d=\"";
  char buf[64];
  for (size_t i = 0; i < points.size(); ++i) {
    const bool lift = i == 0 || std::find(cuts.begin(), cuts.end(), i) != cuts.end();
    std::snprintf(buf, sizeof buf, "%s%.6g %.9g", lift ? (i == 0 ? "M" : " M") : " L", points[i].first,
                  points[i].second);
    svg += buf;
  }
  svg += "\"/>\n";
}

std::string Head(double w, double h, const std::string& title) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(w) +
         "\" height=\"" + Num(h) + "\" viewBox=\"0 0 " + Num(w) + " " + Num(h) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n<title>" + title + "</title>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

// The signal of a column named like "pos3", and its axis.
bool SplitColumn(const std::string& name, std::string& signal, int& axis) {
  size_t d = name.size();
  while (d > 0 && std::isdigit(static_cast<unsigned char>(name[d - 1]))) --d;
  if (d == 0 || d == name.size()) return false;
  signal = name.substr(0, d);
  axis = std::atoi(name.c_str() + d);
  return true;
}

int RunPlotCommand(std::vector<std::string> args) {
  std::string error;
  const auto svg_path = TakeOption(args, "--svg", error);
  const auto xy = TakeOption(args, "--xy", error);
  if (!error.empty()) return UsageError(error, "plot");
  if (!svg_path) return UsageError("--svg OUT.svg is missing", "plot");
  for (const std::string& a : args)
    if (a.size() > 1 && a[0] == '-') return UsageError("unknown option " + a, "plot");
  if (args.size() != 1) return UsageError(args.empty() ? "FILE.csv is missing" : "too many arguments", "plot");
  int ax = -1, ay = -1;
  if (xy) {
    const auto parts = SplitText(*xy, ',');
    if (parts.size() != 2 || parts[0].empty() || parts[1].empty() ||
        parts[0].find_first_not_of("01234567") != std::string::npos ||
        parts[1].find_first_not_of("01234567") != std::string::npos || parts[0].size() > 1 || parts[1].size() > 1)
      return UsageError("--xy takes two axes 0..7, as X,Y", "plot");
    ax = std::stoi(parts[0]);
    ay = std::stoi(parts[1]);
  }
  Table table;
  if (!ReadCsv(args[0], table, error)) {
    std::fprintf(stderr, "voxactl: %s\n", error.c_str());
    return kExitFailed;
  }
  std::string svg = xy ? XySvg(table, ax, ay, error) : TimeSvg(table);
  if (svg.empty()) {
    std::fprintf(stderr, "voxactl: %s\n", error.c_str());
    return kExitFailed;
  }
  std::ofstream out(*svg_path, std::ios::binary);
  out << svg;
  out.close();
  if (!out) {
    std::fprintf(stderr, "voxactl: cannot write %s\n", svg_path->c_str());
    return kExitFailed;
  }
  std::printf("wrote %s\n", svg_path->c_str());
  return kExitOk;
}

}  // namespace

int Table::Column(const std::string& name) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i] == name) return static_cast<int>(i);
  return -1;
}

bool ReadCsv(const std::string& path, Table& table, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  // Line ends LF or CRLF; a UTF-8 byte-order mark is passed over.
  auto next = [&] {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  };
  if (next() && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
  if (line.empty() || (table.columns = SplitText(line, ',')).empty() || table.columns[0] != "time_s") {
    error = path + " is not a recording (its first line must start with time_s)";
    return false;
  }
  // The panel's last column, gap, is empty but on the rows where the record
  // was cut: those rows carry no values, the line is lifted there.
  const bool gaps = table.columns.size() > 1 && table.columns.back() == "gap";
  if (gaps) table.columns.pop_back();
  for (int n = 2; next(); ++n) {
    if (line.empty()) continue;
    auto cells = SplitText(line, ',');
    if (gaps && cells.size() == table.columns.size() + 1) {
      const bool cut = !cells.back().empty();
      cells.pop_back();
      if (cut) {
        table.cuts.push_back(table.rows.size());
        continue;
      }
    }
    std::vector<double> row(cells.size());
    bool ok = cells.size() == table.columns.size();
    for (size_t i = 0; ok && i < cells.size(); ++i) ok = ParseNumber(cells[i], row[i]);
    if (!ok) {
      error = path + ":" + std::to_string(n) + ": expected " + std::to_string(table.columns.size()) + " numbers";
      return false;
    }
    table.rows.push_back(std::move(row));
  }
  return true;
}

std::string TimeSvg(const Table& t) {
  // Panels in the order the signals first appear.
  std::vector<std::string> signals;
  for (size_t c = 1; c < t.columns.size(); ++c) {
    std::string sig;
    int axis;
    if (SplitColumn(t.columns[c], sig, axis) && std::find(signals.begin(), signals.end(), sig) == signals.end())
      signals.push_back(sig);
  }
  constexpr double kW = 900, kPanel = 240, kLeft = 90, kRight = 110, kTop = 36, kBottom = 56;
  const double height = kTop + static_cast<double>(signals.size()) * (kPanel + kBottom) + 8;
  std::string svg = Head(kW, height, "recording");
  Range rt;
  for (const auto& row : t.rows) rt.Add(row[0]);
  rt.Widen();
  for (size_t p = 0; p < signals.size(); ++p) {
    Frame f{kLeft, kTop + static_cast<double>(p) * (kPanel + kBottom), kW - kLeft - kRight, kPanel, rt, {}};
    std::vector<std::pair<int, int>> cols;  // column, axis
    for (size_t c = 1; c < t.columns.size(); ++c) {
      std::string sig;
      int axis;
      if (SplitColumn(t.columns[c], sig, axis) && sig == signals[p]) {
        cols.emplace_back(static_cast<int>(c), axis);
        for (const auto& row : t.rows) f.ry.Add(row[c]);
      }
    }
    f.ry.Widen();
    const double pad = 0.05 * (f.ry.hi - f.ry.lo);
    f.ry.lo -= pad;
    f.ry.hi += pad;
    std::string label = signals[p];
    for (const auto& s : kSignals)
      if (signals[p] == s.name) label = s.label;
    Axes(svg, f, "time (s)", label);
    for (size_t k = 0; k < cols.size(); ++k) {
      std::vector<std::pair<double, double>> pts;
      for (const auto& row : t.rows) pts.emplace_back(row[0], row[cols[k].first]);
      const char* color = kColors[cols[k].second & 7];
      Series(svg, f, t.columns[cols[k].first], color, pts, t.cuts);
      const double ly = f.y + 14 + 18 * static_cast<double>(k);
      svg += "<line x1=\"" + Num(kW - kRight + 12) + "\" y1=\"" + Num(ly - 4) + "\" x2=\"" + Num(kW - kRight + 32) +
             "\" y2=\"" + Num(ly - 4) + "\" stroke=\"" + color + "\" stroke-width=\"2\"/><text x=\"" +
             Num(kW - kRight + 38) + "\" y=\"" + Num(ly) + "\">axis " + std::to_string(cols[k].second) + "</text>\n";
    }
  }
  return svg + "</svg>\n";
}

std::string XySvg(const Table& t, int x, int y, std::string& error) {
  const int cx = t.Column("pos" + std::to_string(x)), cy = t.Column("pos" + std::to_string(y));
  if (cx < 0 || cy < 0) {
    error = "the recording has no position of axis " + std::to_string(cx < 0 ? x : y) + " (columns pos" +
            std::to_string(x) + " and pos" + std::to_string(y) + " are needed)";
    return "";
  }
  Range rx, ry;
  for (const auto& row : t.rows) rx.Add(row[cx]), ry.Add(row[cy]);
  rx.Widen();
  ry.Widen();
  // Equal scale: the larger extent fills its side, the other is centred.
  constexpr double kSide = 640, kLeft = 90, kTop = 36, kMargin = 56;
  const double scale = kSide / std::max(rx.hi - rx.lo, ry.hi - ry.lo);
  const double w = (rx.hi - rx.lo) * scale, h = (ry.hi - ry.lo) * scale;
  // The frame around the data: the data's extent padded by 5 % of the larger side.
  const double pad = 0.05 * kSide / scale;
  Frame f{kLeft, kTop, w + 2 * pad * scale, h + 2 * pad * scale, {rx.lo - pad, rx.hi + pad}, {ry.lo - pad, ry.hi + pad}};
  std::string svg = Head(f.w + kLeft + 30, f.h + kTop + kMargin, "path of axes " + std::to_string(x) + " and " + std::to_string(y));
  const std::string ax = std::to_string(x), ay = std::to_string(y);
  Axes(svg, f, "axis " + ax + " position (pulses)", "axis " + ay + " position (pulses)");
  std::vector<std::pair<double, double>> pts;
  for (const auto& row : t.rows) pts.emplace_back(row[cx], row[cy]);
  Series(svg, f, "pos" + ax + ",pos" + ay, kColors[0], pts, t.cuts);
  if (!pts.empty())
    svg += "<circle cx=\"" + Num(f.X(pts.front().first)) + "\" cy=\"" + Num(f.Y(pts.front().second)) +
           "\" r=\"4\" fill=\"#2ca02c\"><title>start</title></circle>\n<circle cx=\"" + Num(f.X(pts.back().first)) +
           "\" cy=\"" + Num(f.Y(pts.back().second)) + "\" r=\"4\" fill=\"#d62728\"><title>end</title></circle>\n";
  return svg + "</svg>\n";
}

int RunPlot(const std::vector<std::string>& args) { return RunPlotCommand(args); }

}  // namespace voxactl
