// How voxactl shows the frames the library traces: a one-line description
// of each frame and its bytes in hex, and which frames are the library's
// polls or a configuration load's writes. Pure functions of the frame bytes
// (start byte to checksum). What the board reports is the library's to tell.
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

// The timer's register polls and keep-alives and the board's answers.
bool IsPollTraffic(int direction, const uint8_t* frame, int length);
// A register write of a configuration load (tagged 0xE6).
bool IsConfigWrite(const uint8_t* frame, int length);

}  // namespace voxactl
