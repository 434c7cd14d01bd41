// Argument rejection inside a board operation. The export's guard turns it
// into error -50 and the export's failure value; nothing else crosses the
// C boundary.
#pragma once

namespace voxa {

struct ArgumentError {};

inline void Require(bool accepted) {
  if (!accepted) throw ArgumentError{};
}

}  // namespace voxa
