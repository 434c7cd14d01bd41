// Why a configuration file does not load, told from its bytes.
#pragma once

#include <string>

namespace voxactl {

// What keeps a configuration file (its bytes) from loading: no board
// section, register entries missing, text that is not UTF-16LE as saved
// files are. Empty when nothing is found wrong.
std::string ConfigFileProblem(const std::string& file);

}  // namespace voxactl
