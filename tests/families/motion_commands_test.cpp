// Positions, motion commands and home return against a fake board.
#include <climits>
#include <cstdint>

#include "families/motion_fixture.h"

namespace voxa::test {
namespace {

using Positions = MotionBoard;
using MotionCommands = MotionBoard;
using HomeReturn = MotionBoard;

TEST_F(Positions, WholeWordsAndSixteenBitFields) {
  ASSERT_EQ(VOXA_Set_CurPos(0xFF, -100), 1);
  EXPECT_EQ(ExpectWrite(CURPOS, 0xFF), std::vector<uint32_t>(8, static_cast<uint32_t>(-100)));
  EXPECT_EQ(VOXA_Get_CurPos(0), -100);

  SetImage(AXISAUXSET, 3, 0xABCD0000);
  ASSERT_EQ(VOXA_Set_Backlash(0x08, 0x1FFFF), 1);
  EXPECT_EQ(ExpectWrite(AXISAUXSET, 0x08).at(0), 0xABCDFFFFu);  // the dwell time is kept
  EXPECT_EQ(VOXA_Get_Backlash(0x08), 0x3FFF);

  SetImage(AXISSET, 3, 1u << 20);
  ASSERT_EQ(VOXA_Enable_Backlash(0x08, 0x100), 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x08).at(0), 0u);

  SetImage(FEEDBACK, 7, 0x12345678);
  EXPECT_EQ(VOXA_Get_EncZCount(0), 0x5678);

  ExpectRejected(VOXA_Set_PosMode(2));
  ASSERT_EQ(VOXA_Set_PosDispMode(1), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x01).at(0) & 0xC000, 0x8000u);
}

TEST_F(MotionCommands, LineLoadsTheSelectedEndPointsThenActs) {
  for (int i = 0; i < 8; ++i) SetImage(CAL0, i, 0xEE);
  const int values[8] = {10, 20, 30, 40, 50, 60, 70, 80};
  ASSERT_EQ(VOXA_Line(0x105, values), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x05), (std::vector<uint32_t>{10, 30}));
  ExpectAction(0x5B, 0x05);
  EXPECT_EQ(Image(CAL0, 1), 0xEEu);

  Immediate();
  ASSERT_EQ(VOXA_Line(0x02, values), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x02), (std::vector<uint32_t>{20}));
  ExpectAction(0x5B, 0x02);

  ASSERT_EQ(VOXA_Line(0, values), 1);  // no operands, the action still goes
  ExpectAction(0x5B, 0);
  ASSERT_EQ(VOXA_IMove(0x100, values), 1);  // nothing at all
  ASSERT_EQ(VOXA_CMove(0, values), 1);
  ExpectNothing();

  ASSERT_EQ(VOXA_Home(0x81, -3), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x81), (std::vector<uint32_t>{0xFFFFFFFD, 0xFFFFFFFD}));
  ExpectAction(0x58, 0x81);
}

// A null array is rejected before anything changes where the selected axes
// would read it; where nothing is read the command goes as with an array.
TEST_F(MotionCommands, NullValuesAreRejectedOnlyWhereRead) {
  const int values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  SetImage(PULSEOFFSET, 1, 0);
  ExpectRejected(VOXA_Line(0x01, nullptr));
  ExpectRejected(VOXA_IMove(0x101, nullptr));
  ExpectRejected(VOXA_ArcCW(0x03, values, nullptr));
  ExpectRejected(VOXA_ArcCCW(0x03, nullptr, values));
  ExpectRejected(VOXA_XMove(0x03, nullptr, 1, 2, 3, 4));
  ExpectRejected(VOXA_BitPattern(0x01, nullptr, 20));
  EXPECT_EQ(Image(PULSEOFFSET, 1), 0u);

  ASSERT_EQ(VOXA_IMove(0, nullptr), 1);
  ASSERT_EQ(VOXA_CMove(0x100, nullptr), 1);
  EXPECT_EQ(VOXA_Is_Err(), 0);
  ExpectNothing();
  ASSERT_EQ(VOXA_Line(0, nullptr), 1);
  ExpectAction(0x5B, 0);
  ASSERT_EQ(VOXA_ArcCW(0, nullptr, nullptr), 1);
  ExpectAction(0x5C, 0);
  ASSERT_EQ(VOXA_IHome(0, nullptr), 1);
  ExpectAction(0x61, 0);
  ASSERT_EQ(VOXA_XMove(0, nullptr, 1, 2, 3, 4), 1);
  EXPECT_EQ(ExpectWrite(CAL1, 0x0F), (std::vector<uint32_t>{1, 2, 3, 4}));
  ExpectAction(0x60, 0);
  ASSERT_EQ(VOXA_BitPattern(0x01, nullptr, 0), 1);  // the count only
  EXPECT_EQ(ExpectWrite(PULSEOFFSET, 0x02).at(0), 0u);
  ASSERT_EQ(VOXA_BitPattern(0, nullptr, 20), 1);
  EXPECT_EQ(ExpectWrite(PULSEOFFSET, 0x02).at(0), 20u << 16);
  ExpectAction(0x5E, 0);
  EXPECT_EQ(VOXA_Is_Err(), 0);
  ExpectNothing();
}

TEST_F(MotionCommands, ArcWritesEndPointsBeforeCentres) {
  const int centre[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const int end[8] = {-1, -2, -3, -4, -5, -6, -7, -8};
  ASSERT_EQ(VOXA_ArcCCW(0x03, centre, end), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x03), (std::vector<uint32_t>{0xFFFFFFFF, 0xFFFFFFFE}));
  EXPECT_EQ(ExpectWrite(CAL1, 0x03), (std::vector<uint32_t>{1, 2}));
  ExpectAction(0x5D, 0x03);
}

TEST_F(MotionCommands, XMoveParametersGoToCalOneWithTheCommandId) {
  const int values[8] = {100, 200, 300, 400, 500, 600, 700, 800};
  ASSERT_EQ(VOXA_XMove(0x04, values, 7, -8, 0x12345, 9), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x04), (std::vector<uint32_t>{300}));
  EXPECT_EQ(ExpectWrite(CAL1, 0x0F), (std::vector<uint32_t>{7, 0xFFFFFFF8, 0x2345, 9}));
  ExpectAction(0x60, 0x04);
}

TEST_F(MotionCommands, BitPatternLoadsTheBlocksItsCountReaches) {
  int blocks[32];
  for (int k = 0; k < 32; ++k) blocks[k] = 1000 + k;
  SetImage(PULSEOFFSET, 1, 0x0000BEEF);  // the BPU value shares the word
  const struct {
    int count;
    int blocks;
  } cases[] = {{15, 1}, {16, 2}, {31, 2}, {32, 3}, {48, 4}, {INT_MAX, 4}, {0, 0}, {-1, 0}};
  for (auto k : cases) {
    ASSERT_EQ(VOXA_BitPattern(0x02, blocks, k.count), 1);
    EXPECT_EQ(ExpectWrite(PULSEOFFSET, 0x02).at(0), (static_cast<uint32_t>(k.count) << 16) | 0xBEEF) << k.count;
    for (int b = 0; b < k.blocks; ++b)
      EXPECT_EQ(ExpectWrite(CAL0 + b, 0x02), (std::vector<uint32_t>{static_cast<uint32_t>(1000 + 8 * b + 1)}));
    if (k.blocks) ExpectAction(0x5E, 0x02);
    ExpectNothing();
  }
}

TEST_F(MotionCommands, MasterAxisNibbles) {
  SetImage(CHIPSET, 5, 0xF000000F);
  ASSERT_EQ(VOXA_Set_MasterAxis(0x06, 0x101), 1);  // master: axis 0
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x20).at(0), 0xF000011Fu);
  EXPECT_EQ(VOXA_Get_MasterAxis(0x02), 0x01);
  ASSERT_EQ(VOXA_Set_MasterAxis(0x80, 0xC0), 1);  // master: axis 6, code 7
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x20).at(0), 0x7000011Fu);
  EXPECT_EQ(VOXA_Get_MasterAxis(0x80), 0x40);

  ASSERT_EQ(VOXA_Set_MasterAxis(0x06, 0), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x20).at(0), 0x7000000Fu);
  EXPECT_EQ(VOXA_Get_MasterAxis(0x02), 0);
  EXPECT_EQ(VOXA_Get_MasterAxis(0), 0);
  SetImage(CHIPSET, 5, 0x0000000F);  // code 15 is never written
  EXPECT_EQ(VOXA_Get_MasterAxis(0x01), 0);

  ASSERT_EQ(VOXA_Set_MasterAxis(0, 1), 1);  // the word is written anyway
  ExpectWrite(CHIPSET, 0x20);
}

TEST_F(MotionCommands, MiModeSwitchesByActionOnly) {
  SetImage(CHIPSET, 0, 0);
  Immediate();
  ASSERT_EQ(VOXA_Enable_MI(-1), 1);
  ExpectAction(0x64, 0);
  EXPECT_EQ(VOXA_Is_MI(), 1);
  ASSERT_EQ(VOXA_MIExe(), 1);
  ExpectAction(0x63, 0);
  ExpectNothing();
}

// The spindle and the per-axis home have their own actions; the BPU value
// shares PULSEOFFSET word 1 with the bit-pattern count.
TEST_F(MotionCommands, SpindleHomeAndTheBpuValue) {
  const int values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Immediate();
  ASSERT_EQ(VOXA_Spindle(0x06, -300), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x06), (std::vector<uint32_t>{0xFFFFFED4, 0xFFFFFED4}));
  ExpectAction(0x5F, 0x06);
  ASSERT_EQ(VOXA_IHome(0x09, values), 1);
  EXPECT_EQ(ExpectWrite(CAL0, 0x09), (std::vector<uint32_t>{1, 4}));
  ExpectAction(0x61, 0x09);
  Queued();

  SetImage(PULSEOFFSET, 1, 0x00300000);  // a bit-pattern count of 0x30
  ASSERT_EQ(VOXA_Set_BPU(0x12345), 1);
  EXPECT_EQ(ExpectWrite(PULSEOFFSET, 0x02).at(0), 0x00302345u);
  EXPECT_EQ(VOXA_Get_BPU(), 0x2345);
  ASSERT_EQ(VOXA_Enable_MI(0), 1);
  ExpectAction(0x65, 0);
  EXPECT_EQ(VOXA_Is_MI(), 0);
  ExpectNothing();
}

TEST_F(HomeReturn, DeviationIsStoredAsTheLargestStepNotAboveIt) {
  const struct {
    int requested, stored;
  } cases[] = {{1, 1},       {2, 2},     {3, 2},      {-7, 2},     {INT_MIN, 2},    {4, 4},     {8, 8},
               {9, 8},       {10, 10},   {12, 10},    {16, 16},    {19, 16},        {20, 20},   {32, 32},
               {40, 40},     {64, 64},   {80, 80},    {100, 80},   {127, 80},       {128, 128}, {159, 128},
               {160, 160},   {319, 160}, {320, 320},  {639, 320},  {640, 640},      {1279, 640}, {1280, 1280},
               {5000, 1280}, {INT_MAX, 1280}};
  SetImage(AXISSET, 4, 1u << 23);
  for (auto k : cases) {
    ASSERT_EQ(VOXA_Set_HomeDev(0x10, k.requested), 1);
    ExpectWrite(AXISSET, 0x10);
    EXPECT_EQ(VOXA_Get_HomeDev(0x10), k.stored) << k.requested;
    EXPECT_EQ(VOXA_Is_HomeDevAlarm(0x10), 1) << k.requested;
  }
  ASSERT_EQ(VOXA_Set_HomeDev(0x10, 100), 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x10).at(0), (1u << 23) | (3u << 24) | (1u << 27));

  ASSERT_EQ(VOXA_Set_HomeDev(0x10, 0), 1);  // alarm off, deviation kept
  EXPECT_EQ(ExpectWrite(AXISSET, 0x10).at(0), (3u << 24) | (1u << 27));
  EXPECT_EQ(VOXA_Is_HomeDevAlarm(0x10), 0);
  EXPECT_EQ(VOXA_Get_HomeDev(0x10), 80);
}

TEST_F(HomeReturn, SettingsAndSharedWordBits) {
  SetImage(HOMERETURN, 0, 0x00000123);
  ASSERT_EQ(VOXA_Set_HomeSeekOffsetPulse(0x01, -1), 1);
  EXPECT_EQ(ExpectWrite(HOMERETURN, 0x01).at(0), 0xFFFF0123u);
  EXPECT_EQ(VOXA_Get_HomeSeekOffsetPulse(0x01), 65535);
  EXPECT_EQ(VOXA_Get_HomeSeekVel(0x01), 0x123);

  ExpectRejected(VOXA_Set_HomeMode(0x01, 3));
  ExpectRejected(VOXA_Set_HomeDir(0x01, 2));
  SetImage(AXISSET, 0, 0x30000000);  // a code the host never writes
  EXPECT_EQ(VOXA_Get_HomeMode(0x01), 0);

  SetImage(CHIPSET, 4, 0x7);
  ASSERT_EQ(VOXA_HomeLimitAxis(0x81, 1), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x10).at(0), 0x8107u);
  EXPECT_EQ(VOXA_Is_HomeLimitAxis(0x80), 1);
  EXPECT_EQ(VOXA_Is_HomeLimitAxis(0x02), 0);
  ASSERT_EQ(VOXA_HomeBackSearchAxis(0x04, 1), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x10).at(0), 0x48107u);
  ASSERT_EQ(VOXA_HomeLimitAxis(0x81, 0x100), 1);  // low byte 0: off
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x10).at(0), 0x40007u);
  ASSERT_EQ(VOXA_HomeLimitAxis(0, 1), 1);  // no axis: the word is still sent
  ExpectWrite(CHIPSET, 0x10);
}

}  // namespace
}  // namespace voxa::test
