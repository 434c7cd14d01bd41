// The byte ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>

#include "transport/comm.h"

namespace voxa {
namespace {

TEST(CommQueue, CreateClampsTheSizeAndRunsOnce) {
  CCommQueue small, large, normal;
  ASSERT_EQ(small.Create(100), 1);
  EXPECT_EQ(small.GetSize(), 4096u);
  ASSERT_EQ(large.Create(100000), 1);
  EXPECT_EQ(large.GetSize(), 65536u);
  ASSERT_EQ(normal.Create(0x8000), 1);
  EXPECT_EQ(normal.GetSize(), 0x8000u);

  ASSERT_EQ(normal.Push(0x42), 1);
  EXPECT_EQ(normal.Create(4096), 0);  // already created: nothing changes
  EXPECT_EQ(normal.GetSize(), 0x8000u);
  EXPECT_EQ(normal.GetCount(), 1);
}

TEST(CommQueue, HoldsOneByteLessThanItsSize) {
  CCommQueue q;
  ASSERT_EQ(q.Create(0x8000), 1);
  EXPECT_EQ(q.GetFree(), 0x8000);  // size minus count, not the pushable room
  EXPECT_TRUE(q.IsEmpty());
  for (int i = 0; i < 0x7FFF; ++i) ASSERT_EQ(q.Push(static_cast<uint8_t>(i)), 1) << i;
  EXPECT_EQ(q.Push(0xAA), 0);
  EXPECT_EQ(q.GetCount(), 0x7FFF);
  EXPECT_EQ(q.GetFree(), 1);
  EXPECT_EQ(q.PushSome(reinterpret_cast<const uint8_t*>("xy"), 2), 0u);

  uint8_t b = 0;
  ASSERT_EQ(q.Pop(&b), 1);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(q.Push(0xBB), 1);
  EXPECT_EQ(q.Push(0xCC), 0);
  // The full ring drains in order, the late byte last.
  for (int i = 1; i < 0x7FFF; ++i) {
    ASSERT_EQ(q.Pop(&b), 1);
    ASSERT_EQ(b, static_cast<uint8_t>(i));
  }
  ASSERT_EQ(q.Pop(&b), 1);
  EXPECT_EQ(b, 0xBB);
  EXPECT_EQ(q.Pop(&b), 0);
  EXPECT_EQ(q.GetCount(), 0);
}

// Random block and byte operations against a reference queue: the order
// survives every wrap of the indices.
TEST(CommQueue, KeepsOrderAcrossWrapAround) {
  CCommQueue q;
  ASSERT_EQ(q.Create(4096), 1);
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
        ASSERT_EQ(q.PushBlock(buf.data(), n), fits ? 1 : 0);
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
    ASSERT_EQ(q.GetCount(), static_cast<int32_t>(model.size()));
    ASSERT_EQ(q.IsEmpty(), model.empty() ? 1 : 0);
  }
}

TEST(CommQueue, WithoutStorageRefusesEverything) {
  CCommQueue q;
  uint8_t b = 1;
  EXPECT_EQ(q.Push(b), 0);
  EXPECT_EQ(q.Pop(&b), 0);
  EXPECT_EQ(q.PushSome(&b, 1), 0u);
  ASSERT_EQ(q.Create(4096), 1);
  ASSERT_EQ(q.Push(b), 1);
  q.Release();
  EXPECT_EQ(q.IsCreated(), 0);
  EXPECT_EQ(q.Push(b), 0);
  EXPECT_EQ(q.Pop(&b), 0);
  EXPECT_EQ(q.Create(4096), 1);  // a released ring can be created again
}

}  // namespace
}  // namespace voxa
