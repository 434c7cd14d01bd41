// The controller against a fake board that stops reading, on Linux: the
// kernel's socket buffers fill and stay full. (Windows' buffering of an
// unread loopback connection does not fill within the test's time.)
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/peer.h"
#include "voxa/voxa.h"

namespace {

using voxa::test::FakeBoard;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

}  // namespace

TEST(Controller, AnImmediateCommandTheLinkCannotTakeFailsWithACode) {
  // A board that keeps its link but stops reading: once the sockets and the
  // transmit ring are full, an immediate command waits the send limit and
  // fails with -60 instead of reporting success; queued ones stay queued.
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  peer.StopReading(true);
  std::this_thread::sleep_for(300ms);  // the fake board's loop has let go of the socket
  int ends[8];
  int calls = 0, result = 1;
  VOXA_Enter_ImCmd();
  const auto t0 = Clock::now();
  while (result == 1 && calls < 2000000 && Clock::now() - t0 < 20s) {
    for (int i = 0; i < 8; ++i) ends[i] = calls * 8 + i;
    result = VOXA_Line(0xFF, ends);
    ++calls;
  }
  VOXA_Leave_ImCmd();
  ASSERT_EQ(result, 0) << "every one of " << calls << " immediate lines was reported sent";
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_SEND);
  EXPECT_STREQ(VOXA_Get_ErrText(VOXA_ERR_SEND), "the link could not take the command within 500 ms");
  peer.Close();
}
