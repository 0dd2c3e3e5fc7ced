// ShareText.cpp: display texts of shares.
#include "shares/ShareText.h"

namespace kalvora {

namespace {

constexpr std::wstring_view kDisplaySeparator = L" - [";
constexpr std::wstring_view kOnHttp = L"[onhttp";

}  // namespace

std::wstring ShareDisplayText(std::wstring_view name, const unsigned char* data, std::size_t dataBytes)
{
    std::wstring out(name);
    if (dataBytes == 0)
        return out;
    const std::size_t units = dataBytes / 2;
    out.reserve(name.size() + kDisplaySeparator.size() + units + 1);
    out += kDisplaySeparator;
    for (std::size_t i = 0; i < units; ++i) {
        const wchar_t c = static_cast<wchar_t>(data[2 * i] | data[2 * i + 1] << 8);
        if (c == L'\0')
            break;
        out.push_back(c);
    }
    out += L']';
    return out;
}

std::wstring ShownShareText(std::wstring_view display)
{
    std::wstring out(display);
    const std::size_t at = out.find(kOnHttp);
    if (at != std::wstring::npos)
        out.erase(at + 1, 2);  // the letters o and n after the bracket
    return out;
}

std::wstring_view ShareValueName(std::wstring_view display)
{
    return display.substr(0, display.find(kDisplaySeparator));
}

}  // namespace kalvora
