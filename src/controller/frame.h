// Frames the host sends: FE, L, controller id, payload (opcode first, the
// optional tag byte last), 8-bit sum checksum. Builders here fill a frame
// buffer without the checksum; the checksum is added when the frame is
// written to the link.
#pragma once

#include <cstddef>
#include <cstdint>

namespace voxa {

constexpr uint8_t kStartByte = 0xFE;
constexpr uint8_t kNoTag = 0xFE;
constexpr uint8_t kImmediate = 0x80;
constexpr int kFrameBufferSize = 131;  // FE, L, id and 128 payload bytes

// Fixed tags.
constexpr uint8_t kTagSystem = 0xD3;
constexpr uint8_t kTagPoll = 0xFD;
constexpr uint8_t kTagConfig = 0xE6;
constexpr uint8_t kTagCapture = 0xCB;
// Read requests of a refresh: their replies are told apart from the polls'.
constexpr uint8_t kTagRefresh = 0xFC;

// Data descriptor: bits 0-3 count, bits 4-5 width code, bit 6 delta.
constexpr uint8_t kWidth1 = 0x00;
constexpr uint8_t kWidth2 = 0x10;
constexpr uint8_t kWidth4 = 0x20;

// The frame buffer: byte 0 = FE, byte 1 = L, byte 2 = id, payload from 3.
struct FrameBuffer {
  uint8_t bytes[kFrameBufferSize];
  int length() const { return bytes[1] & 0x7F; }            // L
  int size_without_checksum() const { return length() + 1; }  // FE .. last payload byte
};

uint8_t FrameChecksum(const uint8_t* bytes, size_t count);

// Each builder returns true when the frame was built. `values` is the
// register's eight words (for register writes).
bool BuildSystemCommand(FrameBuffer& f, uint8_t id, uint8_t opcode, uint8_t tag);
bool BuildActionCommand(FrameBuffer& f, uint8_t id, uint8_t opcode, uint8_t mask, uint8_t tag);
bool BuildReadRequest(FrameBuffer& f, uint8_t id, uint8_t opcode, uint8_t mask, uint8_t descriptor, uint8_t tag);
bool BuildRegisterWrite(FrameBuffer& f, uint8_t id, uint8_t opcode, uint8_t mask, uint8_t descriptor, uint8_t tag,
                        const uint32_t values[8]);

// Width in bytes of a descriptor's width code, or 0 for the invalid code 3.
inline int DescriptorWidth(uint8_t descriptor) {
  switch (descriptor & 0x30) {
    case 0x00: return 1;
    case 0x10: return 2;
    case 0x20: return 4;
    default: return 0;
  }
}

// Kind of an opcode by its code bits.
enum class OpKind { System, ReadRequest, RegisterWrite, Action };
inline OpKind KindOf(uint8_t opcode) {
  const uint8_t c = opcode & 0x7F;
  if (c < 0x10) return OpKind::System;
  if (c < 0x50) return (c & 1) ? OpKind::RegisterWrite : OpKind::ReadRequest;
  return OpKind::Action;
}

}  // namespace voxa
