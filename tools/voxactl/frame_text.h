// What voxactl reads out of the frames the library traces: a one-line
// description of each frame, its bytes in hex, which registers a received
// frame refreshes, and the register words the board reports in its read
// replies. Pure functions of the frame bytes (start byte to checksum).
#pragma once

#include <cstdint>
#include <string>

namespace voxactl {

constexpr int kSent = 0;      // VOXA_TRACE_SENT
constexpr int kReceived = 1;  // VOXA_TRACE_RECEIVED
constexpr uint8_t kPollTag = 0xFD;
constexpr uint8_t kConfigTag = 0xE6;

// Register names by number; "R32" style text outside 0..31.
std::string RegisterLabel(int reg);

// "Write CURPOS mask=03 values=100,-100 tag=05", "Heartbeat", "Complete id=7".
// Immediate commands are marked "imm".
std::string DescribeFrame(int direction, const uint8_t* frame, int length);
// "FE 04 00 09 00 0B".
std::string HexBytes(const uint8_t* frame, int length);

// Registers a received frame carries (bit r for register r): a read reply
// its register, a state packet the registers of its units.
uint32_t RegistersCarried(const uint8_t* frame, int length);
// The timer's register polls and keep-alives and the board's answers.
bool IsPollTraffic(int direction, const uint8_t* frame, int length);
// A register write of a configuration load (tagged 0xE6).
bool IsConfigWrite(const uint8_t* frame, int length);

// The words the board reported in its read replies.
struct ReportedRegisters {
  uint32_t words[32][8] = {};
  uint8_t seen[32] = {};  // bit w: word w has been reported
};
// Applies a received read reply; false for any other frame or a malformed
// one (then nothing changes).
bool ApplyReadReply(ReportedRegisters& reported, const uint8_t* frame, int length);

}  // namespace voxactl
