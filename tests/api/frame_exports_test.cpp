// The library frame: guard codes and failure values, error flag and last
// code, board selection, version texts, beeps.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "api/board_table.h"
#include "support/peer.h"
#include "voxa/voxa.h"

namespace {

std::vector<unsigned> g_beeps;
void VOXA_CALL RecordBeep(unsigned type) { g_beeps.push_back(type); }

class FrameExports : public ::testing::Test {
 protected:
  void SetUp() override {
    g_beeps.clear();
    VOXA_Set_BeepHandler(&RecordBeep);
  }
  void TearDown() override {
    VOXA_Enable_ErrBeep(0);
    VOXA_Set_BeepHandler(nullptr);
  }
};

TEST_F(FrameExports, GuardCodesAndFailureValuesBeforeAnyOpen) {
  voxa::api::CurrentBoard().store(-1);
  EXPECT_EQ(VOXA_Get_BoardID(), -1);  // an export failing with -1
  EXPECT_EQ(VOXA_Is_Err(), 1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_BOARD_ID);
  EXPECT_EQ(VOXA_Get_SoftQueueSize(), 0);  // an export failing with 0
  char buf[8] = "xxxxxxx";
  VOXA_Get_EngineVer(buf, sizeof buf);  // an export returning nothing
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_BOARD_ID);
  EXPECT_STREQ(buf, "xxxxxxx");
  // Selecting a board that is not open.
  EXPECT_EQ(VOXA_Set_BoardID(8), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_BOARD_ID);
  EXPECT_EQ(VOXA_Set_BoardID(3), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_NOT_OPEN);
  EXPECT_EQ(voxa::api::CurrentBoard().load(), -1);
  // A current board that is not open records -21.
  voxa::api::CurrentBoard().store(3);
  EXPECT_EQ(VOXA_Is_Link(), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_NOT_OPEN);
  voxa::api::CurrentBoard().store(-1);
}

TEST_F(FrameExports, VersionTextTruncation) {
  char buf[32];
  VOXA_Get_DllVer(buf, 20);
  EXPECT_STREQ(buf, "VOXA-DLL-V01-R05.20");
  VOXA_Get_DllVer(buf, 21);
  EXPECT_STREQ(buf, "VOXA-DLL-V01-R05.201");
  VOXA_Get_DllVer(buf, 1);
  EXPECT_STREQ(buf, "");
  VOXA_Get_DllVer(nullptr, 20);  // nothing written, no crash
  buf[0] = 'z';
  VOXA_Get_DllVer(buf, 0);
  EXPECT_EQ(buf[0], 'z');
  VOXA_WCHAR w[32];
  VOXA_Get_wDllVer(w, 4);
  EXPECT_EQ(w[0], u'V');
  EXPECT_EQ(w[2], u'X');
  EXPECT_EQ(w[3], 0);
}

TEST_F(FrameExports, ErrorFlagAgainstLastCodeAndBeeps) {
  voxa::test::FakeBoard peer;
  VOXA_Enable_ErrBeep(1);
  ASSERT_GE(peer.Open(), 0);
  ASSERT_EQ(g_beeps, std::vector<unsigned>{0});  // a successful open beeps 0
  EXPECT_EQ(VOXA_Get_StateTimer(0), -1);          // a rejected argument
  EXPECT_EQ(VOXA_Is_Err(), 1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
  EXPECT_EQ(g_beeps, (std::vector<unsigned>{0, 16}));
  EXPECT_EQ(VOXA_Get_BusySize(), 25);  // an ordinary success: flag clear, code kept, no beep
  EXPECT_EQ(VOXA_Is_Err(), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
  EXPECT_EQ(g_beeps.size(), 2u);
}

// A beep handler may call exports: what the beeping call leaves in the error
// state is still its own result.
std::vector<int> g_seen_codes;
void VOXA_CALL BeepCallingExports(unsigned type) {
  static thread_local bool inside = false;
  if (inside) return;
  inside = true;
  g_seen_codes.push_back(VOXA_Get_LastErr());  // the code is there for the handler
  if (type == 16) {
    VOXA_Get_BoardID();  // a success
  } else {
    VOXA_Set_BoardID(8);  // a failure
  }
  inside = false;
}

void VOXA_CALL LogCallingExports(int, const char*) { VOXA_Set_BoardID(8); }

TEST_F(FrameExports, ABeepHandlerCallingExportsLeavesTheCallsResult) {
  voxa::test::FakeBoard peer;
  VOXA_Set_BeepHandler(&BeepCallingExports);
  VOXA_Enable_ErrBeep(1);
  g_seen_codes.clear();
  ASSERT_GE(peer.Open(), 0);  // beeps 0; the handler's call fails
  EXPECT_EQ(VOXA_Is_Err(), 0);
  EXPECT_EQ(VOXA_Get_StateTimer(0), -1);  // beeps 16; the handler's call succeeds
  EXPECT_EQ(VOXA_Is_Err(), 1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
  ASSERT_EQ(g_seen_codes.size(), 2u);
  EXPECT_EQ(g_seen_codes[1], VOXA_ERR_ARGUMENT);
  // So may the log handler a load calls: a missing file is no failure.
  VOXA_Set_LogHandler(&LogCallingExports);
  const char* missing = "no-such-dir/no-such-file.ini";
  std::vector<VOXA_WCHAR> wide(missing, missing + std::strlen(missing) + 1);
  EXPECT_EQ(VOXA_Load_wConfigFile(wide.data()), 0);
  EXPECT_EQ(VOXA_Is_Err(), 0);
  VOXA_Set_LogHandler(nullptr);
}

TEST_F(FrameExports, OpeningAndClosingSelectBoards) {
  std::vector<std::unique_ptr<voxa::test::FakeBoard>> peers;
  for (int k = 0; k < 8; ++k) {
    peers.push_back(std::make_unique<voxa::test::FakeBoard>());
    ASSERT_EQ(peers.back()->Open(), k);
    EXPECT_EQ(VOXA_Get_BoardID(), k);
  }
  // A ninth open finds no free slot.
  EXPECT_EQ(VOXA_Open_Tcp(0x0100007F, peers[0]->port(), 0), -1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_NO_SLOT);
  // Closing the current board selects the lowest open one.
  ASSERT_EQ(VOXA_Set_BoardID(2), 1);
  EXPECT_EQ(VOXA_Close(), 1);
  EXPECT_EQ(VOXA_Get_BoardID(), 0);
  for (int k = 7; k >= 0; --k) peers[static_cast<size_t>(k)]->Close();
  // Closing the last board leaves the closed slot current.
  EXPECT_EQ(VOXA_Get_BoardID(), -1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_NOT_OPEN);
}

TEST_F(FrameExports, AFailedOpenIsRetriedOnTheSameSlot) {
  uint16_t dead_port;
  {
    voxa::test::FakeBoard gone;  // a port that nothing listens on afterwards
    dead_port = gone.port();
  }
  EXPECT_EQ(VOXA_Open_Tcp(0x0100007F, dead_port, 0), -1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_OPEN);
  voxa::test::FakeBoard peer;
  EXPECT_EQ(peer.Open(), 0);
  peer.Close();
}

}  // namespace

namespace {

struct TraceLog {
  std::mutex m;
  std::vector<std::pair<int, std::vector<uint8_t>>> frames;
} g_trace;

void VOXA_CALL OnTrace(int, int direction, const unsigned char* frame, int length) {
  std::lock_guard<std::mutex> g(g_trace.m);
  g_trace.frames.emplace_back(direction, std::vector<uint8_t>(frame, frame + length));
}

TEST(Tracing, EveryFrameBothWaysWhileAHandlerIsSet) {
  voxa::test::FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  VOXA_Set_TraceHandler(&OnTrace);
  VOXA_Enter_ImCmd();
  peer.SendPacket(9, {0});
  const auto t0 = std::chrono::steady_clock::now();
  for (;;) {
    {
      std::lock_guard<std::mutex> g(g_trace.m);
      bool got = false;
      for (auto& f : g_trace.frames) got |= f.first == VOXA_TRACE_RECEIVED;
      if (got) break;
    }
    if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(1)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  VOXA_Set_TraceHandler(nullptr);
  VOXA_Leave_ImCmd();
  std::lock_guard<std::mutex> g(g_trace.m);
  bool sent_enter = false, got_heartbeat = false;
  for (auto& [dir, f] : g_trace.frames) {
    if (dir == VOXA_TRACE_SENT && f.size() == 6 && f[3] == 0x8C && f[4] == 0xD3) sent_enter = true;
    if (dir == VOXA_TRACE_RECEIVED && f == std::vector<uint8_t>{0xFE, 0x04, 0x00, 0x09, 0x00, 0x0B}) got_heartbeat = true;
  }
  EXPECT_TRUE(sent_enter);
  EXPECT_TRUE(got_heartbeat);
}

TEST(ErrorText, EveryCodeHasAMeaning) {
  for (int code : {-10, -11, -20, -21, -30, -40, -41, -50}) EXPECT_STRNE(VOXA_Get_ErrText(code), "unknown error code");
  EXPECT_STREQ(VOXA_Get_ErrText(-50), "argument outside the accepted values");
  EXPECT_STREQ(VOXA_Get_ErrText(12345), "unknown error code");
}

}  // namespace
