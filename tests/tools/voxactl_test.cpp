// voxactl, the program, against a simulated board in this process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "sim.h"

namespace {

using namespace std::chrono_literals;
using voxa_sim::RxFrame;
using voxa_sim::SimBoard;

constexpr int CHIPSET = 0, CAL1 = 8;

struct Result {
  int code = -1;
  std::string out;  // standard output and standard error
};

// Runs a shell command line; its output and exit code.
Result Shell(const std::string& line) {
  Result r;
  FILE* p = popen((line + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Voxactl : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = SimBoard::StartTcp();
    ASSERT_NE(sim_, nullptr);
  }

  Result Run(const std::string& args) {
    return Shell(std::string(VOXACTL_PATH) + " --tcp 127.0.0.1:" + std::to_string(sim_->Port()) + " " + args);
  }

  std::unique_ptr<SimBoard> sim_;
};

TEST_F(Voxactl, MovesAndReportsTheBoardsStatus) {
  Result r = Run("line --vel 8000 --acc 50 0=1500 1=-700");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("line complete; positions 0=1500 1=-700"), std::string::npos) << r.out;
  EXPECT_EQ(sim_->Position(0), 1500);
  EXPECT_EQ(sim_->Position(1), -700);

  r = Run("move --relative 2=250");
  ASSERT_EQ(r.code, 0) << r.out;
  r = Run("move --relative --vel 9000 2=250");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(sim_->Position(2), 500);

  r = Run("status");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("link       up"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("engine     V02.07 Normal Engine K7R2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("execution  enabled, idle"), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +0 +1500 +1500 +0 +\. +\. +\. +\. +\.\n)"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +1 +-700 )"))) << r.out;

  r = Run("home --value 25 0 1 2");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("home return complete; positions 0=25 1=25 2=25"), std::string::npos) << r.out;

  r = Run("move --no-wait 3=40");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("move started"), std::string::npos) << r.out;
  EXPECT_TRUE(sim_->WaitFrame([](const RxFrame& f) { return f.cmd.code == 0x5A; }, 2s).has_value());
  EXPECT_TRUE(sim_->WaitIdle(5s));
  EXPECT_EQ(sim_->Position(3), 40);
}

TEST_F(Voxactl, StopsAtOnceOrDecelerating) {
  const uint64_t from = sim_->FrameCount();
  Result r = Run("stop --now");
  ASSERT_EQ(r.code, 0) << r.out;
  auto stop = sim_->WaitFrame([](const RxFrame& f) { return f.cmd.code == 0x50; }, 2s, from);
  ASSERT_TRUE(stop.has_value());
  EXPECT_TRUE(stop->cmd.immediate);
  r = Run("stop");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(sim_->WaitFrame([](const RxFrame& f) { return f.cmd.code == 0x51; }, 2s, from).has_value());
}

TEST_F(Voxactl, ShowsAndSetsRegisterWords) {
  Result r = Run("set cal1 2 0xDEADBEEF");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("CAL1[2] := -559038737 (0xDEADBEEF)"), std::string::npos) << r.out;
  EXPECT_EQ(sim_->Reg(CAL1, 2), 0xDEADBEEFu);

  r = Run("regs");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(CountOf(r.out, "\n"), 33) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +0  CHIPSET )"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +31  CUSTOM )"))) << r.out;
  // The board's engine version, as its status register reports it.
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +1  CHIPSTATUS( +[0-9A-F]{8}){7} +04012736\n)"))) << r.out;

  // CAL1 is the host's: this process has not set it, the board reports it.
  r = Run("regs --reported");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +8  CAL1 +0{8} +0{8} +DEADBEEF )"))) << r.out;
  r = Run("get --reported CAL1 2");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("CAL1[2] = -559038737 (0xDEADBEEF)"), std::string::npos) << r.out;
  r = Run("get 1 7");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("CHIPSTATUS[7] = 67184438 (0x04012736)"), std::string::npos) << r.out;
}

TEST_F(Voxactl, TracesFramesBothWays) {
  Result r = Run("trace --duration 700");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n? +\d+\.\d{6} -> KeepAlive imm tag=FD +FE 04 00 89 FD 88\n)")))
      << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\d+\.\d{6} <- Heartbeat +FE 04 00 09 00 0B\n)"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(-> Read CHIPSET imm mask=FF tag=FD +FE 06 00 90 FF 28 FD )")))
      << r.out;
  EXPECT_NE(r.out.find("<- Reply CHIPSET mask=FF"), std::string::npos) << r.out;

  r = Run("trace --count 3");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(CountOf(r.out, "\n"), 3) << r.out;

  r = Run("trace --duration 500 --no-polls");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out.find("KeepAlive"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Heartbeat"), std::string::npos) << r.out;
}

TEST_F(Voxactl, SavesAndLoadsAConfigurationWithProgress) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("voxactl-test-" + std::to_string(sim_->Port()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "board.ini").string();
  Result r = Run("save " + file);
  ASSERT_EQ(r.code, 0) << r.out;
  ASSERT_TRUE(std::filesystem::exists(file));

  const uint64_t from = sim_->FrameCount();
  r = Run("load " + file);
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("] 100%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("loaded " + file), std::string::npos) << r.out;
  const auto writes = sim_->Frames([](const RxFrame& f) { return f.cmd.tag == 0xE6; }, from);
  EXPECT_GE(writes.size(), 256u);

  r = Run("load " + (dir / "missing.ini").string());
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("does not exist"), std::string::npos) << r.out;
  std::filesystem::remove_all(dir);
}

TEST_F(Voxactl, MonitorEndsCleanlyOnCtrlC) {
  const uint64_t from = sim_->FrameCount();
  // SIGINT after a second; --preserve-status passes voxactl's own exit code on.
  const Result r = Shell("timeout --preserve-status -s INT 1 " + std::string(VOXACTL_PATH) +
                         " --tcp 127.0.0.1:" + std::to_string(sim_->Port()) + " monitor --interval 100 --period 50");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_GE(CountOf(r.out, "voxactl monitor"), 3) << r.out;
  EXPECT_NE(r.out.find("axis    position     encoder"), std::string::npos) << r.out;
  // State packets on (50 ms), then off again on the way out.
  const auto chipset = sim_->Frames(
      [](const RxFrame& f) {
        return f.cmd.reg == CHIPSET && f.cmd.kind == voxa_sim::CmdKind::kRegisterWrite && (f.cmd.mask & 0x01);
      },
      from);
  ASSERT_GE(chipset.size(), 2u);
  EXPECT_EQ((chipset.front().cmd.values[0] >> 8) & 0x7, 2u);
  EXPECT_EQ((chipset.back().cmd.values[0] >> 8) & 0x7, 0u);
}

TEST_F(Voxactl, FailuresExplainThemselves) {
  // The library refuses the word number.
  Result r = Run("get CAL0 9");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("VOXA_Get_RegWord failed: error -50: argument outside the accepted values"), std::string::npos)
      << r.out;
  r = Run("set 32 0 1");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("error -50"), std::string::npos) << r.out;

  // Nothing listens on the port.
  const uint16_t port = sim_->Port();
  sim_.reset();
  r = Shell(std::string(VOXACTL_PATH) + " --tcp 127.0.0.1:" + std::to_string(port) + " status");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("VOXA_Open_Tcp failed: error -30: opening the link failed"), std::string::npos) << r.out;

  // Usage errors are found before anything is opened.
  const std::string tool = VOXACTL_PATH;
  EXPECT_EQ(Shell(tool + " --tcp 127.0.0.1:1 frob").code, 2);
  EXPECT_EQ(Shell(tool + " --tcp 127.0.0.1:1 move 9=100").code, 2);
  EXPECT_EQ(Shell(tool + " --tcp 127.0.0.1:1 get NOREG 0").code, 2);
  EXPECT_EQ(Shell(tool + " --tcp 127.0.0.1:1 monitor --period 30").code, 2);
  EXPECT_EQ(Shell(tool + " --tcp 127.0.0.1:1 --serial /dev/null status").code, 2);
  EXPECT_EQ(Shell(tool + " status").code, 2);
  r = Shell(tool + " --help");
  EXPECT_EQ(r.code, 0);
  for (const char* command :
       {"status", "monitor", "move", "line", "home", "stop", "regs", "get", "set", "save", "load", "trace"}) {
    EXPECT_NE(r.out.find(std::string("  ") + command), std::string::npos) << command;
    const Result help = Shell(tool + " " + command + " --help");
    EXPECT_EQ(help.code, 0) << command;
    EXPECT_NE(help.out.find(std::string(") ") + command), std::string::npos) << help.out;
  }
}

}  // namespace
