#include "controller/frame.h"

namespace voxa {

uint8_t FrameChecksum(const uint8_t* bytes, size_t count) {
  unsigned sum = 0;
  for (size_t k = 0; k < count; ++k) sum += bytes[k];
  return static_cast<uint8_t>(sum);
}

namespace {

void Begin(FrameBuffer& f, uint8_t id) {
  f.bytes[0] = kStartByte;
  f.bytes[2] = id;
}

// Appends the tag (unless it is "none") and stores L.
void Finish(FrameBuffer& f, int payload_end, uint8_t tag) {
  if (tag != kNoTag) f.bytes[payload_end++] = tag;
  f.bytes[1] = static_cast<uint8_t>((payload_end - 1) & 0x7F);  // bytes after L, checksum included
}

}  // namespace

bool BuildSystemCommand(FrameBuffer& f, uint8_t id, uint8_t opcode, uint8_t tag) {
  Begin(f, id);
  f.bytes[3] = opcode;
  Finish(f, 4, tag);
  return true;
}

bool BuildActionCommand(FrameBuffer& f, uint8_t id, uint8_t opcode, uint8_t mask, uint8_t tag) {
  Begin(f, id);
  f.bytes[3] = opcode;
  f.bytes[4] = mask;
  Finish(f, 5, tag);
  return true;
}

bool BuildReadRequest(FrameBuffer& f, uint8_t id, uint8_t opcode, uint8_t mask, uint8_t descriptor, uint8_t tag) {
  if (DescriptorWidth(descriptor) == 0 || mask == 0) return false;
  const int n = __builtin_popcount(mask);
  Begin(f, id);
  f.bytes[3] = opcode;
  f.bytes[4] = mask;
  f.bytes[5] = static_cast<uint8_t>((descriptor & 0x30) | n);
  Finish(f, 6, tag);
  return true;
}

bool BuildRegisterWrite(FrameBuffer& f, uint8_t id, uint8_t opcode, uint8_t mask, uint8_t descriptor, uint8_t tag,
                        const uint32_t values[8]) {
  const int width = DescriptorWidth(descriptor);
  if (width == 0 || mask == 0) return false;
  const uint32_t value_mask = width == 1 ? 0xFFu : width == 2 ? 0xFFFFu : 0xFFFFFFFFu;
  uint32_t v[8];
  int n = 0;
  for (int i = 0; i < 8; ++i)
    if (mask & (1u << i)) v[n++] = values[i] & value_mask;
  // Trailing values equal to their predecessor are left out: the board
  // repeats the last value for the remaining selected words.
  while (n > 1 && v[n - 1] == v[n - 2]) --n;
  Begin(f, id);
  f.bytes[3] = opcode;
  f.bytes[4] = mask;
  f.bytes[5] = static_cast<uint8_t>((descriptor & 0x30) | n);
  int p = 6;
  for (int k = 0; k < n; ++k)
    for (int b = 0; b < width; ++b) f.bytes[p++] = static_cast<uint8_t>(v[k] >> (8 * b));
  Finish(f, p, tag);
  return true;
}

}  // namespace voxa
