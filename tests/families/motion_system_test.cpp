// Board-wide modes, execution control, delays and the execution state
// against a fake board.
#include <climits>
#include <cstdint>

#include "families/motion_fixture.h"

namespace voxa::test {
namespace {

using SystemControl = MotionBoard;

TEST_F(SystemControl, ModeBitGoesToTheImageThenOneWriteOfItsWordInEitherMode) {
  SetImage(CHIPSET, 0, 0x00000001);
  ASSERT_EQ(VOXA_Set_InterruptMode(1), 1);
  EXPECT_EQ(Image(CHIPSET, 0), 0x2001u);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x01), (std::vector<uint32_t>{0x2001}));
  EXPECT_EQ(VOXA_Get_InterruptMode(), 1);

  Immediate();
  ASSERT_EQ(VOXA_Set_InterruptMode(0), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x01), (std::vector<uint32_t>{0x0001}));
  Queued();

  ExpectRejected(VOXA_Set_InterruptMode(2));
  ExpectRejected(VOXA_Set_ExtEmgStopMode(-1));
  EXPECT_EQ(Image(CHIPSET, 0), 0x0001u);
}

TEST_F(SystemControl, FlagsCountTheirWholeValueOrOnlyTheLowByte) {
  SetImage(CHIPSET, 0, 0);
  SetImage(CHIPSET, 1, 0);
  ASSERT_EQ(VOXA_Enable_IEndComp(0x100), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x01).at(0), 0x20u);
  ASSERT_EQ(VOXA_Enable_RestrictedImCmd(0x100), 1);  // low byte 0: off
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x02).at(0), 0u);
  ASSERT_EQ(VOXA_MainLinkAlarmOn(0x101), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x02).at(0), 1u << 27);
  EXPECT_EQ(VOXA_Is_MainLinkAlarmOn(), 1);
  EXPECT_EQ(VOXA_Is_RestrictedImCmd(), 0);
  // The auxiliary port's three switches and the start mode of velocity mode 3.
  ASSERT_EQ(VOXA_Enable_AuxPortStateTimer(0x100), 1);
  ASSERT_EQ(VOXA_Enable_AuxPortStatePacket(1), 1);
  ASSERT_EQ(VOXA_Enable_AuxPortAllCommand(1), 1);
  ASSERT_EQ(VOXA_Set_VelMode3StartMode(1), 1);
  for (int k = 0; k < 3; ++k) ExpectWrite(CHIPSET, 0x02);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x02).at(0), (1u << 13) | (1u << 14) | (1u << 15) | (1u << 26) | (1u << 27));
  EXPECT_EQ(VOXA_Get_VelMode3StartMode(), 1);
}

TEST_F(SystemControl, BaudRatesAreTwoBitCodesAndUnknownRatesChangeNothing) {
  SetImage(CHIPSET, 0, 0x0F000000);
  ASSERT_EQ(VOXA_Set_MainBaudrate(460800), 1);
  EXPECT_EQ(Image(CHIPSET, 0), 0x0E000000u);
  ExpectWrite(CHIPSET, 0x01);
  EXPECT_EQ(VOXA_Get_MainBaudrate(), 460800);
  EXPECT_EQ(VOXA_Get_AuxBaudrate(), 921600);

  EXPECT_EQ(VOXA_Set_AuxBaudrate(19200), 0);
  EXPECT_EQ(VOXA_Is_Err(), 0);
  ExpectNothing();
  EXPECT_EQ(Image(CHIPSET, 0), 0x0E000000u);
}

TEST_F(SystemControl, FieldsKeepOnlyTheirBits) {
  SetImage(CHIPSET, 3, 0x00000001);
  ASSERT_EQ(VOXA_Set_GIOMap(0x1A5), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x08).at(0), 0xA5000001u);
  ASSERT_EQ(VOXA_Set_InportMode(0x107), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x08).at(0), 0xA5000301u);
  EXPECT_EQ(VOXA_Get_InportMode(), 3);
  EXPECT_EQ(VOXA_Get_GIOMap(), 0xA5);
  ASSERT_EQ(VOXA_Set_OutportMode(0x106), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x08).at(0), 0xA5000B01u);
  EXPECT_EQ(VOXA_Get_OutportMode(), 2);

  ASSERT_EQ(VOXA_Set_ImStopDec(70000), 1);
  EXPECT_EQ(ExpectWrite(VELAUXSET, 0x02).at(0) & 0xFFFF, 4464u);
  EXPECT_EQ(VOXA_Get_ImStopDec(), 4464);
}

TEST_F(SystemControl, StepExecutionIsSentWithTheSystemTagAndReadFromTheBoardReport) {
  SetImage(CHIPSTATUS, 0, 0);
  ASSERT_EQ(VOXA_Enable_StepExe(1), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x01, kTagSystem).at(0) & 0x08, 0x08u);
  EXPECT_EQ(VOXA_Is_StepExe(), 0);
  SetImage(CHIPSTATUS, 0, 0x08);  // as a state packet leaves it
  EXPECT_EQ(VOXA_Is_StepExe(), 1);
}

TEST_F(SystemControl, ExecutionCommandsCarryTheSystemTag) {
  const struct {
    int (*call)();
    uint8_t code;
  } cases[] = {{VOXA_Enable_Exe, 0x02}, {VOXA_AlarmReset, 0x03}, {VOXA_Resume, 0x04}, {VOXA_Update_Baudrate, 0x0B},
               {VOXA_Pause, 0x57},      {VOXA_Cancel, 0x55},     {VOXA_ImStop, 0x50}, {VOXA_DecStop, 0x51}};
  for (bool immediate : {false, true}) {
    if (immediate) Immediate();
    for (auto k : cases) {
      ASSERT_EQ(k.call(), 1);
      HostFrame f = Next();
      EXPECT_EQ(f.opcode, k.code | (immediate ? 0x80 : 0));
      EXPECT_EQ(f.tag, kTagSystem);
      EXPECT_EQ(f.mask, k.code < 0x10 ? -1 : 0);
    }
  }
  ASSERT_EQ(VOXA_EStop(1), 1);
  ExpectAction(0x50, 0, kTagSystem);
  ASSERT_EQ(VOXA_EStop(0), 1);
  ExpectAction(0x51, 0, kTagSystem);
}

TEST_F(SystemControl, ResetDropsQueuedCommandsAndClearsTheBoardQueueAtOnce) {
  SetImage(CHIPSTATUS, 0, 0x01);  // busy: nothing leaves the soft queue
  ASSERT_EQ(VOXA_Set_Acc(100), 1);
  ASSERT_EQ(VOXA_Set_Dec(100), 1);
  ExpectNothing();

  ASSERT_EQ(VOXA_Reset(), 1);
  ExpectSystem(0x88);  // overtakes the queue
  ExpectNothing();
  SetImage(CHIPSTATUS, 0, 0);
  ExpectSystem(0x00);
  ExpectNothing();  // the two writes were dropped
}

TEST_F(SystemControl, ContinuousExecutionSwitchesByActionWithoutAWrite) {
  SetImage(CHIPSET, 0, 0);
  ASSERT_EQ(VOXA_Enable_CExe(7), 1);
  ExpectAction(0x6C, 0);
  EXPECT_EQ(VOXA_Is_CExe(), 1);
  ASSERT_EQ(VOXA_Enable_CExe(0), 1);
  ExpectAction(0x6D, 0);
  ExpectNothing();
  EXPECT_EQ(Image(CHIPSET, 0), 0u);
}

TEST_F(SystemControl, DelaysLoadTheirOperandsAndCarryTheCommandId) {
  SetImage(CAL0, 3, 77);
  ASSERT_EQ(VOXA_Delay(1500), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x07), (std::vector<uint32_t>{1500, 0, 0}));
  ExpectAction(0x56, 0);
  EXPECT_EQ(Image(CAL0, 3), 77u);

  Immediate();
  ASSERT_EQ(VOXA_XDelay(9, 5, 511, 2, -1, 6), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x1F), (std::vector<uint32_t>{9, 0x800C0005, (2u << 16) | 0xFF, 0xFFFFFFFF, 6}));
  ExpectAction(0x56, 0);
}

TEST_F(SystemControl, ExecutionStateComesFromTheBoardReport) {
  const struct {
    uint32_t status;
    int estop, pause, alarm, emg;
  } cases[] = {{0x00, 0, 0, 0, 0}, {0x10, 0, 1, 0, 1}, {0x80, 0, 0, 1, 0}, {0x90, 1, 0, 1, 1}};
  for (auto k : cases) {
    SetImage(CHIPSTATUS, 0, k.status);
    EXPECT_EQ(VOXA_Is_EStop(), k.estop) << k.status;
    EXPECT_EQ(VOXA_Is_Pause(), k.pause) << k.status;
    EXPECT_EQ(VOXA_Is_Alarm(), k.alarm) << k.status;
    EXPECT_EQ(VOXA_Is_EmgExe(), k.emg) << k.status;
  }
  SetImage(CHIPSTATUS, 0, 0x20);
  EXPECT_EQ(VOXA_Is_EnableExe(), 1);
  SetImage(CHIPSTATUS, 0, 0);
}

TEST(MotionClosedBoard, EveryFamilyReportsItsFailureValue) {
  {
    FakeBoard peer;
    ASSERT_GE(peer.Open(), 0);
  }  // closed again, still the current board
  int (*minus_one[])(int) = {VOXA_Get_PulseMode, VOXA_Get_SoftLimitMode, VOXA_Get_DwellTimeAxis, VOXA_Get_EncZCount,
                             VOXA_Get_GearRatio, VOXA_Get_HomeMode,      VOXA_Get_HomeDev,       VOXA_Get_HomeSeekOffsetPulse};
  for (auto f : minus_one) {
    EXPECT_EQ(f(0x01), -1);
    EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_NOT_OPEN);
  }
  int (*minus_one_board[])() = {VOXA_Get_InterruptMode, VOXA_Get_ExtEmgStopMode, VOXA_Get_ImStopDec, VOXA_Get_VelMode,
                                VOXA_Get_DwellTime,     VOXA_Get_VelCtrlHz,      VOXA_Get_PosMode,   VOXA_Get_PosDispMode};
  for (auto f : minus_one_board) EXPECT_EQ(f(), -1);
  EXPECT_EQ(VOXA_Get_CurPos(0x01), 0);
  EXPECT_EQ(VOXA_Get_VelMultiplier(), 0);
  EXPECT_EQ(VOXA_Reset(), 0);
  const int values[8] = {};
  EXPECT_EQ(VOXA_Line(0x01, values), 0);
  EXPECT_EQ(VOXA_Is_Err(), 1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_NOT_OPEN);
}

}  // namespace
}  // namespace voxa::test
