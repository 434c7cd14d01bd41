// voxactl record and plot: a known motion of the simulated board recorded
// as CSV and drawn as SVG.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim.h"
#include "support/shell.h"
#include "voxa/voxa.h"

namespace {

using namespace std::chrono_literals;
using voxa::test::Result;
using voxa::test::Shell;
using voxa_sim::RxFrame;
using voxa_sim::SimBoard;
namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::vector<double>> CsvRows(const std::string& text, std::string& header) {
  std::istringstream in(text);
  std::getline(in, header);
  std::vector<std::vector<double>> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<double> row;
    std::istringstream cells(line);
    for (std::string c; std::getline(cells, c, ',');) row.push_back(std::stod(c));
    rows.push_back(row);
  }
  return rows;
}

// The numbers of every series path's d attribute, as (x, y) pairs.
std::vector<std::vector<std::pair<double, double>>> SeriesPaths(const std::string& svg) {
  std::vector<std::vector<std::pair<double, double>>> out;
  const std::regex path(R"(<path class="series"[^>]* d="([^"]*)\")");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), path); it != std::sregex_iterator(); ++it) {
    std::string d = (*it)[1];
    std::replace(d.begin(), d.end(), 'M', ' ');
    std::replace(d.begin(), d.end(), 'L', ' ');
    std::istringstream in(d);
    std::vector<std::pair<double, double>> pts;
    for (double x, y; in >> x >> y;) pts.emplace_back(x, y);
    out.push_back(pts);
  }
  return out;
}

class RecordPlot : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = SimBoard::StartTcp();
    ASSERT_NE(sim_, nullptr);
    dir_ = fs::temp_directory_path() / ("voxactl-record-" + std::to_string(sim_->Port()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  Result Voxactl(const std::string& args) { return Shell(std::string(VOXACTL_PATH) + " " + args); }
  std::string Board() { return "--tcp 127.0.0.1:" + std::to_string(sim_->Port()) + " "; }

  std::unique_ptr<SimBoard> sim_;
  fs::path dir_;
};

TEST_F(RecordPlot, RecordsALineFromStartToEndAndDrawsIt) {
  // The line waits in the board's held queue until the recording runs.
  sim_->HoldQueue(true);
  const int board = VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sim_->Port(), 0);
  ASSERT_GE(board, 0);
  VOXA_Set_DriveVel(4000);
  VOXA_Set_Acc(20);
  VOXA_Set_Dec(20);
  const int target[8] = {2000, 1000};
  VOXA_Line(0x03, target);
  EXPECT_TRUE(sim_->WaitFrame([](const RxFrame& f) { return f.cmd.kind == voxa_sim::CmdKind::kAction; }, 3s));
  VOXA_Close();

  const fs::path csv = dir_ / "line.csv";
  Result rec;
  std::thread recording([&] { rec = Voxactl(Board() + "record --duration 2.5 --state-ms 25 --csv " + csv.string()); });
  // Released once the recorder has switched the board's state packets on.
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (((sim_->Reg(0, 0) >> 8) & 7) != 1 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
  std::this_thread::sleep_for(200ms);
  sim_->HoldQueue(false);
  recording.join();
  ASSERT_EQ(rec.code, 0) << rec.out;
  EXPECT_TRUE(std::regex_search(rec.out, std::regex(R"(samples +\d+\n)"))) << rec.out;
  EXPECT_NE(rec.out.find("mean period"), std::string::npos) << rec.out;
  EXPECT_EQ((sim_->Reg(0, 0) >> 8) & 7, 0u) << "the state timer is off again";

  std::string header;
  const auto rows = CsvRows(Slurp(csv), header);
  EXPECT_EQ(header, "time_s,pos0,pos1,vel0,vel1");
  ASSERT_GE(rows.size(), 70u);   // 2.5 s at 25 ms: 100 reports, less the start
  EXPECT_LE(rows.size(), 102u);
  EXPECT_EQ(rows.front()[1], 0);
  EXPECT_EQ(rows.front()[2], 0);
  EXPECT_EQ(rows.back()[1], 2000);
  EXPECT_EQ(rows.back()[2], 1000);
  double top_speed = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 5u);
    EXPECT_NEAR(rows[i][2] * 2, rows[i][1], 4) << "row " << i << " is off the line";
    top_speed = std::max(top_speed, rows[i][3]);
    if (i > 0) {
      EXPECT_GE(rows[i][0], rows[i - 1][0]) << "row " << i;  // reports read in one go share a time
      EXPECT_GE(rows[i][1], rows[i - 1][1]) << "row " << i;
    }
  }
  EXPECT_GT(top_speed, 0);
  EXPECT_GT(rows.back()[0], 2.0);  // the whole recording, timed from its first sample

  // Time panels: a path per signal and axis, axes labelled with units.
  const fs::path svg = dir_ / "line.svg";
  Result r = Voxactl("plot " + csv.string() + " --svg " + svg.string());
  ASSERT_EQ(r.code, 0) << r.out;
  std::string text = Slurp(svg);
  EXPECT_EQ(SeriesPaths(text).size(), 4u);
  for (const char* label : {">time (s)<", ">position (pulses)<", ">velocity (pulses/s)<", ">axis 1<"})
    EXPECT_NE(text.find(label), std::string::npos) << label;
  EXPECT_EQ(text.rfind("</svg>"), text.size() - 7);

  // The XY path spans the line at equal scale on both axes.
  r = Voxactl("plot " + csv.string() + " --svg " + svg.string() + " --xy 0,1");
  ASSERT_EQ(r.code, 0) << r.out;
  text = Slurp(svg);
  const auto paths = SeriesPaths(text);
  ASSERT_EQ(paths.size(), 1u);
  double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
  for (auto [x, y] : paths[0]) x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
  EXPECT_EQ(x0, 0);
  EXPECT_EQ(x1, 2000);
  EXPECT_EQ(y0, 0);
  EXPECT_EQ(y1, 1000);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, std::regex(R"(class="series"[^>]*transform="matrix\(([-\d.e]+) 0 0 ([-\d.e]+) )")));
  EXPECT_DOUBLE_EQ(std::stod(m[1]), -std::stod(m[2]));
  EXPECT_NE(text.find(">axis 0 position (pulses)<"), std::string::npos);
}

TEST_F(RecordPlot, ARecordingThatTheLinkCutShortFails) {
  const fs::path csv = dir_ / "cut.csv";
  Result rec;
  std::thread recording([&] { rec = Voxactl(Board() + "record --duration 3 --csv " + csv.string()); });
  // The board closes the connection once the recording runs.
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (((sim_->Reg(0, 0) >> 8) & 7) != 1 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
  std::this_thread::sleep_for(300ms);
  sim_->DropConnection(false);
  recording.join();
  EXPECT_EQ(rec.code, 1) << rec.out;
  EXPECT_TRUE(std::regex_search(
      rec.out, std::regex(R"(the recording was cut short after \d+\.\d{3} s of the 3\.000 s asked; the link was lost: )"
                          R"(the board closed the connection)")))
      << rec.out;
  std::string header;
  EXPECT_FALSE(CsvRows(Slurp(csv), header).empty()) << "what was recorded is kept";
}

TEST_F(RecordPlot, RefusesBadArgumentsAndFiles) {
  EXPECT_EQ(Voxactl(Board() + "record --csv x.csv --state-ms 10").code, 2);
  EXPECT_EQ(Voxactl(Board() + "record --csv x.csv --signals pos,acc").code, 2);
  EXPECT_EQ(Voxactl(Board() + "record --axes 0,9 --csv x.csv").code, 2);
  EXPECT_EQ(Voxactl(Board() + "record --duration 1").code, 2);
  const fs::path bad = dir_ / "bad.csv";
  std::ofstream(bad) << "time_s,pos0\n0.0,1\n0.1\n";
  Result r = Voxactl("plot " + bad.string() + " --svg " + (dir_ / "o.svg").string());
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("bad.csv:3"), std::string::npos) << r.out;
  std::ofstream(bad) << "time_s,vel0\n0.0,1\n";
  r = Voxactl("plot " + bad.string() + " --svg " + (dir_ / "o.svg").string() + " --xy 0,1");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("no position of axis 0"), std::string::npos) << r.out;
}

}  // namespace
