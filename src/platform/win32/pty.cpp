// Windows has no pseudo-terminals: the simulated board serves TCP only
// there, and these report that they cannot open.
#include "platform/pty.h"

namespace voxa::platform {

PtyMaster::~PtyMaster() = default;
bool PtyMaster::Open() { return false; }
long PtyMaster::Read(uint8_t*, size_t) { return -1; }
long PtyMaster::Write(const uint8_t*, size_t) { return -1; }
void PtyMaster::Flush() {}
void PtyMaster::Close() {}

RawTty::~RawTty() = default;
bool RawTty::Open(const std::string&) { return false; }
long RawTty::Read(uint8_t*, size_t) { return -1; }
long RawTty::Write(const uint8_t*, size_t) { return -1; }
void RawTty::Close() {}

}  // namespace voxa::platform
