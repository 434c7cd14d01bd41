// Serial port numbers name the platform's devices; there is no port 0.
#include <gtest/gtest.h>

#include "platform/serial.h"

using voxa::platform::SerialDeviceName;

TEST(SerialName, PortNumbersNameThePlatformsDevices) {
#ifdef _WIN32
  EXPECT_EQ(SerialDeviceName(1), "COM1");
  EXPECT_EQ(SerialDeviceName(4), "COM4");
  EXPECT_EQ(SerialDeviceName(5), "\\\\.\\COM5");
  EXPECT_EQ(SerialDeviceName(20), "\\\\.\\COM20");
#else
  EXPECT_EQ(SerialDeviceName(1), "/dev/ttyS0");
  EXPECT_EQ(SerialDeviceName(12), "/dev/ttyS11");
#endif
  EXPECT_EQ(SerialDeviceName(0), "");
}
