// Servo signals, general-purpose and extension I/O against a fake board.
#include <climits>
#include <cstdint>

#include "families/io_fixture.h"

namespace voxa::test {
namespace {

using IoServo = IoBoard;
using IoGeneral = IoBoard;

TEST_F(IoServo, OutputBitChangesTheSelectedAxesAndIsReadBackAtOnce) {
  SetImage(SERVOIO, 0, 0);
  SetImage(SERVOIO, 2, 0x10);
  ASSERT_EQ(VOXA_Set_ServoOn(0x05, 1), 1);
  auto v = ExpectWrite(SERVOIO, 0x05);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0] & 0x10, 0x10u);
  EXPECT_EQ(VOXA_Is_ServoOn(0x04), 1);  // before the board answers anything

  // Only the low 8 bits of a mask select axes: nothing to send.
  EXPECT_EQ(VOXA_Set_ServoOn(0x7FFFFF00, 0), 1);
  EXPECT_TRUE(peer_.ExpectNoFrame(60));
  EXPECT_EQ(VOXA_Is_ServoOn(0x100 | 0x01), 1);
}

TEST_F(IoServo, LevelsAndModesOutsideTheirValuesAreRejected) {
  const uint32_t before = Image(SERVOIO, 0);
  ExpectRejected(VOXA_Set_ServoOnLevel(0x01, 2));
  ExpectRejected(VOXA_Set_ServoReadyLevel(0x01, -1));
  ExpectRejected(VOXA_Set_ServoOnMode(0x01, 4));
  ExpectRejected(VOXA_Set_ServoOnMode(0x01, INT_MIN));
  EXPECT_EQ(Image(SERVOIO, 0), before);

  ASSERT_EQ(VOXA_Set_ServoOnMode(0x01, 3), 1);
  EXPECT_EQ(ExpectWrite(SERVOIO, 0x01).at(0) >> 30, 3u);
  EXPECT_EQ(VOXA_Get_ServoOnMode(0x01), 3);
}

TEST_F(IoServo, PulseTimeIsStoredAsTheNextStep) {
  const struct {
    int time;
    int reads;
  } cases[] = {{50, 100}, {1000, 500}, {0, 1}, {-5, 1}, {2, 10}, {10, 10}, {11, 100}, {101, 500}, {INT_MIN, 1}};
  for (auto k : cases) {
    ASSERT_EQ(VOXA_Set_ServoPulseTime(0x02, k.time), 1);
    ExpectWrite(SERVOIO, 0x02);
    EXPECT_EQ(VOXA_Get_ServoPulseTime(0x02), k.reads) << k.time;
  }
}

TEST_F(IoServo, InPositionTimeIsOneBoardWideValueSentWithTheConfigTag) {
  ASSERT_EQ(VOXA_Set_ServoInposTime(3, 70000), 1);
  auto v = ExpectWrite(PULSEOFFSET, 0x20, kTagConfig);
  EXPECT_EQ(v.at(0) & 0xFFFF, 4464u);
  EXPECT_EQ(VOXA_Get_ServoInposTime(6), 4464);

  ASSERT_EQ(VOXA_Enable_ServoInposAlarm(0x80, 1), 1);
  EXPECT_EQ(ExpectWrite(SERVOIO, 0x80, kTagConfig).at(0) & 0x10000000, 0x10000000u);
}

TEST_F(IoServo, InputsReadTheBoardStatusOfTheLowestAxisOrAxisSeven) {
  SetImage(AXISSTATUS, 2, 0x100);
  SetImage(AXISSTATUS, 3, 0);
  SetImage(AXISSTATUS, 7, 0x400);
  EXPECT_EQ(VOXA_Is_ServoReady(0x0C), 1);
  EXPECT_EQ(VOXA_Is_ServoReady(0x08), 0);
  EXPECT_EQ(VOXA_Is_ServoAlarm(0), 1);
  EXPECT_EQ(VOXA_Is_ServoAlarm(INT_MIN), 1);  // no axis bit set
}

TEST(IoClosedBoard, ServoOnModeFailsWithMinusOne) {
  {
    FakeBoard peer;
    ASSERT_GE(peer.Open(), 0);
  }  // closed again, still the current board
  EXPECT_EQ(VOXA_Get_ServoOnMode(0x01), -1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_NOT_OPEN);
  EXPECT_EQ(VOXA_Set_ServoOn(0x01, 1), 0);
}

TEST_F(IoGeneral, OutputBitCommandsLoadTheirOperandAndRunInTheStream) {
  SetImage(GIO, 4, 0x55);
  ASSERT_EQ(VOXA_SetBit_GOut(0x0F), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x10).at(0), 0x0Fu);
  ExpectAction(0x70);
  ASSERT_EQ(VOXA_ClrBit_GOut(0x03), 1);
  EXPECT_EQ(ExpectWrite(CAL1, 0x10).at(0), 0x03u);
  ExpectAction(0x71);
  EXPECT_EQ(VOXA_Get_GOut(), 0x55);  // the output word changes only by the board

  ASSERT_EQ(VOXA_Wait_GIO(1, 2, 0xFFFFFFFFu, -4), 1u);
  auto v = ExpectWrite(CAL0, 0x0F);
  EXPECT_EQ(v, (std::vector<uint32_t>{1, 2, 0xFFFFFFFFu, 0xFFFFFFFCu}));
  ExpectAction(0x73);
}

TEST_F(IoGeneral, PatternGoesOutInChunksOf256Bits) {
  uint8_t pattern[64];
  for (int k = 0; k < 64; ++k) pattern[k] = static_cast<uint8_t>(k * 7 + 1);
  ASSERT_EQ(VOXA_Set_GIOPattern(300, pattern), 1);

  EXPECT_EQ(ExpectWrite(CAL0, 0x01).at(0), 300u);
  ExpectAction(0x78);
  for (int chunk = 0; chunk < 2; ++chunk) {
    auto v = ExpectWrite(CAL0, 0xFF);
    ASSERT_EQ(v.size(), 8u);
    for (int w = 0; w < 8; ++w) {
      const uint8_t* b = pattern + 32 * chunk + 4 * w;
      EXPECT_EQ(v[w], b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24) << chunk << "/" << w;
    }
    ExpectAction(0x77);
  }
  EXPECT_TRUE(peer_.ExpectNoFrame(60));

  // No bits: the count and the start, no chunk.
  ASSERT_EQ(VOXA_Set_GIOPattern(-1, pattern), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x01).at(0), 0xFFFFFFFFu);
  ExpectAction(0x78);
  EXPECT_TRUE(peer_.ExpectNoFrame(60));

  ExpectRejected(VOXA_Set_GIOPattern(300, nullptr));
  ASSERT_EQ(VOXA_Set_GIOPattern(0, nullptr), 1);  // nothing to read
  EXPECT_EQ(ExpectWrite(CAL0, 0x01).at(0), 0u);
  ExpectAction(0x78);
}

TEST_F(IoGeneral, PwmPacksPeriodAndDutyAndReadsThemBack) {
  ASSERT_EQ(VOXA_Set_PWM(1, 1000, 250), 1);
  EXPECT_EQ(ExpectWrite(GIO, 0x80).at(0), 0x03E800FAu);
  EXPECT_EQ(Image(GIO, 7), 0x03E800FAu);
  EXPECT_EQ(VOXA_Get_PWMPeriodCount(1), 1000);
  EXPECT_EQ(VOXA_Get_PWMDutyCount(1), 250);
  EXPECT_EQ(VOXA_Get_PWMDutyCount(0x10001), 250);  // the low 16 bits of the index count

  // A zero count is reported as an error.
  SetImage(GIO, 6, 0x00640000);
  EXPECT_EQ(VOXA_Get_PWMPeriodCount(0), 100);
  EXPECT_EQ(VOXA_Get_PWMDutyCount(0), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
  EXPECT_EQ(VOXA_Get_PWMPeriodCount(2), 0);
  EXPECT_EQ(VOXA_Is_Err(), 1);

  ExpectRejected(VOXA_Set_PWM(2, 1, 1));
  EXPECT_EQ(Image(GIO, 7), 0x03E800FAu);
}

TEST_F(IoGeneral, IndexedWordsRejectIndicesOutsideTheirRange) {
  SetImage(GIO, 1, 0x00020001);
  SetImage(GIO, 3, 0xBEEF0000);
  EXPECT_EQ(VOXA_Get_GIOUpCounter(1), 2);
  EXPECT_EQ(VOXA_Get_ADC(3), 0xBEEF);
  ExpectRejected(VOXA_Get_ADC(4));
  ExpectRejected(VOXA_Get_ADC(-1));
  ExpectRejected(VOXA_Get_GIOUpCounter(INT_MAX));
  ExpectRejected(VOXA_Enable_GIOEncoder(2, 1));
  ExpectRejected(VOXA_Set_GIOEncoder(0x20002, 1));

  ASSERT_EQ(VOXA_Set_GIOUpCounter(1, 0x12345), 1);
  EXPECT_EQ(ExpectWrite(GIO, 0x02).at(0), 0x23450001u);
  ASSERT_EQ(VOXA_Set_GIOEncoder(0x10001, -7), 1);
  EXPECT_EQ(ExpectWrite(EXTIO, 0x02).at(0), 0xFFFFFFF9u);
  EXPECT_EQ(VOXA_Get_GIOEncoder(1), -7);
}

TEST_F(IoGeneral, ExtensionWordsZeroToTwoAreTheBoards) {
  SetImage(EXTIO, 1, 77);
  VOXA_Set_BoardID(99);  // leaves -10 as the last error
  ASSERT_EQ(VOXA_Set_BoardID(peer_.board()), 1);
  EXPECT_EQ(VOXA_Set_ExtIO(1, 5), 0);
  EXPECT_EQ(VOXA_Is_Err(), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_BOARD_ID);
  EXPECT_TRUE(peer_.ExpectNoFrame(60));
  EXPECT_EQ(Image(EXTIO, 1), 77u);

  ExpectRejected(VOXA_Set_ExtIO(8, 5));
  ExpectRejected(VOXA_Get_ExtIO(-1));

  ASSERT_EQ(VOXA_Set_ExtIO(3, 5), 1);
  EXPECT_EQ(ExpectWrite(EXTIO, 0x08, kTagConfig).at(0), 5u);
  EXPECT_EQ(VOXA_Get_ExtIO(3), 5);
}

TEST_F(IoGeneral, ControlCodeTravelsWithEveryLaterChipWordThreeWrite) {
  SetImage(CHIPSET, 3, 0);
  ASSERT_EQ(VOXA_Restart_ExtIO(), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x08, kTagConfig).at(0), 0x00030000u);
  ASSERT_EQ(VOXA_Enable_ExtServoIO(1), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x08, kTagConfig).at(0), 0x00038000u);
  ASSERT_EQ(VOXA_Enable_ExtIO(0x100), 1);  // only the low 8 bits count: off
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x08, kTagConfig).at(0), 0x00038000u);
  EXPECT_EQ(VOXA_Is_Enable_ExtIO(), 0);
  ASSERT_EQ(VOXA_Enable_GIOEncoder(1, 1), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x08, kTagConfig).at(0), 0x0003A000u);
}

TEST_F(IoGeneral, LinkStatusKeepsTheLinkBitsInPlace) {
  SetImage(AXISSTATUS, 0, 0x50000123);
  EXPECT_EQ(static_cast<uint32_t>(VOXA_Get_ExtIO_Link_Status(0)), 0x50000000u);
  EXPECT_EQ(VOXA_Is_ExtIO_Link0(0), 1);
  EXPECT_EQ(VOXA_Is_ExtIO_Link1(0), 0);
  EXPECT_EQ(VOXA_Is_ExtIO_Link2(0), 1);
  ExpectRejected(VOXA_Is_ExtIO_Link3(8));
}

}  // namespace
}  // namespace voxa::test
