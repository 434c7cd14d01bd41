// The read loop both backends' ReadWholeFile share. Only platform sources
// include this file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file.h"

namespace voxa::platform::backend {

// Reads with read_some(buffer, room), which returns the bytes read, 0 at the
// end or a negative value on failure, until the end. The size may change
// while reading: out never holds more than limit + 1 bytes.
template <class ReadSome>
FileReadResult ReadLimited(std::vector<uint8_t>& out, size_t limit, ReadSome read_some) {
  uint8_t chunk[65536];
  while (out.size() <= limit) {
    const size_t room = limit + 1 - out.size();
    const long long n = read_some(chunk, room < sizeof chunk ? room : sizeof chunk);
    if (n < 0) {
      out.clear();
      return FileReadResult::Failed;
    }
    if (n == 0) break;
    out.insert(out.end(), chunk, chunk + n);
  }
  if (out.size() > limit) {
    out.clear();
    return FileReadResult::TooLarge;
  }
  return FileReadResult::Ok;
}

}  // namespace voxa::platform::backend
