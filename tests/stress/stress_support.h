// Shared pieces of the stress and fault tests: host-side polling and
// hand-built board packets.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "sim.h"
#include "support/eventually.h"
#include "voxa/voxa.h"

namespace voxa::stress {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using voxa::test::Eventually;

inline double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Status, axis status, positions and encoders every 25 ms.
constexpr int kStreamEvery25ms = 2 | 0x400 | 0x800 | 0x1000 | 0x2000;

// A state packet with one unit: eight 4-byte words of the group selected
// by `group` (0x04 positions, 0x08 encoders, ...). With good_checksum false
// the checksum byte is off by one, as after a bit flip on the way.
inline std::vector<uint8_t> StatePacket(uint8_t group, const std::array<uint32_t, 8>& words, bool good_checksum = true) {
  std::vector<uint8_t> body{voxa_sim::kState, group, 0xFF, 0x28};
  for (uint32_t w : words)
    for (int k = 0; k < 4; ++k) body.push_back(static_cast<uint8_t>(w >> (8 * k)));
  std::vector<uint8_t> f = voxa_sim::BuildFrame(body);
  if (!good_checksum) f.back() = static_cast<uint8_t>(f.back() + 1);
  return f;
}

}  // namespace voxa::stress
