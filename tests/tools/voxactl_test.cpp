// voxactl, the program, against a simulated board in this process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "voxa/voxa.h"
#include "voxactl_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace voxa::test;
using voxa_sim::RxFrame;

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

TEST_F(Voxactl, ResetLetsNoQueuedMotionRun) {
  ASSERT_EQ(Run("stop --now").code, 0);
  // An application queued a line under the emergency stop, then closed.
  ASSERT_GE(VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sim_->Port(), 0), 0);
  const int target[8] = {3000};
  VOXA_Line(0x01, target);
  EXPECT_TRUE(sim_->WaitFrame([](const RxFrame& f) { return f.cmd.code == 0x5B; }, 3s).has_value());
  VOXA_Close();
  ASSERT_FALSE(sim_->IsIdle()) << "the line waits in the board's queue";
  const Result r = Run("reset");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("host and board queues cleared"), std::string::npos) << r.out;
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(sim_->IsIdle());
  EXPECT_EQ(sim_->Position(0), 0);
}

TEST_F(Voxactl, AnOpenTurnedAwaySaysTheBoardIsHeld) {
  // This process holds the board; voxactl is a second host.
  ASSERT_GE(VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sim_->Port(), 0), 0);
  ASSERT_TRUE(sim_->WaitForConnection(1, 3s));
  const Result r = Run("status");
  VOXA_Close();
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("cannot open tcp 127.0.0.1:" + std::to_string(sim_->Port()) + ": "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("held by another host"), std::string::npos) << r.out;
  EXPECT_EQ(sim_->ConnectionCount(), 1u);
}

}  // namespace
