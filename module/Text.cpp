// Text.cpp: message patterns and computer-name forms.
#include "Text.h"

#include <cwchar>

namespace kalvora {

std::wstring FormatText(std::wstring_view pattern, std::initializer_list<const wchar_t*> args)
{
    std::wstring out;
    out.reserve(pattern.size() + 32);
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        wchar_t c = pattern[i];
        if (c == L'%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == L's') {
                if (next != args.end()) {
                    out += *next ? *next : L"(null)";
                    ++next;
                }
                ++i;
                continue;
            }
            if (pattern[i + 1] == L'%') {
                out.push_back(L'%');
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

std::size_t LengthUpToNul(const wchar_t* text, std::size_t units)
{
    const wchar_t* nul = units ? std::wmemchr(text, L'\0', units) : nullptr;
    return nul ? static_cast<std::size_t>(nul - text) : units;
}

std::wstring UncComputer(std::wstring_view computer)
{
    std::wstring out;
    if (!computer.empty() && computer[0] != L'\\' && computer[0] != L'/')
        out = L"\\\\";
    out += computer;
    return out;
}

}  // namespace kalvora
