// The register values of a saved configuration file, replaced by what the
// board reported: the library saves its register image, which holds, for
// the settings registers, only what this process set.
#pragma once

#include <cstdint>
#include <string>

namespace voxactl {

// In `file`, the bytes of a configuration file as the library writes it
// (UTF-16LE with its byte-order mark), sets the value of every entry
// REG[rr].ww of the board's section whose register rr is in `regs` (bit r:
// register r) to words[rr][ww], as a signed decimal. Every other byte stays.
// False, with `file` unchanged, when it is not such a file or an entry of
// those registers is missing.
bool ReplaceRegisterValues(std::string& file, uint32_t regs, const uint32_t (&words)[32][8]);

// What keeps a configuration file (its bytes) from loading: no board
// section, register entries missing, text that is not UTF-16LE as saved
// files are. Empty when nothing is found wrong.
std::string ConfigFileProblem(const std::string& file);

}  // namespace voxactl
