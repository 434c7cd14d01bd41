// Text conversions of the configuration file and of the paths applications
// pass: 16-bit text inside, UTF-16LE or 8-bit text in files, UTF-8 file
// names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voxa::config {

// UTF-16LE bytes to 16-bit text. A trailing odd byte is dropped; unpaired
// surrogates are kept as they are.
std::u16string DecodeUtf16Le(const uint8_t* bytes, size_t size);

// 8-bit text to 16-bit text: UTF-8, where a byte that does not begin a
// valid UTF-8 sequence is taken as a Latin-1 character.
std::u16string Decode8Bit(const uint8_t* bytes, size_t size);

// 16-bit text to UTF-8; nothing when it holds an unpaired surrogate (no
// UTF-8 text stands for it).
std::optional<std::string> EncodeUtf8(std::u16string_view text);

// Appends the text as UTF-16LE bytes.
void AppendUtf16Le(std::u16string_view text, std::vector<uint8_t>& out);

}  // namespace voxa::config
