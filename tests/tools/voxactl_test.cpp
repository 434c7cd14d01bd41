// voxactl, the program, against a simulated board in this process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "sim.h"
#include "support/shell.h"

namespace {

using namespace std::chrono_literals;
using voxa_sim::RxFrame;
using voxa_sim::SimBoard;

using voxa::test::Result;
using voxa::test::Shell;

constexpr int CHIPSET = 0, CAL1 = 8, DRIVEVEL = 17;

// A configuration file's text, its UTF-16 reduced to ASCII.
std::string ConfigText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  for (char c; in.get(c);)
    if (c != '\0') text += c;
  return text;
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
  EXPECT_EQ(r.out.find('\r'), std::string::npos) << "no progress bar off a terminal: " << r.out;
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
  // Nothing listens on the port.
  const uint16_t port = sim_->Port();
  sim_.reset();
  const std::string address = "127.0.0.1:" + std::to_string(port);
  Result r = Shell(std::string(VOXACTL_PATH) + " --tcp " + address + " status");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("cannot open tcp " + address + ": connection refused"), std::string::npos) << r.out;
  r = Shell(std::string(VOXACTL_PATH) + " --serial /dev/voxactl-none status");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("cannot open /dev/voxactl-none: no such file or directory"), std::string::npos) << r.out;

  // Usage errors are found before anything is opened (nothing listens on
  // the port: an open would fail with 1).
  const std::string tool = VOXACTL_PATH + std::string(" --tcp ") + address;
  for (const char* line : {"get CAL0 9", "get 32 0", "set 32 0 1", "set 2 -1 0", "move 9=100", "get NOREG 0",
                           "monitor --period 30", "--serial /dev/null status"}) {
    r = Shell(tool + " " + line);
    EXPECT_EQ(r.code, 2) << line << ": " << r.out;
  }
  r = Shell(tool + " set CHIPSTATUS 0 1");
  EXPECT_EQ(r.code, 2) << r.out;
  EXPECT_NE(r.out.find("CHIPSTATUS is a status register"), std::string::npos) << r.out;
  for (const char* bad : {"1.2.3", "1.2.3.4:0", "1.2.3.4:http", "256.1.1.1"})
    EXPECT_EQ(Shell(std::string(VOXACTL_PATH) + " --tcp " + bad + " status").code, 2) << bad;
  EXPECT_EQ(Shell(tool + " frob").code, 2);
  EXPECT_EQ(Shell(std::string(VOXACTL_PATH) + " status").code, 2);
  r = Shell(std::string(VOXACTL_PATH) + " --version");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(^voxactl \d+\.\d+\.\d+ \(libvoxa )"))) << r.out;
  EXPECT_NE(Shell(tool + " trace --help").out.find("own connection only"), std::string::npos);
  r = Shell(tool + " --help");
  EXPECT_EQ(r.code, 0);
  for (const char* command : {"status", "monitor", "move", "line", "home", "stop", "reset", "enable", "disable", "regs",
                              "get", "set", "save", "load", "trace"}) {
    EXPECT_NE(r.out.find(std::string("  ") + command), std::string::npos) << command;
    const Result help = Shell(tool + " " + command + " --help");
    EXPECT_EQ(help.code, 0) << command;
    EXPECT_NE(help.out.find(std::string(") ") + command), std::string::npos) << help.out;
  }
}

TEST_F(Voxactl, SavesWhatTheBoardHolds) {
  sim_->SetReg(DRIVEVEL, 0, 2500);  // set on the board, not by this process
  sim_->SetReg(CAL1, 3, 0xFFFFFFFF);
  const std::string file =
      (std::filesystem::temp_directory_path() / ("voxactl-save-" + std::to_string(sim_->Port()) + ".ini")).string();
  {
    std::ofstream old(file, std::ios::binary);
    old << "\xFF\xFE";
    for (char c : std::string("[machine]\r\nname = mill\r\n\r\n")) old << c << '\0';
  }
  Result r = Run("save " + file);
  ASSERT_EQ(r.code, 0) << r.out;
  const std::string text = ConfigText(file);
  EXPECT_NE(text.find("REG[17].00 = 2500\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("REG[08].03 = -1\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("REG[01].00 = 0\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[machine]\r\nname = mill\r\n"), std::string::npos) << text;
  std::filesystem::remove(file);
}

TEST_F(Voxactl, MotionLeavesNothingBehindAndRefusesUnderAnAlarm) {
  // A wait that times out stops the axes and clears the queues.
  Result r = Run("move --vel 200 --timeout 600 0=50000");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("the axes were stopped and both queues cleared"), std::string::npos) << r.out;
  EXPECT_TRUE(sim_->WaitIdle(2s));
  EXPECT_LT(sim_->Position(0), 1000);
  EXPECT_FALSE(sim_->Frames([](const RxFrame& f) { return f.cmd.code == 0x08; }).empty()) << "queues cleared";

  // Under an emergency stop nothing is sent; reset is the way back.
  ASSERT_EQ(Run("stop --now").code, 0);
  const uint64_t from = sim_->FrameCount();
  r = Run("move 0=100");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("the board reports EMERGENCY STOP, code 0x"), std::string::npos) << r.out;
  EXPECT_TRUE(sim_->Frames([](const RxFrame& f) { return f.cmd.code == 0x5A; }, from).empty());
  r = Run("reset");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("execution  enabled, idle; board queue 0, host queue 0\nalarm      none\n"), std::string::npos)
      << r.out;
  r = Run("disable");
  EXPECT_NE(r.out.find("execution  enabled, paused"), std::string::npos) << r.out;
  r = Run("enable");
  EXPECT_NE(r.out.find("execution  enabled, idle"), std::string::npos) << r.out;
  EXPECT_EQ(Run("move 0=100").code, 0);
  EXPECT_EQ(sim_->Position(0), 100);

  // Signed decimals keep their columns apart.
  for (int w = 0; w < 8; ++w) sim_->SetReg(CAL1, w, 0x80000000u);
  r = Run("regs --dec --reported");
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +8  CAL1 +(-2147483648 ){7}-2147483648\n)"))) << r.out;
}

TEST_F(Voxactl, ASilentBoardFailsWithinSeconds) {
  const std::string file =
      (std::filesystem::temp_directory_path() / ("voxactl-silent-" + std::to_string(sim_->Port()) + ".ini")).string();
  sim_->GoSilent(20s);
  // Three at once, to keep the test short.
  const std::string tool = std::string(VOXACTL_PATH) + " --tcp 127.0.0.1:" + std::to_string(sim_->Port());
  const auto start = std::chrono::steady_clock::now();
  const Result r = Shell("(" + tool + " move 0=100 2>&1; echo move=$?) & (" + tool + " stop 2>&1; echo stop=$?) & (" +
                         tool + " save " + file + " 2>&1; echo save=$?) & wait");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_NE(r.out.find("move=1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("stop=1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("save=1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("the board did not answer within 2000 ms; nothing was sent"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("the stop was sent, but the board may not have received it"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("nothing was saved"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(r.out.find("decelerating stop sent"), std::string::npos) << r.out;
}

}  // namespace
