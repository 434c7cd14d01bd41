// Host-side state of the I/O families kept in each controller.
#pragma once

#include <cstdint>

namespace voxa {

struct IoState {
};

}  // namespace voxa
