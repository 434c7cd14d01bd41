#include "codec.h"

#include <cstdio>

namespace voxa_sim {
namespace {

constexpr const char* kRegNames[kRegisters] = {
    "CHIPSET", "CHIPSTATUS", "AXISSET", "AXISSTATUS", "AXISAUXSET", "GEARRATIO", "CURPOS", "CAL0",
    "CAL1",    "CAL2",       "CAL3",    "PULSEOFFSET", "ENCPOS",    "SLIMITL",   "SLIMITH", "VELAUXSET",
    "STARTVEL", "DRIVEVEL",  "CURVEL",  "ACC",        "DEC",        "ACC2",      "DEC2",    "FEEDBACK",
    "HOMERETURN", "COMPARE", "RESERVED", "PROGRAM",   "SERVOIO",    "GIO",       "EXTIO",   "CUSTOM"};

int WidthOfCode(int code) { return code == 0 ? 1 : code == 1 ? 2 : code == 2 ? 4 : 0; }

uint32_t WidthMask(int width) { return width == 1 ? 0xFFu : width == 2 ? 0xFFFFu : 0xFFFFFFFFu; }

int32_t SignExtend(uint32_t v, int width) {
  if (width == 1) return static_cast<int8_t>(v & 0xFF);
  if (width == 2) return static_cast<int16_t>(v & 0xFFFF);
  return static_cast<int32_t>(v);
}

int PopCount(uint8_t m) {
  int n = 0;
  for (; m; m &= static_cast<uint8_t>(m - 1)) ++n;
  return n;
}

}  // namespace

const char* RegName(int r) { return r >= 0 && r < kRegisters ? kRegNames[r] : "?"; }

const char* KindName(CmdKind k) {
  switch (k) {
    case CmdKind::kSystem: return "system";
    case CmdKind::kReadRequest: return "read";
    case CmdKind::kRegisterWrite: return "write";
    case CmdKind::kAction: return "action";
    case CmdKind::kInvalid: break;
  }
  return "invalid";
}

// ---- FrameParser ----

void FrameParser::Reset() { state_ = 0; }

bool FrameParser::Feed(uint8_t b) {
  switch (state_) {
    case 0:
      if (b == kStartByte) {
        buf_[0] = b;
        sum_ = b;
        state_ = 1;
      } else {
        ++junk_;
      }
      return false;
    case 1:
      if (b == kStartByte) return false;  // a repeated start byte
      buf_[1] = b;
      n_ = b & 0x7F;
      i_ = 0;
      if (n_ < 2) {
        ++bad_len_;
        state_ = 0;
        return false;
      }
      sum_ = static_cast<uint8_t>(sum_ + b);
      state_ = 2;
      return false;
    case 2:
      if (b == kStartByte) {  // a new start where the controller id belongs
        buf_[0] = b;
        sum_ = b;
        state_ = 1;
        return false;
      }
      buf_[2] = b;
      sum_ = static_cast<uint8_t>(sum_ + b);
      i_ = 1;
      j_ = 0;
      state_ = 3;
      return false;
    default:
      ++i_;
      ++j_;
      if (i_ < n_) {
        buf_[2 + j_] = b;
        sum_ = static_cast<uint8_t>(sum_ + b);
        return false;
      }
      state_ = 0;
      checksum_ = b;
      if (b != sum_) {
        ++bad_sum_;
        return false;
      }
      ++ok_;
      return true;
  }
}

std::vector<uint8_t> FrameParser::Raw() const {
  std::vector<uint8_t> v(buf_, buf_ + n_ + 1);
  v.push_back(checksum_);
  return v;
}

// ---- HostCommand ----

bool HostCommand::WordValue(int word, uint32_t* value) const {
  if (word < 0 || word >= kWords || !(mask & (1u << word)) || count <= 0) return false;
  int k = 0;
  for (int i = 0; i < word; ++i)
    if (mask & (1u << i)) ++k;
  *value = values[k < count ? k : count - 1];
  return true;
}

std::string HostCommand::Describe() const {
  char buf[256];
  int p = std::snprintf(buf, sizeof buf, "%s%s op=%02X", immediate ? "imm " : "", KindName(kind), opcode);
  if (kind == CmdKind::kReadRequest || kind == CmdKind::kRegisterWrite)
    p += std::snprintf(buf + p, sizeof buf - p, " %s mask=%02X desc=%02X", RegName(reg), mask, descriptor);
  else if (kind == CmdKind::kAction)
    p += std::snprintf(buf + p, sizeof buf - p, " mask=%02X", mask);
  if (kind == CmdKind::kRegisterWrite)
    for (int k = 0; k < count && p < 200; ++k) p += std::snprintf(buf + p, sizeof buf - p, " %u", values[k]);
  if (tag >= 0) p += std::snprintf(buf + p, sizeof buf - p, " tag=%02X", tag);
  if (kind == CmdKind::kInvalid) std::snprintf(buf + p, sizeof buf - p, " (%s)", error.c_str());
  return buf;
}

bool DecodeCommand(const uint8_t* body, int size, HostCommand* out) {
  *out = HostCommand{};
  auto fail = [out](const char* why) {
    out->kind = CmdKind::kInvalid;
    out->error = why;
    return false;
  };
  if (size < 1) return fail("empty body");
  out->opcode = body[0];
  out->code = body[0] & Op::kCodeBits;
  out->immediate = (body[0] & Op::kImmediate) != 0;
  const uint8_t c = out->code;
  if (c < Op::kReadReg) {
    out->kind = CmdKind::kSystem;
    if (size == 1) return true;
    if (size == 2) {
      out->tag = body[1];
      return true;
    }
    return fail("system command of wrong length");
  }
  if (c >= Op::kFirstAction) {
    out->kind = CmdKind::kAction;
    if (size < 2 || size > 3) return fail("action command of wrong length");
    out->mask = body[1];
    if (size == 3) out->tag = body[2];
    return true;
  }
  out->reg = (c - Op::kReadReg) >> 1;
  const bool write = ((c - Op::kReadReg) & 1) != 0;
  out->kind = write ? CmdKind::kRegisterWrite : CmdKind::kReadRequest;
  if (size < 3) return fail("register command too short");
  out->mask = body[1];
  out->descriptor = body[2];
  out->count = body[2] & 0x0F;
  out->width = WidthOfCode((body[2] >> 4) & 3);
  out->delta = (body[2] & 0x40) != 0;
  if (out->width == 0) return fail("width code 3");
  if (body[2] & 0x80) return fail("descriptor bit 7 set");
  if (!write) {
    if (size == 3) return true;
    if (size == 4) {
      out->tag = body[3];
      return true;
    }
    return fail("read request of wrong length");
  }
  if (out->count < 1 || out->count > 8) return fail("value count outside 1..8");
  if (out->mask == 0) return fail("write with empty mask");
  const int data = out->count * out->width;
  if (size == 3 + data + 1)
    out->tag = body[size - 1];
  else if (size != 3 + data)
    return fail("register write of wrong length");
  for (int k = 0; k < out->count; ++k) {
    uint32_t v = 0;
    for (int b = 0; b < out->width; ++b) v |= static_cast<uint32_t>(body[3 + k * out->width + b]) << (8 * b);
    out->values[k] = v;
  }
  return true;
}

void ApplyUnit(uint32_t (&words)[kWords], uint8_t mask, int width, bool delta, const uint32_t* values, int n) {
  if (n < 1) return;
  int k = 0;
  const uint32_t wm = WidthMask(width);
  for (int i = 0; i < kWords; ++i) {
    if (!(mask & (1u << i))) continue;
    const uint32_t v = values[k];
    if (delta)
      words[i] = static_cast<uint32_t>(static_cast<int64_t>(words[i]) + SignExtend(v, width));
    else
      words[i] = (words[i] & ~wm) | (v & wm);
    if (k < n - 1) ++k;
  }
}

void AppendUnit(std::vector<uint8_t>* out, uint8_t mask, const uint32_t (&words)[kWords], int width,
                bool descriptor_always) {
  if (width != 1 && width != 2) width = 4;
  out->push_back(mask);
  if (mask == 0) {
    if (descriptor_always) {
      out->push_back(0x21);
      for (int b = 0; b < 4; ++b) out->push_back(0);
    }
    return;
  }
  const uint32_t wm = WidthMask(width);
  uint32_t v[kWords];
  int n = 0;
  for (int i = 0; i < kWords; ++i)
    if (mask & (1u << i)) v[n++] = words[i] & wm;
  while (n > 1 && v[n - 1] == v[n - 2]) --n;
  const uint8_t code = width == 1 ? 0x00 : width == 2 ? 0x10 : 0x20;
  out->push_back(static_cast<uint8_t>(code | n));
  for (int k = 0; k < n; ++k)
    for (int b = 0; b < width; ++b) out->push_back(static_cast<uint8_t>(v[k] >> (8 * b)));
}

uint8_t Checksum(const uint8_t* data, size_t size) {
  uint8_t s = 0;
  for (size_t i = 0; i < size; ++i) s = static_cast<uint8_t>(s + data[i]);
  return s;
}

std::vector<uint8_t> BuildFrame(const uint8_t* body, size_t size, uint8_t controller_id) {
  std::vector<uint8_t> f;
  if (size > static_cast<size_t>(kMaxBody)) return f;
  f.reserve(size + 4);
  f.push_back(kStartByte);
  f.push_back(static_cast<uint8_t>(size + 2));
  f.push_back(controller_id);
  f.insert(f.end(), body, body + size);
  f.push_back(Checksum(f.data(), f.size()));
  return f;
}

std::vector<uint8_t> HostSystem(uint8_t opcode, int tag) {
  std::vector<uint8_t> b{opcode};
  if (tag >= 0 && tag != kNoTag) b.push_back(static_cast<uint8_t>(tag));
  return BuildFrame(b);
}

std::vector<uint8_t> HostAction(uint8_t opcode, uint8_t mask, int tag) {
  std::vector<uint8_t> b{opcode, mask};
  if (tag >= 0 && tag != kNoTag) b.push_back(static_cast<uint8_t>(tag));
  return BuildFrame(b);
}

std::vector<uint8_t> HostRead(int reg, uint8_t mask, bool immediate, int tag) {
  std::vector<uint8_t> b{static_cast<uint8_t>(Op::ReadReg(reg) | (immediate ? Op::kImmediate : 0)), mask,
                         static_cast<uint8_t>(0x20 | PopCount(mask))};
  if (tag >= 0 && tag != kNoTag) b.push_back(static_cast<uint8_t>(tag));
  return BuildFrame(b);
}

std::vector<uint8_t> HostWrite(int reg, uint8_t mask, const uint32_t (&words)[kWords], bool immediate, int tag,
                               int width) {
  std::vector<uint8_t> b{static_cast<uint8_t>(Op::WriteReg(reg) | (immediate ? Op::kImmediate : 0))};
  AppendUnit(&b, mask, words, width, true);
  if (tag >= 0 && tag != kNoTag) b.push_back(static_cast<uint8_t>(tag));
  return BuildFrame(b);
}

}  // namespace voxa_sim
