#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

// Conversions between the narrow UTF-8 strings used in the code and the
// UTF-16 text kept in fixed-size wide fields. Malformed UTF-8 bytes become
// U+FFFD; unpaired surrogates are dropped.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Largest prefix length of `text`, at most `maxUnits` code units, that does
// not end inside a surrogate pair.
size_t Utf16CutLength(std::u16string_view text, size_t maxUnits);

}  // namespace common
