#include "state/receive.h"

#include <algorithm>
#include <cstring>

namespace voxa {

FrameParser::Step FrameParser::Take(uint8_t b) {
  switch (state_) {
    case 0:
      if (b == 0xFE) {
        f_.bytes[0] = b;
        sum_ = b;
        state_ = 1;
      }
      return Step::kNone;
    case 1:
      if (b == 0xFE) return Step::kNone;  // a repeated start byte
      f_.bytes[1] = b;
      f_.n = b & 0x7F;
      i_ = 0;
      if (f_.n < 2) {
        state_ = 0;  // the length byte is the only byte after the start
        return Step::kNone;
      }
      sum_ = static_cast<uint8_t>(sum_ + b);
      state_ = 2;
      return Step::kNone;
    case 2:
      if (b == 0xFE) {  // a new start where the id was expected
        f_.bytes[0] = b;
        sum_ = b;
        state_ = 1;
        return Step::kNone;
      }
      f_.bytes[2] = b;
      sum_ = static_cast<uint8_t>(sum_ + b);
      i_ = 1;
      j_ = 0;
      state_ = 3;
      return Step::kNone;
    default:
      ++i_;
      ++j_;
      if (i_ < f_.n) {
        f_.bytes[2 + j_] = b;
        sum_ = static_cast<uint8_t>(sum_ + b);
        return Step::kNone;
      }
      state_ = 0;
      f_.checksum = b;
      f_.bytes[f_.n + 1] = b;
      f_.body_count = j_ - 1;
      f_.tag = f_.bytes[f_.n];
      if (b == sum_) return Step::kFrame;
      // Neither the length byte nor the id is a start byte; the body and
      // the checksum may hold one.
      return std::memchr(f_.bytes + 3, 0xFE, static_cast<size_t>(f_.n - 1)) ? Step::kFailed : Step::kNone;
  }
}

void FrameParser::Requeue() {
  const auto* start = static_cast<const uint8_t*>(std::memchr(f_.bytes + 3, 0xFE, static_cast<size_t>(f_.n - 1)));
  const int from = static_cast<int>(start - f_.bytes);
  const int count = f_.n + 2 - from;  // up to the checksum
  const int rest = replay_end_ - replay_at_;
  std::memmove(replay_ + count, replay_ + replay_at_, static_cast<size_t>(rest));
  std::memcpy(replay_, start, static_cast<size_t>(count));
  replay_at_ = 0;
  replay_end_ = count + rest;
}

int EngineVersion(uint32_t w) { return static_cast<int>(((w & 0xF000) >> 12) * 100 + ((w & 0x0F00) >> 8)); }

namespace {

struct Unit {
  uint8_t mask;
  bool delta;
  int width;
  int count;
  uint32_t v[8];
};

// Reads the descriptor at p and the values after it; false when the unit is
// malformed or does not end at or before byte n.
bool ReadUnit(const RxFrame& f, int& p, uint8_t mask, uint8_t d, Unit& u) {
  const int wc = (d >> 4) & 3;
  const int count = d & 0x0F;
  if (wc == 3 || count == 0 || count > 8) return false;
  const int width = 1 << wc;
  if (p + count * width - 1 > f.n) return false;
  u.mask = mask;
  u.delta = (d & 0x40) != 0;
  u.width = width;
  u.count = count;
  // Little-endian values, one loop per width (the 4-byte one compiles to
  // plain loads).
  const uint8_t* src = f.bytes + p;
  if (width == 4) {
    for (int k = 0; k < count; ++k, src += 4)
      u.v[k] = static_cast<uint32_t>(src[0]) | static_cast<uint32_t>(src[1]) << 8 |
               static_cast<uint32_t>(src[2]) << 16 | static_cast<uint32_t>(src[3]) << 24;
  } else if (width == 2) {
    for (int k = 0; k < count; ++k, src += 2) u.v[k] = static_cast<uint32_t>(src[0]) | static_cast<uint32_t>(src[1]) << 8;
  } else {
    for (int k = 0; k < count; ++k) u.v[k] = src[k];
  }
  p += count * width;
  return true;
}

void ApplyUnit(uint32_t* image, int r, const Unit& u) {
  uint32_t* words = image + r * kWords;
  // Eight whole words, as state packets and polls mostly carry them.
  if (!u.delta && u.width == 4 && u.mask == 0xFF && u.count == 8) {
    std::memcpy(words, u.v, sizeof u.v);
    return;
  }
  int k = 0;
  for (int i = 0; i < 8; ++i) {
    if (!(u.mask & (1u << i))) continue;
    const uint32_t v = u.v[k];
    if (!u.delta) {
      if (u.width == 1)
        words[i] = (words[i] & ~0xFFu) | v;
      else if (u.width == 2)
        words[i] = (words[i] & ~0xFFFFu) | v;
      else
        words[i] = v;
    } else {
      int32_t inc = u.width == 1 ? static_cast<int8_t>(v) : u.width == 2 ? static_cast<int16_t>(v) : static_cast<int32_t>(v);
      words[i] += static_cast<uint32_t>(inc);
    }
    if (k < u.count - 1) ++k;
  }
}

constexpr int kCustomGroup = -1;
struct Group {
  uint8_t bit;
  int reg;
};
constexpr Group kGroups[] = {
    {0x01, CHIPSTATUS}, {0x02, AXISSTATUS}, {0x04, CURPOS}, {0x08, ENCPOS},
    {0x10, CURVEL},     {0x20, GIO},        {0x20, EXTIO},  {0x40, kCustomGroup},
};

}  // namespace

int DecodeStatePacket(StateMirror& m, const RxFrame& f, uint32_t* updated) {
  if (f.n < 4) return 0;
  const uint8_t s = f.bytes[4];
  int p = 5;
  // One hold for the packet: a reader sees each unit entirely or not at all.
  platform::Locked lock(m.Lock());
  for (const Group& g : kGroups) {
    if (!(s & g.bit)) continue;
    if (p > f.n) return 0;  // the mask announces a unit the body does not hold
    const uint8_t mask = f.bytes[p++];
    if (mask == 0) continue;
    if (p > f.n) return 0;
    const uint8_t d = f.bytes[p++];
    Unit u;
    if (!ReadUnit(f, p, mask, d, u)) return 0;
    int r = g.reg;
    if (r == kCustomGroup) r = static_cast<int>((m.Image()[CHIPSET * kWords + 1] >> 8) & 0x1F);
    ApplyUnit(m.Received(), r, u);
    ApplyUnit(m.Image(), r, u);
    if (updated) *updated |= 1u << r;
  }
  return 1;
}

int DecodeReadReply(StateMirror& m, const RxFrame& f, int type, uint32_t* updated, int* tag) {
  if (f.n < 5) return 0;
  const int r = ((type & 0x7F) - 16) / 2;
  if (r < 0 || r > 31) return 0;
  const uint8_t mask = f.bytes[4];
  const uint8_t d = f.bytes[5];
  if (d & 0x80) return 0;
  int p = 6;
  Unit u;
  if (!ReadUnit(f, p, mask, d, u)) return 0;
  if (tag != nullptr) *tag = p <= f.n ? f.bytes[f.n] : -1;

  platform::Locked lock(m.Lock());
  ApplyUnit(m.Received(), r, u);
  if (updated) *updated |= 1u << r;
  uint32_t* img = m.Image() + r * kWords;
  const uint32_t* rec = m.Received() + r * kWords;
  switch (r) {
    case CHIPSTATUS: case AXISSTATUS: case CURPOS: case ENCPOS: case CURVEL: case FEEDBACK: case CUSTOM:
      for (int i = 0; i < 8; ++i)
        if (mask & (1u << i)) img[i] = rec[i];
      break;
    case GIO: case EXTIO:
      for (int i = 0; i < 4; ++i)
        if (mask & (1u << i)) img[i] = rec[i];
      break;
    case CAL2: case CAL3:
      if (f.tag == 0xCB) {
        int idx = m.capture_index;
        if (idx < 0 || idx >= StateMirror::kCaptureEntries) idx = 0;
        uint32_t* entry = m.CaptureEntry(idx);
        for (int i = 0; i < 8; ++i)
          if (mask & (1u << i)) entry[i] = rec[i];
        m.capture_index = (idx + 1) % StateMirror::kCaptureEntries;
        // Counts on past 10000; wraps rather than overflowing.
        m.capture_count = static_cast<int32_t>(static_cast<uint32_t>(m.capture_count) + 1u);
      }
      break;
    default:
      break;  // the host's own values stay in the register image
  }
  return 1;
}

void OldEngineLimitCheck(StateMirror& m) {
  platform::Locked lock(m.Lock());
  uint32_t* img = m.Image();
  auto W = [img](int r, int i) -> uint32_t& { return img[r * kWords + i]; };
  if (EngineVersion(W(CHIPSTATUS, 7)) > 205) return;
  bool any_soft = false;
  for (int i = 0; i < 8; ++i) {
    uint32_t st = W(AXISSTATUS, i);
    const uint32_t set = W(AXISSET, i);
    if (((set & 0x10000) && (st & 0x4)) || ((set & 0x20000) && (st & 0x8))) {
      st |= 0x80;
      W(AXISSTATUS, i) = st;
    }
    if (i < 4) continue;
    const int32_t pos = static_cast<int32_t>(W(CURPOS, i));
    bool low, high;
    if ((set & 0x40000) && pos < static_cast<int32_t>(W(SLIMITL, i))) {
      st |= 0x10;
      any_soft = low = true;
    } else {
      st &= ~0x10u;
      low = false;
    }
    W(AXISSTATUS, i) = st;
    if ((set & 0x80000) && pos > static_cast<int32_t>(W(SLIMITH, i))) {
      st |= 0x20 | 0x80;
      any_soft = high = true;
    } else {
      st &= ~0x20u;
      high = false;
    }
    W(AXISSTATUS, i) = st;
    if (!(W(AXISSTATUS, i) & 0x80) && (low || high)) W(AXISSTATUS, i) = st | 0x80;
  }
  if (any_soft) {
    uint32_t& cs = W(CHIPSTATUS, 0);
    if ((cs & 0x800080) != 0x800080) cs |= 0x800080;
  }
}

int DispatchFrame(StateMirror& m, PacketCounters& c, ReceiveEvents* ev, const RxFrame& f, uint32_t* updated) {
  if (f.n < 3) return 0;  // no packet type byte: nothing to dispatch
  const int t = f.type();
  const uint32_t p = f.payload_word();
  int result = 0;
  bool limit_check = false;
  int reply_tag = -1;
  switch (t) {
    case 0: case 1: case 2:
      result = 1;
      break;
    case 9:
      c.heartbeat.fetch_add(1);
      result = 1;
      break;
    case 10:
      c.event.fetch_add(1);
      if (ev) ev->OnEventPacket(p);
      result = 1;
      break;
    case 11:
      result = DecodeStatePacket(m, f, updated);
      limit_check = true;
      break;
    case 12:
      result = 1;
      limit_check = true;
      break;
    case 13: {
      platform::Locked lock(m.Lock());
      m.SetRegField(CHIPSTATUS, 0, 0xFF, p & 0xFF);
      m.OrRegBits(CHIPSTATUS, 0, 0x1);
      c.busy.fetch_add(1);
      result = 1;
      break;
    }
    case 14:
      c.complete.fetch_add(1);
      if (ev) ev->OnComplete(p);
      result = 1;
      break;
    case 15:
      m.SetRegField(CHIPSTATUS, 0, 0xFFFF, p);
      c.interrupt.fetch_add(1);
      result = 1;
      break;
    default:
      if (t >= 16 && t <= 78 && (t % 2) == 0) {
        result = DecodeReadReply(m, f, t, updated, &reply_tag);
        limit_check = true;
      }
      break;
  }
  if (limit_check) OldEngineLimitCheck(m);
  // Told once the image holds everything the reply brought.
  if (result && ev && t >= 16) ev->OnReadReply((t - 16) / 2, reply_tag);
  return result;
}

}  // namespace voxa
