// Saving a board's register image and PID setup records to a configuration
// file, and loading them back onto the board.
#pragma once

#include <optional>
#include <string>

#include "controller/controller.h"

namespace voxa::config {

inline constexpr char16_t kConfigSection[] = u"VOXA_V01_ENGINE_CONFIG";

// Writes every register word (the status registers as 0) and the four
// stored PID setup records into the file, keeping its other sections and
// entries. False when the file could not be written; the file then holds
// what it held before.
bool SaveConfig(Controller& c, const std::string& path);
// As SaveConfig, but every register the board has reported on this link is
// saved with the words it reported (for the settings registers, what the
// board holds rather than what this process set); the others come from the
// register image.
bool SaveReportedConfig(Controller& c, const std::string& path);

// Loads an existing file: false, with nothing changed or sent, when it
// cannot be read or lacks any register word. Otherwise every register word
// goes to the image and to the board (register 31 down to 0), then the PID
// setups, the PID resets, an alarm reset, execution enable and a cancel.
bool LoadConfig(Controller& c, const std::string& path);

// File names from the paths applications pass: 16-bit text, or 8-bit text
// (UTF-8, bytes that are not UTF-8 taken as Latin-1). Nothing for a null
// path or one holding an unpaired surrogate.
std::optional<std::string> PathFromWide(const char16_t* path);
std::optional<std::string> PathFrom8Bit(const char* path);

}  // namespace voxa::config
