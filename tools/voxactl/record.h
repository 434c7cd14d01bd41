// `voxactl record`: the board's state reports as CSV.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "session.h"

namespace voxactl {

// Checks the arguments of `record`; what to do once the board is open, or
// an empty function after printing the usage error.
std::function<int(Session&)> ParseRecord(const std::vector<std::string>& args);

}  // namespace voxactl
