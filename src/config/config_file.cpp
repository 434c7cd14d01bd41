#include "config/config_file.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "config/document.h"
#include "config/text.h"
#include "families/io/pid.h"
#include "families/motion/system_control.h"
#include "platform/file.h"

namespace voxa::config {
namespace {

// Waits between the steps of a load, giving the board time to take each.
constexpr uint32_t kWordWaitMs = 1;
constexpr uint32_t kAfterRegistersWaitMs = 100;
constexpr uint32_t kPidSetupWaitMs = 10;
constexpr uint32_t kPidResetWaitMs = 20;
constexpr uint32_t kCommandWaitMs = 10;
// A save waits this long per PID controller (dispatching messages, as the
// load does).
constexpr uint32_t kSavePidWaitMs = 10;

constexpr uint32_t kMainLinkAlarm = 0x8000000;  // CHIPSET word 1 bit 27

// Registers the board reports rather than the host sets; saved as 0.
bool IsStatusRegister(int r) { return r == CHIPSTATUS || r == AXISSTATUS || r == GIO || r == EXTIO; }

std::u16string Ascii(const char* s) {
  std::u16string out;
  for (; *s; ++s) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
  return out;
}

std::u16string RegKey(int r, int w) {
  char key[32];
  std::snprintf(key, sizeof key, "REG[%02d].%02d", r, w);
  return Ascii(key);
}

std::u16string PidKey(int ch, int k) {
  char key[48];
  std::snprintf(key, sizeof key, "CUSTOM_CONTROLLER[%02d][%02d]", ch, k);
  return Ascii(key);
}

std::u16string Decimal(uint32_t word) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int32_t>(word));
  return Ascii(text);
}

// Commands sent inside it go to the board at once, and no other thread's
// commands fall between them.
class ImmediateBracket {
 public:
  explicit ImmediateBracket(Controller& c) : c_(c) { c_.EnterImCmd(); }
  ~ImmediateBracket() { c_.LeaveImCmd(); }
  ImmediateBracket(const ImmediateBracket&) = delete;
  ImmediateBracket& operator=(const ImmediateBracket&) = delete;

 private:
  Controller& c_;
};

// Writes `image` (kImageWords words; the status registers as 0) and the
// stored PID setups into the file, keeping its other sections and entries.
bool SaveWords(Controller& c, const std::string& path, const uint32_t* image) {
  Document doc;
  std::vector<uint8_t> old;
  // A file that is missing or cannot be read starts an empty document.
  if (platform::ReadWholeFile(path, kMaxDocumentBytes, old) == platform::FileReadResult::Ok) doc = Document::Parse(old);

  for (int r = 0; r < kRegisters; ++r)
    for (int w = 0; w < kWords; ++w)
      doc.Set(kConfigSection, RegKey(r, w), Decimal(IsStatusRegister(r) ? 0 : image[r * kWords + w]));

  for (int ch = 0; ch < kPidControllers; ++ch) {
    const PidSetupRecord record = family::io::StoredPidSetup(c, ch);
    platform::SleepDispatching(kSavePidWaitMs);
    for (int k = 0; k < 8; ++k) doc.Set(kConfigSection, PidKey(ch, k), Decimal(record.words[k]));
  }

  const std::vector<uint8_t> bytes = doc.Serialize();
  return platform::ReplaceWholeFile(path, bytes.data(), bytes.size());
}

}  // namespace

bool SaveConfig(Controller& c, const std::string& path) {
  uint32_t image[kImageWords];
  {
    platform::Locked hold(c.StateLock());
    std::memcpy(image, c.mirror().Image(), sizeof image);
  }
  return SaveWords(c, path, image);
}

bool SaveReportedConfig(Controller& c, const std::string& path) {
  uint32_t words[kImageWords];
  // Which registers the board has reported is asked before the words are
  // copied: a register marked reported has its words in the mirror by then.
  bool reported[kRegisters];
  for (int r = 0; r < kRegisters; ++r) reported[r] = c.RegAge(r) >= 0;
  {
    platform::Locked hold(c.StateLock());
    std::memcpy(words, c.mirror().Image(), sizeof words);
    const uint32_t* received = c.mirror().Received();
    for (int r = 0; r < kRegisters; ++r)
      if (reported[r]) std::memcpy(words + r * kWords, received + r * kWords, kWords * sizeof(uint32_t));
  }
  return SaveWords(c, path, words);
}

// The load takes about half a second; a window thread that loads keeps
// dispatching its messages through the pauses.
bool LoadConfig(Controller& c, const std::string& path) {
  std::vector<uint8_t> bytes;
  if (platform::ReadWholeFile(path, kMaxDocumentBytes, bytes) != platform::FileReadResult::Ok) return false;
  const Document doc = Document::Parse(bytes);

  // Every register word must be there before anything changes.
  uint32_t words[kRegisters][kWords];
  for (int r = 0; r < kRegisters; ++r) {
    for (int w = 0; w < kWords; ++w) {
      const std::u16string* v = doc.Find(kConfigSection, RegKey(r, w));
      if (v == nullptr) return false;
      words[r][w] = ParseUnsigned(*v);
    }
  }

  for (int r = kRegisters - 1; r >= 0; --r) {
    for (int w = 0; w < kWords; ++w) {
      c.SetRegWord(r, w, words[r][w]);
      // The main-link alarm is never switched on by a loaded file.
      if (w == 1) c.ClrRegBits(CHIPSET, 1, kMainLinkAlarm);
      {
        ImmediateBracket im(c);
        c.SendRegWrite(1, r, static_cast<uint8_t>(1u << w), kWidth4, kTagConfig);
      }
      platform::SleepDispatching(kWordWaitMs);
    }
  }
  platform::SleepDispatching(kAfterRegistersWaitMs);

  for (int ch = 0; ch < kPidControllers; ++ch) {
    PidSetupRecord record;
    // A controller missing from the file gets a zero word.
    for (int k = 0; k < 8; ++k) {
      const std::u16string* v = doc.Find(kConfigSection, PidKey(ch, k));
      record.words[k] = v ? ParseUnsigned(*v) : 0;
    }
    {
      ImmediateBracket im(c);
      family::io::SetupPid(c, ch, record);
    }
    platform::SleepDispatching(kPidSetupWaitMs);
  }
  for (int ch = 0; ch < kPidControllers; ++ch) {
    {
      ImmediateBracket im(c);
      family::io::ResetPid(c, ch);
    }
    platform::SleepDispatching(kPidResetWaitMs);
  }
  {
    ImmediateBracket im(c);
    family::control::Execute(c, family::control::kAlarmReset);
  }
  platform::SleepDispatching(kCommandWaitMs);
  {
    ImmediateBracket im(c);
    family::control::Execute(c, family::control::kEnableExe);
    family::control::Execute(c, family::control::kEnableExe);
  }
  platform::SleepDispatching(kCommandWaitMs);
  {
    ImmediateBracket im(c);
    family::control::Execute(c, family::control::kCancel);
  }
  platform::SleepDispatching(kCommandWaitMs);
  return true;
}

std::optional<std::string> PathFromWide(const char16_t* path) {
  if (path == nullptr) return std::nullopt;
  return EncodeUtf8(std::u16string_view(path));
}

std::optional<std::string> PathFrom8Bit(const char* path) {
  if (path == nullptr) return std::nullopt;
  // Windows: the ANSI code page, as every 8-bit function of the system.
  if (std::optional<std::string> ansi = platform::AnsiToUtf8(path)) return ansi;
  const std::u16string wide = Decode8Bit(reinterpret_cast<const uint8_t*>(path), std::strlen(path));
  return EncodeUtf8(wide);
}

}  // namespace voxa::config
