// Linux only: voxactl ended by SIGINT (coreutils' timeout), its failures on
// Linux device paths, and three runs at once through a POSIX shell.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "voxactl_fixture.h"

namespace {

using namespace std::chrono_literals;
using voxa_sim::RxFrame;
using namespace voxa::test;

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

// --json: one object per line, no terminal controls; the board found
// through VOXA_ADDRESS and by a host name.
TEST_F(Voxactl, MonitorsAsJsonAndFindsTheBoardByName) {
  const std::string port = std::to_string(sim_->Port());
  Result r = Shell("VOXA_ADDRESS=tcp:localhost:" + port + " timeout --preserve-status -s INT 1 " +
                   std::string(VOXACTL_PATH) + " monitor --json --interval 100");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_GE(CountOf(r.out, "\n{\"time_s\":"), 3) << r.out;
  EXPECT_NE(r.out.find("\"activity\":\"at rest\""), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
  // The name is looked up (in /etc/hosts here).
  r = Shell(std::string(VOXACTL_PATH) + " --tcp localhost:" + port + " get 1 7");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("CHIPSTATUS[7] = 67184438"), std::string::npos) << r.out;
  r = Shell("VOXA_ADDRESS=board " + std::string(VOXACTL_PATH) + " status");
  EXPECT_EQ(r.code, 2) << r.out;
  EXPECT_NE(r.out.find("tcp:ADDR[:PORT] or serial:DEV[@BAUD]"), std::string::npos) << r.out;
  r = Shell(std::string(VOXACTL_PATH) + " --tcp no-such-board.invalid status");
  EXPECT_EQ(r.code, 2) << r.out;
  EXPECT_NE(r.out.find("cannot find the IPv4 address of 'no-such-board.invalid'"), std::string::npos) << r.out;
}

// The manual covers every command the help lists, with its options.
TEST(VoxactlManual, CoversEveryCommand) {
  const std::filesystem::path page =
      std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "tools" / "voxactl" / "voxactl.1";
  std::ifstream in(page);
  if (!in) GTEST_SKIP() << "no source tree beside the test: " << page;
  const std::string man((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Result help = Shell(std::string(VOXACTL_PATH) + " --help");
  const std::regex command(R"(\n  ([a-z]+)(?=[ \n]))");
  int n = 0;
  for (auto it = std::sregex_iterator(help.out.begin(), help.out.end(), command); it != std::sregex_iterator(); ++it, ++n)
    EXPECT_TRUE(std::regex_search(man, std::regex("\n\\.BR? (.*[ \"])?" + (*it)[1].str() + "[ \"\n]"))) << (*it)[1];
  EXPECT_GE(n, 18) << help.out;
  // And every option of their usages (the manual writes '-' as '\-').
  const size_t commands = help.out.find("commands:");
  ASSERT_NE(commands, std::string::npos) << help.out;
  const std::string usages = help.out.substr(commands);
  const std::regex option(R"(--[a-z][a-z-]*)");
  for (auto it = std::sregex_iterator(usages.begin(), usages.end(), option); it != std::sregex_iterator(); ++it)
    EXPECT_NE(man.find(std::regex_replace(it->str(), std::regex("-"), "\\-")), std::string::npos) << it->str();
  EXPECT_EQ(Shell(std::string(VOXACTL_PATH) + " plot --help").out.find("--tcp"), std::string::npos);
}

// The demo's progress in a log: a line per stage, no carriage returns.
TEST(Demo, ProgressInALogHasNoCarriageReturns) {
  const std::filesystem::path build = std::filesystem::path(VOXACTL_PATH).parent_path().parent_path().parent_path();
  const std::filesystem::path demo = build / "examples" / "voxa-demo";
  if (!std::filesystem::exists(demo)) GTEST_SKIP() << "no demo built at " << demo;
  const std::filesystem::path ini = std::filesystem::temp_directory_path() / "voxactl-test-demo.ini";
  const Result r = Shell(demo.string() + " " + ini.string() + " | cat");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out.find('\r'), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n  done   X=      0  Y=      0"), std::string::npos) << r.out;
  std::filesystem::remove(ini);
  std::filesystem::remove(ini.parent_path() / "voxa-demo-path.svg");
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
    EXPECT_NE(help.out.find(std::string("] ") + command), std::string::npos) << help.out;
  }
}

TEST_F(Voxactl, ASilentBoardFailsWithinSeconds) {
  const std::string file =
      (std::filesystem::temp_directory_path() / ("voxactl-silent-" + std::to_string(sim_->Port()) + ".ini")).string();
  sim_->GoSilent(20s);
  // One after the other: the board serves one host at a time.
  const std::string tool = std::string(VOXACTL_PATH) + " --tcp 127.0.0.1:" + std::to_string(sim_->Port());
  const auto start = std::chrono::steady_clock::now();
  const Result r = Shell("(" + tool + " move 0=100 2>&1; echo move=$?); (" + tool + " stop 2>&1; echo stop=$?); (" +
                         tool + " save " + file + " 2>&1; echo save=$?)");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 12s);
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
