// Comparators, PID controllers, alarms and capture against a fake board.
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "families/io/pid.h"
#include "families/io_fixture.h"

namespace voxa::test {
namespace {

using IoComparator = IoBoard;
using IoPid = IoBoard;
using IoAlarm = IoBoard;
using IoCapture = IoBoard;

TEST_F(IoComparator, AxisAgainstDataValue) {
  for (int w = 0; w < 8; ++w) SetImage(COMPARE, w, 0);
  SetImage(CHIPSET, 0, 0);
  ASSERT_EQ(VOXA_Set_PosComparator(1, 1, 0x04, 5000, 2, 1), 1);
  EXPECT_EQ(Image(COMPARE, 1), 0x6000CD32u);
  EXPECT_EQ(Image(COMPARE, 5), 5000u);
  EXPECT_EQ(Image(CHIPSET, 0), 0x80000000u);

  // Each step sends the words it changed.
  const int masks[] = {0x02, 0x02, 0x02, 0x22, 0x02, 0x02};
  std::vector<uint32_t> last;
  for (int m : masks) last = ExpectWrite(COMPARE, m);
  EXPECT_EQ(last.at(0), 0x6000CD32u);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x01).at(0), 0x80000000u);
  EXPECT_TRUE(peer_.ExpectNoFrame(60));
}

TEST_F(IoComparator, TwoValueFormUsesTheNextChannel) {
  for (int w = 0; w < 8; ++w) SetImage(COMPARE, w, 0);
  ASSERT_EQ(VOXA_Set_PosComparatorX(0, 2, 0, 100, 1, 200, 0x1AB, 0), 1);
  // Operand B the axis (7), operand A data word 4, form 1, extra byte, kind 1.
  EXPECT_EQ(Image(COMPARE, 0), 0x41AB37CCu);
  EXPECT_EQ(Image(COMPARE, 1), 0x0000CD00u);
  EXPECT_EQ(Image(COMPARE, 4), 100u);
  EXPECT_EQ(Image(COMPARE, 5), 200u);
  peer_.Drain(60);

  // Channel 3 has no next channel: rejected, nothing changed or sent.
  SetImage(COMPARE, 3, 0x1234);
  ExpectRejected(VOXA_Set_PosComparatorX(3, 1, 1, 10, 1, 20, 0, 1));
  EXPECT_EQ(Image(COMPARE, 3), 0x1234u);
  ExpectRejected(VOXA_Set_PosComparator(4, 1, 1, 10, 1, 1));
  ExpectRejected(VOXA_Enable_Comparator(-1, 1));

  // A type or kind outside the known ones changes only the form.
  ASSERT_EQ(VOXA_Set_PosComparator(3, 9, 1, 10, 7, 0), 1);
  EXPECT_EQ(Image(COMPARE, 3), 0x1234u);
}

TEST_F(IoPid, CommandWords) {
  ASSERT_EQ(VOXA_Set_PIDSV(2, 70000), 1);
  EXPECT_EQ(ExpectWrite(CUSTOM, 0x01).at(0), 0x11700205u);
  // Off, reset and run keep the parameter bits.
  ASSERT_EQ(VOXA_Run_PID(3), 1);
  EXPECT_EQ(ExpectWrite(CUSTOM, 0x01).at(0), 0x11700302u);
  ExpectRejected(VOXA_Off_PID(4));
  ExpectRejected(VOXA_Is_PID_On(4));
  SetImage(CHIPSTATUS, 6, 0x0A);
  EXPECT_EQ(VOXA_Is_PID_On(1), 1);
  EXPECT_EQ(VOXA_Is_PID_On(2), 0);
}

VOXA_PID_SETUP NumberedSetup(uint8_t first) {
  VOXA_PID_SETUP s;
  auto* b = reinterpret_cast<uint8_t*>(&s);
  for (int k = 0; k < 30; ++k) b[k] = static_cast<uint8_t>(first + k);
  return s;
}

TEST_F(IoPid, SetupRecordCarriesTheStructureInBytesTwoToThirtyOne) {
  const VOXA_PID_SETUP s = NumberedSetup(0x40);
  ASSERT_EQ(VOXA_Setup_PID(1, &s), 1);
  EXPECT_EQ(ExpectWrite(CUSTOM, 0x01).at(0), 0x00010108u);  // announcement
  auto v = ExpectWrite(CUSTOM, 0xFF);
  ASSERT_EQ(v.size(), 8u);
  EXPECT_EQ(v[0], 0x41400104u);  // code 4, controller 1, structure bytes 0 and 1
  EXPECT_EQ(v[1], 0x45444342u);
  EXPECT_EQ(v[7], 0x5D5C5B5Au);

  // The stored record: byte 0 is 0 and byte 1 is 1 as built.
  const PidSetupRecord stored = family::io::StoredPidSetup(board(), 1);
  EXPECT_EQ(stored.words[0], 0x41400100u);
  for (int k = 1; k < 8; ++k) EXPECT_EQ(stored.words[k], v[k]);

  ExpectRejected(VOXA_Setup_PID(0, nullptr));
  ExpectRejected(VOXA_Setup_PID(-1, &s));
  ExpectRejected(VOXA_Get_PID_Setup(0, nullptr));
}

TEST_F(IoPid, GetSetupTakesWhatTheBoardReportsDuringItsWait) {
  std::thread board_side([&] {
    auto f = peer_.NextFrameWithCode(0x4F, 2000);
    if (!f || f->values.empty() || (f->values[0] & 0xFFFF) != 0x0206u) return;
    std::vector<uint32_t> report(8);
    for (int k = 0; k < 8; ++k) report[k] = 0x11111111u * static_cast<uint32_t>(k + 1);
    peer_.SendReadReply(CUSTOM, 0xFF, report);
  });
  VOXA_PID_SETUP out;
  std::memset(&out, 0, sizeof out);
  const auto start = std::chrono::steady_clock::now();
  const int r = VOXA_Get_PID_Setup(2, &out);
  const auto waited = std::chrono::steady_clock::now() - start;
  board_side.join();
  ASSERT_EQ(r, 1);
  EXPECT_GE(waited, std::chrono::milliseconds(100));

  const auto* b = reinterpret_cast<const uint8_t*>(&out);
  EXPECT_EQ(b[0], 0x11);  // record byte 2
  EXPECT_EQ(b[2], 0x22);  // record byte 4
  EXPECT_EQ(b[29], 0x88);  // record byte 31
  EXPECT_EQ(family::io::StoredPidSetup(board(), 2).words[3], 0x44444444u);
}

TEST_F(IoAlarm, OptionsMapToTheirChipBitsOneWriteEach) {
  SetImage(CHIPSET, 0, 0);
  VOXA_Set_AlarmOption(0x10010);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x01).at(0), 0x20000u);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x01).at(0), 0x120000u);
  EXPECT_EQ(VOXA_Get_AlarmOption(), 0x10010);
  VOXA_Clr_AlarmOption(-1);
  peer_.Drain(60);
  EXPECT_EQ(VOXA_Get_AlarmOption(), 0);
  EXPECT_EQ(Image(CHIPSET, 0), 0u);

  VOXA_Enable_StopRotateByAlarm(0x06, 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x06).at(0) & 0x800, 0x800u);
  EXPECT_EQ(VOXA_Is_StopRotateByAlarm(0x04), 1);
}

TEST_F(IoCapture, ModeSwitchAndSync) {
  SetImage(CHIPSET, 4, 0);
  EXPECT_EQ(VOXA_Enable_CaptureMode(5, 2), 5);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x10).at(0), 0x90u);
  EXPECT_EQ(VOXA_Enable_CaptureMode(0x100, 1), 0x100);  // off; the mode stays
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x10).at(0), 0x80u);
  EXPECT_EQ(VOXA_Is_CaptureMode(), 0);
  EXPECT_EQ(VOXA_CaptureSync(5, 2), 1u);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x10).at(0), 0x90u);
  EXPECT_EQ(VOXA_Is_CaptureSync(), 1u);
}

TEST_F(IoCapture, ReadsStayInsideTheRing) {
  ASSERT_EQ(VOXA_Init_Capture(), 10000);
  EXPECT_EQ(VOXA_Get_Capture(-1, 0), 0);  // nothing captured
  {
    platform::Locked hold(board().StateLock());
    board().mirror().CaptureEntry(9999)[0] = 99;  // a marker in the last entry
  }
  for (uint32_t v : {11u, 22u, 33u}) peer_.SendReadReply(CAL2, 0x01, {v}, kTagCapture);
  peer_.SendReadReply(CAL3, 0x01, {44}, 0x00);  // not a capture
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (VOXA_Get_CaptureCnt() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(VOXA_Get_CaptureCnt(), 3);

  EXPECT_EQ(VOXA_Get_Capture(-1, 0), 33);
  EXPECT_EQ(VOXA_Get_Capture(-3, 0), 11);
  EXPECT_EQ(VOXA_Get_Capture(0, 0), 11);
  EXPECT_EQ(VOXA_Get_Capture(-4, 0), 99);      // wraps to the last entry
  EXPECT_EQ(VOXA_Get_Capture(-10003, 0), 11);  // the oldest the ring reaches
  EXPECT_EQ(VOXA_Get_Capture(-10004, 0), 0);   // beyond it
  EXPECT_EQ(VOXA_Get_Capture(INT_MIN, 0), 0);
  EXPECT_EQ(VOXA_Get_Capture(20000, 0), 99);
  EXPECT_EQ(VOXA_Get_Capture(INT_MAX, 0), 99);
  EXPECT_EQ(VOXA_Get_Capture(-1, 8), 0);
  EXPECT_EQ(VOXA_Get_Capture(-1, -1), 0);
  EXPECT_EQ(VOXA_Is_Err(), 0);

  EXPECT_EQ(VOXA_Init_Capture(), 10000);
  EXPECT_EQ(VOXA_Get_CaptureCnt(), 0);
  EXPECT_EQ(VOXA_Get_Capture(20000, 0), 0);
}

TEST_F(IoCapture, InitWithoutABoardIdTouchesNothing) {
  const int32_t current = api::CurrentBoard().load();
  VOXA_Set_BoardID(-1);  // last error -10
  api::CurrentBoard().store(-1);
  EXPECT_EQ(VOXA_Init_Capture(), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_BOARD_ID);
  api::CurrentBoard().store(current);
}

}  // namespace
}  // namespace voxa::test
