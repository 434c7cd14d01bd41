// Axis output, limits and the velocity profile against a fake board.
#include <climits>
#include <cstdint>

#include "families/motion_fixture.h"

namespace voxa::test {
namespace {

using AxisOutput = MotionBoard;
using Velocity = MotionBoard;

TEST_F(AxisOutput, PulseModeIsStoredThroughItsCodeTable) {
  for (int i = 0; i < 8; ++i) SetImage(AXISSET, i, 0xF0);
  ASSERT_EQ(VOXA_Set_PulseMode(0x03, 0), 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x03), (std::vector<uint32_t>{0xF3, 0xF3}));
  EXPECT_EQ(VOXA_Get_PulseMode(0x02), 0);
  EXPECT_EQ(Image(AXISSET, 2), 0xF0u);

  Immediate();
  ASSERT_EQ(VOXA_Set_PulseMode(0x104, 2), 1);  // bit 8 selects nothing
  EXPECT_EQ(ExpectWrite(AXISSET, 0x04), (std::vector<uint32_t>{0xF0}));
  EXPECT_EQ(VOXA_Get_PulseMode(0x04), 2);
  ASSERT_EQ(VOXA_Set_PulseMode(0x04, 1), 1);
  ExpectWrite(AXISSET, 0x04);
  EXPECT_EQ(VOXA_Get_PulseMode(0x04), 1);
  SetImage(AXISSET, 7, 0x02);  // a code the host never writes
  EXPECT_EQ(VOXA_Get_PulseMode(0), 0);

  ExpectRejected(VOXA_Set_PulseMode(0x01, 3));
  ExpectRejected(VOXA_Set_PulseMode(0x01, INT_MIN));
  EXPECT_EQ(Image(AXISSET, 0), 0xF3u);
}

TEST_F(AxisOutput, LimitFlagsTestTheLowByteOrTheWholeValue) {
  for (int i = 0; i < 8; ++i) SetImage(AXISSET, i, 0);
  ASSERT_EQ(VOXA_Enable_LowerLimit(0x01, 256), 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x01).at(0), 0u);
  ASSERT_EQ(VOXA_Enable_SoftLowerLimit(0x01, 256), 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x01).at(0), 1u << 18);
  ASSERT_EQ(VOXA_Set_LowerLimitLevel(0x01, 256), 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x01).at(0), (1u << 18) | (1u << 12));
  EXPECT_EQ(VOXA_IsEnable_LowerLimit(0x01), 0);

  ExpectRejected(VOXA_Set_PulseLevel(0x01, 2));
  ExpectRejected(VOXA_Set_CcwLevel(0x01, -1));
  ASSERT_EQ(VOXA_Set_CwLevel(0x01, 1), 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x01).at(0) & 0x4, 0x4u);
  EXPECT_EQ(VOXA_Get_PulseLevel(0x01), 1);

  ASSERT_EQ(VOXA_Enable_UpperLimit(0, 1), 1);  // no axis: nothing to send
  ExpectNothing();
}

TEST_F(AxisOutput, SoftLimitModeZeroSwitchesTheLimitsOffAndKeepsTheCode) {
  SetImage(AXISSET, 1, 0x000C0000 | 0x40);  // both limits on, code 1 (mode 2)
  ASSERT_EQ(VOXA_Set_SoftLimitMode(0x02, 0), 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x02).at(0), 0x40u);
  EXPECT_EQ(VOXA_Get_SoftLimitMode(0x02), 2);

  ASSERT_EQ(VOXA_Set_SoftLimitMode(0x02, 3), 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x02).at(0), 0x80u);
  EXPECT_EQ(VOXA_Get_SoftLimitMode(0x02), 3);
  ExpectRejected(VOXA_Set_SoftLimitMode(0x02, 4));

  ASSERT_EQ(VOXA_Set_SoftLowerLimit(0x06, -5000), 1);
  EXPECT_EQ(ExpectWrite(SLIMITL, 0x06), (std::vector<uint32_t>{0xFFFFEC78, 0xFFFFEC78}));
  EXPECT_EQ(VOXA_Get_SoftLowerLimit(0x04), -5000);
}

TEST_F(AxisOutput, PulseWidthAndStatusQueries) {
  SetImage(CHIPSET, 4, 0xFF00);
  ASSERT_EQ(VOXA_Set_AxisPulseWidth(9), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x10).at(0), 0xFF01u);
  EXPECT_EQ(VOXA_Get_AxisPulseWidth(), 1);

  for (int i = 0; i < 8; ++i) SetImage(AXISSTATUS, i, 0);
  SetImage(AXISSTATUS, 2, 0x40 | 0x04);
  SetImage(AXISSTATUS, 7, 0x1000 | 0x08);
  EXPECT_EQ(VOXA_Is_CCW(0x0C), 1);  // lowest selected: axis 2
  EXPECT_EQ(VOXA_Is_CW(0x0C), 0);
  EXPECT_EQ(VOXA_Is_CW(0x08), 1);
  EXPECT_EQ(VOXA_Is_LimitL(0x04), 1);
  EXPECT_EQ(VOXA_Is_LimitH(0), 1);  // no axis: axis 7
  EXPECT_EQ(VOXA_Is_PositionAlarm(0x100), 1);
  EXPECT_EQ(VOXA_Is_PositionAlarm(0x80), 1);
  EXPECT_EQ(VOXA_Is_AlarmAxis(0), 0);
}

TEST_F(Velocity, VelocityModeThreeClearsTheStartModeBitAndSendsBothWords) {
  SetImage(CHIPSET, 0, 0x100);
  SetImage(CHIPSET, 1, (1u << 25) | (1u << 26));
  ASSERT_EQ(VOXA_Set_VelMode(1), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x03), (std::vector<uint32_t>{0x101, (1u << 25) | (1u << 26)}));
  ASSERT_EQ(VOXA_Set_VelMode(3), 1);
  EXPECT_EQ(ExpectWrite(CHIPSET, 0x03), (std::vector<uint32_t>{0x103, 1u << 26}));
  EXPECT_EQ(VOXA_Get_VelMode(), 3);
  ExpectRejected(VOXA_Set_VelMode(4));

  SetImage(AXISSET, 0, 0);
  ExpectRejected(VOXA_Set_VelModeAxis(0x01, 3));
  EXPECT_EQ(Image(AXISSET, 0), 0u);
  EXPECT_EQ(VOXA_Set_VelModeAxis(0, 3), 1);  // no axis selected: nothing to refuse
  ExpectNothing();
  ASSERT_EQ(VOXA_Set_VelModeAxis(0x01, 2), 1);
  EXPECT_EQ(ExpectWrite(AXISSET, 0x01).at(0), 0x200u);
  EXPECT_EQ(VOXA_Get_VelModeAxis(0x01), 2);
}

TEST_F(Velocity, BoardWideAndAxisValuesShareWordZero) {
  SetImage(STARTVEL, 0, 0x00001111);
  ASSERT_EQ(VOXA_Set_StartVel(0x12345), 1);
  EXPECT_EQ(ExpectWrite(STARTVEL, 0x01).at(0), 0x23451111u);  // axis 0's value travels too
  EXPECT_EQ(VOXA_Get_StartVel(), 0x2345);
  ASSERT_EQ(VOXA_Set_StartVelAxis(0x03, 0xFFFF7777), 1);
  EXPECT_EQ(ExpectWrite(STARTVEL, 0x03).at(0), 0x23457777u);
  EXPECT_EQ(VOXA_Get_StartVel(), 0x2345);
  EXPECT_EQ(VOXA_Get_StartVelAxis(0x02), 0x7777);

  SetImage(DRIVEVEL, 1, 0xABCD0042);
  Immediate();
  ASSERT_EQ(VOXA_Set_DriveVel(500), 1);
  auto v = ExpectWrite(DRIVEVEL, 0x03);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0] >> 16, 500u);
  EXPECT_EQ(v[1], 0x42u);
}

TEST_F(Velocity, OverridesAreClampedAndMustBePositive) {
  SetImage(VELAUXSET, 3, 0);
  SetImage(VELAUXSET, 4, 0);
  ASSERT_EQ(VOXA_Set_VelOverride(70000), 1);
  EXPECT_EQ(ExpectWrite(VELAUXSET, 0x08).at(0), 60000u);
  ASSERT_EQ(VOXA_Set_VelOverride2(INT_MAX), 1);
  EXPECT_EQ(ExpectWrite(VELAUXSET, 0x08).at(0), (60000u << 16) | 60000u);
  ASSERT_EQ(VOXA_Set_S2VelOverride(20000), 1);
  EXPECT_EQ(ExpectWrite(VELAUXSET, 0x10).at(0), 10000u << 16);
  EXPECT_EQ(VOXA_Get_S2VelOverride(), 10000);
  ExpectRejected(VOXA_Set_VelOverride(0));
  ExpectRejected(VOXA_Set_S1VelOverride(-5));
  EXPECT_EQ(VOXA_Get_VelOverride(), 60000);

  ASSERT_EQ(VOXA_Set_FFC_PMax(5000), 1);
  EXPECT_EQ(ExpectWrite(VELAUXSET, 0x04).at(0) & 0xFFFF, 1000u);
  ASSERT_EQ(VOXA_Set_FFC_PMax(-1), 1);  // no lower bound
  EXPECT_EQ(ExpectWrite(VELAUXSET, 0x04).at(0) & 0xFFFF, 0xFFFFu);
}

TEST_F(Velocity, MultiplierIsStoredAsItsExponent) {
  SetImage(VELAUXSET, 0, 0xAAAA00BB);
  ASSERT_EQ(VOXA_Set_VelMultiplier(8), 1);
  EXPECT_EQ(ExpectWrite(VELAUXSET, 0x01).at(0), 0xAAAA03BBu);
  EXPECT_EQ(VOXA_Get_VelMultiplier(), 8);
  for (int bad : {3, 64, 0, -8, INT_MIN}) ExpectRejected(VOXA_Set_VelMultiplier(bad));
  EXPECT_EQ(VOXA_Get_VelMultiplier(), 8);
  ASSERT_EQ(VOXA_Set_VelMultiplier(1), 1);
  EXPECT_EQ(ExpectWrite(VELAUXSET, 0x01).at(0), 0xAAAA00BBu);
  EXPECT_EQ(VOXA_Get_VelMultiplier(), 1);
}

TEST_F(Velocity, DwellAndSwitches) {
  SetImage(AXISAUXSET, 5, 0x1234);
  ASSERT_EQ(VOXA_Set_DwellTimeAxis(0x20, 0xFFFF), 1);
  EXPECT_EQ(ExpectWrite(AXISAUXSET, 0x20).at(0), 0xFFFF1234u);
  EXPECT_EQ(VOXA_Get_DwellTimeAxis(0x20), 0x3FFF);

  SetImage(CHIPSET, 0, 0);
  ASSERT_EQ(VOXA_Enable_CLV(1), 1);
  ExpectAction(0x6A, 0);
  ExpectNothing();  // no register write
  EXPECT_EQ(VOXA_Is_CLV(), 1);
  Immediate();
  ASSERT_EQ(VOXA_Enable_CLV(0), 1);
  ExpectAction(0x6B, 0);
  ASSERT_EQ(VOXA_Lock_VelOverride(), 1);
  ExpectAction(0x79, 0);
}

}  // namespace
}  // namespace voxa::test
