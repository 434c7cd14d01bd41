#include "frame_text.h"

#include <cstdio>

#include "voxa/voxa.h"

namespace voxactl {
namespace {

struct Named {
  uint8_t code;
  const char* name;
};

constexpr Named kSystem[] = {
    {0x00, "Reset"},          {0x02, "EnableExe"},      {0x03, "AlarmReset"},     {0x04, "Resume"},
    {0x08, "ClearQueue"},     {0x09, "KeepAlive"},      {0x0A, "NotifyComplete"}, {0x0B, "UpdateBaudrate"},
    {0x0C, "EnterImmediate"}, {0x0D, "LeaveImmediate"},
};

constexpr Named kActions[] = {
    {0x50, "ImStop"},
    {0x51, "DecStop"},
    {0x52, "Wait"},
    {0x53, "Sync"},
    {0x55, "Cancel"},
    {0x56, "Delay"},
    {0x57, "Pause"},
    {0x58, "Home"},
    {0x59, "IMove"},
    {0x5A, "CMove"},
    {0x5B, "Line"},
    {0x5C, "ArcCW"},
    {0x5D, "ArcCCW"},
    {0x5E, "BitPattern"},
    {0x5F, "Spindle"},
    {0x60, "XMove"},
    {0x61, "IHome"},
    {0x63, "MIExe"},
    {0x64, "MIOn"},
    {0x65, "MIOff"},
    {0x6A, "CLVOn"},
    {0x6B, "CLVOff"},
    {0x6C, "CExeOn"},
    {0x6D, "CExeOff"},
    {0x70, "SetBitGOut"},
    {0x71, "ClrBitGOut"},
    {0x72, "PulseGOut"},
    {0x73, "WaitGIO"},
    {0x77, "GIOPattern"},
    {0x78, "GIOPatternRun"},
    {0x79, "LockVelOverride"},
    {0x7A, "UnlockVelOverride"},
};

template <size_t N>
const char* Find(const Named (&table)[N], uint8_t code) {
  for (const Named& n : table)
    if (n.code == code) return n.name;
  return nullptr;
}

std::string Format(const char* fmt, unsigned a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, a);
  return buf;
}

// A data unit: mask, descriptor and values, as in register writes and read
// replies. `body` points at the mask byte, `avail` bytes follow it.
struct Unit {
  uint8_t mask = 0;
  int count = 0;
  int width = 0;
  const uint8_t* values = nullptr;
  int size = 0;  // bytes from the mask byte to the last value
};

bool ReadUnit(const uint8_t* p, int avail, Unit& u) {
  if (avail < 2) return false;
  u.mask = p[0];
  const uint8_t d = p[1];
  u.count = d & 0x0F;
  const int code = (d >> 4) & 0x03;
  if (code == 3 || u.count == 0 || u.count > 8) return false;
  u.width = 1 << code;
  u.values = p + 2;
  u.size = 2 + u.count * u.width;
  return u.size <= avail;
}

uint32_t Value(const Unit& u, int k) {
  uint32_t v = 0;
  for (int b = 0; b < u.width; ++b) v |= static_cast<uint32_t>(u.values[k * u.width + b]) << (8 * b);
  return v;
}

int32_t Signed(const Unit& u, int k) {
  const uint32_t v = Value(u, k);
  if (u.width == 1) return static_cast<int8_t>(v);
  if (u.width == 2) return static_cast<int16_t>(v);
  return static_cast<int32_t>(v);
}

std::string Values(const Unit& u) {
  std::string s = " values=";
  for (int k = 0; k < u.count; ++k) {
    if (k) s += ',';
    s += std::to_string(u.width == 4 ? static_cast<int64_t>(Signed(u, k)) : static_cast<int64_t>(Value(u, k)));
  }
  return s;
}

// Body of a frame: from the opcode or type byte to the last byte before the
// checksum; 0 bytes when the frame is too short.
int BodySize(const uint8_t* frame, int length) {
  if (frame == nullptr || length < 5) return 0;
  const int n = frame[1] & 0x7F;
  if (n < 3 || n + 2 > length) return 0;
  return n - 2;
}

// Whether the body carries a tag byte after a payload of `payload` bytes
// (opcode included).
bool HasTag(int body, int payload) { return body == payload + 1; }

std::string Tag(const uint8_t* body, int size, int payload) {
  return HasTag(size, payload) ? Format(" tag=%02X", body[size - 1]) : std::string();
}

std::string DescribeSent(const uint8_t* body, int size) {
  const uint8_t op = body[0];
  const uint8_t code = op & 0x7F;
  std::string s;
  const std::string imm = (op & 0x80) ? " imm" : "";
  if (code < 0x10) {
    const char* name = Find(kSystem, code);
    s = name ? name : Format("System %02X", code);
    return s + imm + Tag(body, size, 1);
  }
  if (code < 0x50) {
    const int reg = (code - 0x10) >> 1;
    if (size < 3) return Format("Register %02X (short)", code);
    if ((code & 1) == 0) return "Read " + RegisterLabel(reg) + imm + Format(" mask=%02X", body[1]) + Tag(body, size, 3);
    Unit u;
    if (!ReadUnit(body + 1, size - 1, u)) return "Write " + RegisterLabel(reg) + imm + " (malformed)";
    return "Write " + RegisterLabel(reg) + imm + Format(" mask=%02X", u.mask) + Values(u) + Tag(body, size, 1 + u.size);
  }
  const char* name = Find(kActions, code);
  s = name ? name : Format("Action %02X", code);
  if (size < 2) return s + imm;
  return s + imm + Format(" mask=%02X", body[1]) + Tag(body, size, 2);
}

std::string DescribeReceived(const uint8_t* body, int size) {
  const uint8_t type = body[0] & 0x7F;
  auto payload = [&](int bytes) {
    uint32_t v = 0;
    for (int b = 0; b < bytes && 1 + b < size; ++b) v |= static_cast<uint32_t>(body[1 + b]) << (8 * b);
    return v;
  };
  switch (type) {
    case 0:
    case 1:
    case 2:
      return Format("Notice %u", type);
    case 9:
      return "Heartbeat";
    case 10:
      return Format("Event %08X", payload(4));
    case 11:
      return size >= 2 ? Format("State mask=%02X", body[1]) : "State";
    case 12:
      return "Packet 12";
    case 13:
      return Format("Busy %02X", payload(1));
    case 14:
      return Format("Complete id=%u", payload(1));
    case 15:
      return Format("Interrupt %04X", payload(2));
    default:
      break;
  }
  if (type >= 16 && type <= 78 && (type & 1) == 0) {
    const int reg = (type - 16) >> 1;
    Unit u;
    if (!ReadUnit(body + 1, size - 1, u)) return "Reply " + RegisterLabel(reg) + " (malformed)";
    return "Reply " + RegisterLabel(reg) + Format(" mask=%02X", u.mask) + Values(u) + Tag(body, size, 1 + u.size);
  }
  return Format("Packet %u", type);
}

}  // namespace

std::string RegisterLabel(int reg) {
  const char* name = VOXA_Get_RegName(reg);
  if (name) return name;
  std::string label(1, 'R');
  label += std::to_string(reg);
  return label;
}

std::string DescribeFrame(int direction, const uint8_t* frame, int length) {
  const int size = BodySize(frame, length);
  if (size == 0) return "(short frame)";
  return direction == kSent ? DescribeSent(frame + 3, size) : DescribeReceived(frame + 3, size);
}

std::string HexBytes(const uint8_t* frame, int length) {
  std::string s;
  if (frame == nullptr) return s;
  s.reserve(static_cast<size_t>(length) * 3);
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = 0; i < length; ++i) {
    if (i) s += ' ';
    s += kDigits[frame[i] >> 4];
    s += kDigits[frame[i] & 0x0F];
  }
  return s;
}

bool IsPollTraffic(int direction, const uint8_t* frame, int length) {
  const int size = BodySize(frame, length);
  if (size == 0) return false;
  const uint8_t* body = frame + 3;
  if (direction == kSent) return size >= 2 && body[size - 1] == kPollTag;
  const uint8_t type = body[0] & 0x7F;
  if (type == 9) return true;
  if (type >= 16 && type <= 78 && (type & 1) == 0) {
    Unit u;
    return ReadUnit(body + 1, size - 1, u) && HasTag(size, 1 + u.size) && body[size - 1] == kPollTag;
  }
  return false;
}

bool IsConfigWrite(const uint8_t* frame, int length) {
  const int size = BodySize(frame, length);
  if (size < 4) return false;
  const uint8_t* body = frame + 3;
  const uint8_t code = body[0] & 0x7F;
  if (code < 0x10 || code >= 0x50 || (code & 1) == 0) return false;
  Unit u;
  return ReadUnit(body + 1, size - 1, u) && HasTag(size, 1 + u.size) && body[size - 1] == kConfigTag;
}

}  // namespace voxactl
