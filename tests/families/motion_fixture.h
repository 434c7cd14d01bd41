// A board opened to a fake peer for the system-control and motion family
// tests: direct access to the register image, and expectations on the
// frames the peer receives.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "api/board_table.h"
#include "support/peer.h"
#include "voxa/voxa.h"

namespace voxa::test {

class MotionBoard : public ::testing::Test {
 protected:
  static constexpr uint8_t kId = 0x35;  // command ID and register-write tag

  void SetUp() override {
    ASSERT_GE(peer_.Open(), 0);
    board().SetCommandMode(0);  // the mode survives a close: start queued
    ASSERT_EQ(VOXA_Set_CmdID(kId), 1) << "last error " << VOXA_Get_LastErr();
    peer_.Drain(50);
  }
  void TearDown() override {
    if (immediate_) VOXA_Leave_ImCmd();
  }

  Controller& board() { return api::BoardAt(peer_.board()); }
  uint32_t Image(int r, int w) { return board().GetRegWord(r, w); }
  void SetImage(int r, int w, uint32_t v) { board().SetRegWord(r, w, v); }

  // Switches to immediate mode (and back) through the exports; the board is
  // told with a system command each way.
  void Immediate() {
    VOXA_Enter_ImCmd();
    immediate_ = true;
    EXPECT_EQ(Next().code, 0x0C);
  }
  void Queued() {
    VOXA_Leave_ImCmd();
    immediate_ = false;
    EXPECT_EQ(Next().code, 0x0D);
  }

  HostFrame Next() {
    auto f = peer_.NextFrame(1000);
    EXPECT_TRUE(f.has_value()) << "expected a frame";
    return f.value_or(HostFrame{});
  }
  // The next frame is a register write of r for these words, with the
  // immediate flag of the current mode; returns its values.
  std::vector<uint32_t> ExpectWrite(int r, int mask, int tag = kId) {
    HostFrame f = Next();
    EXPECT_TRUE(f.is_write(r)) << "opcode 0x" << std::hex << int(f.opcode) << ", expected a write of register "
                               << std::dec << r;
    EXPECT_EQ(f.opcode, (0x11 + 2 * r) | (immediate_ ? 0x80 : 0));
    EXPECT_EQ(f.mask, mask) << "register " << r;
    EXPECT_EQ(f.descriptor & 0x30, 0x20);
    EXPECT_EQ(f.tag, tag) << "register " << r;
    return f.values;
  }
  void ExpectAction(uint8_t code, int mask, int tag = kId) {
    HostFrame f = Next();
    EXPECT_EQ(f.opcode, code | (immediate_ ? 0x80 : 0)) << "expected action 0x" << std::hex << int(code);
    EXPECT_EQ(f.mask, mask);
    EXPECT_EQ(f.tag, tag);
  }
  void ExpectSystem(uint8_t opcode, int tag = kTagSystem) {
    HostFrame f = Next();
    EXPECT_EQ(f.opcode, opcode);
    EXPECT_EQ(f.mask, -1);
    EXPECT_EQ(f.tag, tag);
  }
  void ExpectNothing() { EXPECT_TRUE(peer_.ExpectNoFrame(60)); }
  // A rejected argument: failure value, -50 and nothing sent.
  void ExpectRejected(int result, int failure = 0) {
    EXPECT_EQ(result, failure);
    EXPECT_EQ(VOXA_Is_Err(), 1);
    EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
    ExpectNothing();
  }

  FakeBoard peer_;
  bool immediate_ = false;
};

}  // namespace voxa::test
