// The simulated board's own wire codec: the frame state machine that takes
// the host's frames apart, the decoder of host commands, the data-unit
// writer of read replies and state packets, and the register-apply rule.
//
// Written independently of the library and sharing no code with it, so that
// a misreading of the wire cannot hide in both ends.
// Pure functions and a byte-fed state machine: no threads, no sockets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace voxa_sim {

constexpr uint8_t kStartByte = 0xFE;
constexpr uint8_t kNoTag = 0xFE;       // tag argument meaning "no tag byte"
constexpr int kMaxLength = 127;        // largest frame length L (7 bits)
constexpr int kMaxBody = kMaxLength - 2;

// Register numbers.
enum Reg : int {
  CHIPSET = 0, CHIPSTATUS = 1, AXISSET = 2, AXISSTATUS = 3, AXISAUXSET = 4, GEARRATIO = 5,
  CURPOS = 6, CAL0 = 7, CAL1 = 8, CAL2 = 9, CAL3 = 10, PULSEOFFSET = 11, ENCPOS = 12,
  SLIMITL = 13, SLIMITH = 14, VELAUXSET = 15, STARTVEL = 16, DRIVEVEL = 17, CURVEL = 18,
  ACC = 19, DEC = 20, ACC2 = 21, DEC2 = 22, FEEDBACK = 23, HOMERETURN = 24, COMPARE = 25,
  RESERVED = 26, PROGRAM = 27, SERVOIO = 28, GIO = 29, EXTIO = 30, CUSTOM = 31,
};
constexpr int kRegisters = 32;
constexpr int kWords = 8;
const char* RegName(int r);

// Command codes: the opcode's bits 0-6 (HostCommand::code); bit 7 is the
// immediate flag. 0x00-0x0F are system commands, 0x10 + 2r and 0x11 + 2r the
// read request and write of register r, 0x50-0x7F action commands.
namespace Op {
enum Code : uint8_t {
  // System commands.
  kReset = 0x00, kEnableExe = 0x02, kAlarmReset = 0x03, kResume = 0x04, kClearQueue = 0x08,
  kKeepAlive = 0x09, kNotifyComplete = 0x0A, kUpdateBaudrate = 0x0B, kEnterImCmd = 0x0C, kLeaveImCmd = 0x0D,
  // Register commands of register 0; register r adds 2r.
  kReadReg = 0x10, kWriteReg = 0x11,
  // Action commands.
  kFirstAction = 0x50,
  kImStop = 0x50, kDecStop = 0x51, kWait = 0x52, kSync = 0x53, kCancel = 0x55, kDelay = 0x56, kPause = 0x57,
  kHome = 0x58, kIMove = 0x59, kCMove = 0x5A, kLine = 0x5B, kArcCW = 0x5C, kArcCCW = 0x5D, kBitPattern = 0x5E,
  kSpindle = 0x5F, kXMove = 0x60, kIHome = 0x61, kMIExe = 0x63, kEnableMI = 0x64, kDisableMI = 0x65,
  kEnableCLV = 0x6A, kDisableCLV = 0x6B, kEnableCExe = 0x6C, kDisableCExe = 0x6D,
  kSetBitGOut = 0x70, kClrBitGOut = 0x71, kPulseGOut = 0x72, kWaitGIO = 0x73, kGIOPatternChunk = 0x77,
  kGIOPatternStart = 0x78, kLockVelOverride = 0x79, kUnlockVelOverride = 0x7A,
};
constexpr uint8_t kImmediate = 0x80;  // the immediate flag
constexpr uint8_t kCodeBits = 0x7F;
// The read request and write of register r.
constexpr uint8_t ReadReg(int r) { return static_cast<uint8_t>(kReadReg + 2 * (r & 31)); }
constexpr uint8_t WriteReg(int r) { return static_cast<uint8_t>(kWriteReg + 2 * (r & 31)); }
}  // namespace Op

// Packet types the board sends.
enum PacketType : uint8_t {
  kHeartbeat = 9, kEventState = 10, kState = 11, kBusyState = 13, kCompleteState = 14,
  kInterruptState = 15, kReadReplyBase = 16,
};

// The receive state machine, fed one byte at a time, with the same rules
// as the host's: 0xFE starts a frame in state 0; repeated 0xFE in
// state 1 is ignored; 0xFE in state 2 restarts; a length below 2 or a bad
// checksum drops the frame; body bytes may be anything, 0xFE included.
class FrameParser {
 public:
  // Returns true when b completed a frame with a good checksum; the frame is
  // then available through the accessors until the next Feed.
  bool Feed(uint8_t b);
  void Reset();

  // The last completed frame.
  uint8_t LengthByte() const { return buf_[1]; }        // as received, bit 7 included
  int Length() const { return n_; }                     // n = L AND 0x7F
  uint8_t ControllerId() const { return buf_[2]; }
  const uint8_t* Body() const { return buf_ + 3; }      // bytes 3..n
  int BodySize() const { return n_ - 2; }
  uint8_t Checksum() const { return checksum_; }
  // The whole frame as received: FE, L, id, body, checksum.
  std::vector<uint8_t> Raw() const;

  // Counters since construction.
  uint32_t FramesOk() const { return ok_; }
  uint32_t ChecksumErrors() const { return bad_sum_; }
  uint32_t LengthErrors() const { return bad_len_; }
  uint32_t JunkBytes() const { return junk_; }

 private:
  int state_ = 0;
  uint8_t sum_ = 0;
  int n_ = 0;
  int i_ = 0;
  int j_ = 0;
  uint8_t checksum_ = 0;
  uint8_t buf_[kMaxLength + 3] = {};
  uint32_t ok_ = 0, bad_sum_ = 0, bad_len_ = 0, junk_ = 0;
};

enum class CmdKind : uint8_t { kSystem, kReadRequest, kRegisterWrite, kAction, kInvalid };
const char* KindName(CmdKind k);

// One host command, decoded from a frame body.
struct HostCommand {
  uint8_t opcode = 0;            // as received, immediate flag included
  uint8_t code = 0;              // opcode AND 0x7F
  bool immediate = false;        // opcode bit 7
  CmdKind kind = CmdKind::kInvalid;
  int reg = -1;                  // register of a read request or register write
  uint8_t mask = 0;              // axis / word mask (0 for system commands)
  uint8_t descriptor = 0;        // register commands
  int width = 0;                 // bytes per value (1, 2, 4) of register commands
  bool delta = false;            // descriptor bit 6
  int count = 0;                 // values carried (write) or asked for (read)
  std::array<uint32_t, 8> values{};  // the values carried, in order
  int tag = -1;                  // the tag byte, -1 when the frame carried none
  std::string error;             // why the body was rejected (kind kInvalid)

  bool HasTag() const { return tag >= 0; }
  // The tag as the board reports it: 0xFE when none was sent.
  uint8_t Tag() const { return tag >= 0 ? static_cast<uint8_t>(tag) : kNoTag; }
  // The value the word takes under the repeat rule (register writes): the
  // k-th selected word takes value k while k < N, later ones the last value.
  // Returns false when the mask does not select the word.
  bool WordValue(int word, uint32_t* value) const;
  std::string Describe() const;
};

// Decodes a frame body (opcode first). Tag presence follows the length:
// system 1/2 bytes, action 2/3, read request 3/4, write 3 + n*w / 4 + n*w.
// Always fills opcode/code/kind; returns false (kind kInvalid, error set)
// for a body that fits no command.
bool DecodeCommand(const uint8_t* body, int size, HostCommand* out);

// Applies one data unit to eight register words: absolute
// values replace only the low width*8 bits; delta values are sign-extended
// and added; the k-th selected word takes value min(k, n-1).
void ApplyUnit(uint32_t (&words)[kWords], uint8_t mask, int width, bool delta, const uint32_t* values, int n);

// Appends a data unit (mask, descriptor, values) for the words that mask
// selects, in 4-, 2- or 1-byte width, dropping trailing repeated values.
// With mask 0 only the mask byte is written when descriptor_always is false
// (state packets) and mask plus descriptor 0x21 and one value otherwise.
void AppendUnit(std::vector<uint8_t>* out, uint8_t mask, const uint32_t (&words)[kWords], int width,
                bool descriptor_always);

// Builds a frame around a body (packet type first): FE, L, id, body, sum.
std::vector<uint8_t> BuildFrame(const uint8_t* body, size_t size, uint8_t controller_id = 0);
inline std::vector<uint8_t> BuildFrame(const std::vector<uint8_t>& body, uint8_t controller_id = 0) {
  return BuildFrame(body.data(), body.size(), controller_id);
}
uint8_t Checksum(const uint8_t* data, size_t size);

// Host-side frame building, for tests that play the host by hand: builds
// the frame of one command as the host does.
std::vector<uint8_t> HostSystem(uint8_t opcode, int tag = -1);
std::vector<uint8_t> HostAction(uint8_t opcode, uint8_t mask, int tag = -1);
std::vector<uint8_t> HostRead(int reg, uint8_t mask, bool immediate, int tag = -1);
std::vector<uint8_t> HostWrite(int reg, uint8_t mask, const uint32_t (&words)[kWords], bool immediate,
                               int tag = -1, int width = 4);

}  // namespace voxa_sim
