// Text.h: small text helpers shared by the object classes.
//
// Plain C++ with no Windows headers, so that it also builds natively (fuzzing).
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kalvora {

// Fills a fixed message pattern: each "%s" takes the next argument (a null
// argument is written as "(null)", a missing one as nothing) and "%%" stands
// for '%'. No other directive exists, so argument text is never interpreted.
std::wstring FormatText(std::wstring_view pattern, std::initializer_list<const wchar_t*> args);

// Length of registry text data: the characters before the first NUL, or all
// `units` when there is none.
std::size_t LengthUpToNul(const wchar_t* text, std::size_t units);

// The UNC form of a computer name: "\\" in front of a name that is not empty
// and does not begin with a backslash or a forward slash.
std::wstring UncComputer(std::wstring_view computer);

}  // namespace kalvora
