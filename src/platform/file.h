// Whole-file reading and replacing for files an application names (the
// configuration file). Paths are UTF-8 on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace voxa::platform {

enum class FileReadResult {
  Ok,
  Missing,   // no such file
  TooLarge,  // more than the limit
  Failed,    // exists but cannot be opened or read (a directory, no permission, read error)
};

// Reads the whole file into out; refuses files of more than `limit` bytes.
FileReadResult ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& out);

// Replaces the file at path with the bytes: they are written to a new file
// beside it, flushed to disk and renamed into place, so the path holds
// either the old contents or the new ones, never a part. An existing file
// keeps its permission bits; a file the caller may not write is not
// replaced. A symbolic link is followed: the file it names is replaced, or
// created when it does not exist yet; the link itself is never replaced (a
// link that cannot be followed to its end fails).
bool ReplaceWholeFile(const std::string& path, const uint8_t* data, size_t size);

// True when something (a file or a directory) exists at path.
bool PathExists(const std::string& path);

// An application's 8-bit text in the system's 8-bit code page, as UTF-8:
// on Windows the calling thread's ANSI code page (its locale's). nullopt
// where the system has no such code page (Linux: 8-bit names are the file
// system's own bytes).
std::optional<std::string> AnsiToUtf8(const char* text);

}  // namespace voxa::platform
