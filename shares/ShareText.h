// ShareText.h: the display text of a published share, and the rules that
// show it and cut it back to the share's value name.
//
// Plain C++ with no Windows headers, so that it also builds natively (fuzzing).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kalvora {

// The display text of one share value: the name; when the data is not empty,
// followed by " - [", the data and "]". The data is UTF-16 (little-endian)
// text of its stored length in bytes, taken up to its first null; whatever its
// registry type, and an odd last byte is ignored.
std::wstring ShareDisplayText(std::wstring_view name, const unsigned char* data, std::size_t dataBytes);

// The display text as a client is shown it: a share published with the "on"
// prefix in front of a web address loses the two letters after the bracket of
// the first "[onhttp".
std::wstring ShownShareText(std::wstring_view display);

// The value name that a display text names: the text in front of its first
// " - [", or the whole text when it holds none.
std::wstring_view ShareValueName(std::wstring_view display);

}  // namespace kalvora
