// Host-side state of the motion families kept in each controller.
#pragma once

#include <atomic>
#include <cstdint>

namespace voxa {

struct MotionState {
  // The velocity multiplier last accepted by VOXA_Set_VelMultiplier.
  std::atomic<int32_t> vel_multiplier{1};
};

}  // namespace voxa
