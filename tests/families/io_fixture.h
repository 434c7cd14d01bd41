// A board opened to a fake peer for the I/O family tests, with helpers to
// set and read the register image directly.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "api/board_table.h"
#include "support/peer.h"
#include "voxa/voxa.h"

namespace voxa::test {

constexpr uint8_t kTestTag = 0x21;

class IoBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(peer_.Open(), 0);
    ASSERT_EQ(VOXA_Set_CmdID(kTestTag), 1);
    peer_.Drain(50);
  }

  Controller& board() { return api::BoardAt(peer_.board()); }
  uint32_t Image(int r, int w) { return board().GetRegWord(r, w); }
  void SetImage(int r, int w, uint32_t v) { board().SetRegWord(r, w, v); }

  HostFrame Next() {
    auto f = peer_.NextFrame(1000);
    EXPECT_TRUE(f.has_value()) << "expected a frame";
    return f.value_or(HostFrame{});
  }
  // The frame is a register write of r with this word mask; its values.
  std::vector<uint32_t> ExpectWrite(int r, int mask, int tag = kTestTag) {
    HostFrame f = Next();
    EXPECT_TRUE(f.is_write(r)) << "opcode " << int(f.opcode) << ", expected a write of register " << r;
    EXPECT_EQ(f.mask, mask) << "register " << r;
    EXPECT_EQ(f.tag, tag) << "register " << r;
    return f.values;
  }
  void ExpectAction(uint8_t code, int tag = kTestTag) {
    HostFrame f = Next();
    EXPECT_EQ(f.code, code);
    EXPECT_EQ(f.mask, 0);
    EXPECT_EQ(f.tag, tag);
  }
  // A rejected argument: failure value, -50 and nothing sent.
  void ExpectRejected(int result, int failure = 0) {
    EXPECT_EQ(result, failure);
    EXPECT_EQ(VOXA_Is_Err(), 1);
    EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
    EXPECT_TRUE(peer_.ExpectNoFrame(60));
  }

  FakeBoard peer_;
};

}  // namespace voxa::test
