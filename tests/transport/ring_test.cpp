// The byte ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>

#include "transport/byte_ring.h"

namespace voxa {
namespace {

TEST(ByteRing, ClampsItsSize) {
  ByteRing small(100), large(100000), normal(0x8000);
  EXPECT_EQ(small.Size(), 4096u);
  EXPECT_EQ(large.Size(), 65536u);
  EXPECT_EQ(normal.Size(), 0x8000u);
  EXPECT_TRUE(normal.HasStorage());
}

TEST(ByteRing, HoldsOneByteLessThanItsSize) {
  ByteRing q(0x8000);
  EXPECT_EQ(q.Room(), 0x7FFFu);
  EXPECT_TRUE(q.Empty());
  for (int i = 0; i < 0x7FFF; ++i) ASSERT_TRUE(q.Push(static_cast<uint8_t>(i))) << i;
  EXPECT_FALSE(q.Push(0xAA));
  EXPECT_EQ(q.Count(), 0x7FFFu);
  EXPECT_EQ(q.Room(), 0u);
  EXPECT_EQ(q.PushSome(reinterpret_cast<const uint8_t*>("xy"), 2), 0u);

  uint8_t b = 0;
  ASSERT_TRUE(q.Pop(&b));
  EXPECT_EQ(b, 0);
  EXPECT_TRUE(q.Push(0xBB));
  EXPECT_FALSE(q.Push(0xCC));
  // The full ring drains in order, the late byte last.
  for (int i = 1; i < 0x7FFF; ++i) {
    ASSERT_TRUE(q.Pop(&b));
    ASSERT_EQ(b, static_cast<uint8_t>(i));
  }
  ASSERT_TRUE(q.Pop(&b));
  EXPECT_EQ(b, 0xBB);
  EXPECT_FALSE(q.Pop(&b));
  EXPECT_EQ(q.Count(), 0u);
}

// Random block and byte operations against a reference queue: the order
// survives every wrap of the indices.
TEST(ByteRing, KeepsOrderAcrossWrapAround) {
  ByteRing q(4096);
  std::deque<uint8_t> model;
  std::mt19937 rng(7);
  uint8_t next = 0;
  std::vector<uint8_t> buf(5000);
  for (int step = 0; step < 4000; ++step) {
    uint32_t n = rng() % 1500;
    switch (rng() % 4) {
      case 0: {  // PushSome
        for (uint32_t i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(next + i);
        uint32_t room = 4095 - static_cast<uint32_t>(model.size());
        uint32_t pushed = q.PushSome(buf.data(), n);
        ASSERT_EQ(pushed, std::min(n, room));
        for (uint32_t i = 0; i < pushed; ++i) model.push_back(buf[i]);
        next = static_cast<uint8_t>(next + pushed);
        break;
      }
      case 1: {  // PushBlock
        for (uint32_t i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(next + i);
        bool fits = n <= 4095 - model.size();
        ASSERT_EQ(q.PushBlock(buf.data(), n), fits);
        if (fits) {
          model.insert(model.end(), buf.begin(), buf.begin() + n);
          next = static_cast<uint8_t>(next + n);
        }
        break;
      }
      case 2: {  // PopBlock
        uint32_t got = q.PopBlock(buf.data(), n);
        ASSERT_EQ(got, std::min<uint32_t>(n, static_cast<uint32_t>(model.size())));
        for (uint32_t i = 0; i < got; ++i) {
          ASSERT_EQ(buf[i], model.front());
          model.pop_front();
        }
        break;
      }
      default: {  // single bytes
        uint8_t b;
        if (rng() % 2) {
          if (q.Push(next)) {
            model.push_back(next++);
          } else {
            ASSERT_EQ(model.size(), 4095u);
          }
        } else if (q.Pop(&b)) {
          ASSERT_EQ(b, model.front());
          model.pop_front();
        } else {
          ASSERT_TRUE(model.empty());
        }
      }
    }
    ASSERT_EQ(q.Count(), model.size());
    ASSERT_EQ(q.Empty(), model.empty());
  }
}

// A restart drops what the ring holds and starts a new stream, which the
// reader learns with the next bytes it takes.
TEST(ByteRing, ARestartStartsANewStream) {
  ByteRing q(4096);
  const uint8_t bytes[] = {1, 2, 3};
  uint8_t out[8];
  uint32_t first = 0, second = 0;
  ASSERT_TRUE(q.PushBlock(bytes, 3));
  ASSERT_EQ(q.PopBlock(out, 1, &first), 1u);
  q.Restart();
  EXPECT_TRUE(q.Empty());
  ASSERT_TRUE(q.PushBlock(bytes + 2, 1));
  ASSERT_EQ(q.PopBlock(out, sizeof out, &second), 1u);
  EXPECT_EQ(out[0], 3);
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace voxa
