// The display text of a share value, as a client is shown it, and cut back to
// the value name. Input: the name up to the first 0 byte, then the data bytes.
#include <cstring>

#include "FuzzSupport.h"
#include "shares/ShareText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::vector<wchar_t> chars = Widen(data, zero ? zero - data : size);
    const std::vector<std::uint8_t> value(zero ? zero + 1 : data + size, data + size);  // of exactly its stored length
    const std::wstring_view name(chars.data(), chars.size());
    const std::wstring display = kalvora::ShareDisplayText(name, value.data(), value.size());
    // The name; with data, " - [", the data up to its first null and "]".
    FUZZ_CHECK(display.compare(0, name.size(), name) == 0 && display.find(L'\0') == std::wstring::npos);
    FUZZ_CHECK(value.empty() ? display == name
                             : display.size() <= name.size() + 5 + value.size() / 2 &&
                                   display.compare(name.size(), 4, L" - [") == 0 && display.back() == L']');
    // Shown without the "on" of the first "[onhttp"; cut back to the name,
    // shown or not, unless the name itself holds " - [" (or "[onhttp").
    const std::wstring shown = kalvora::ShownShareText(display);
    const std::size_t at = display.find(L"[onhttp");
    FUZZ_CHECK(shown ==
               (at == std::wstring::npos ? display : display.substr(0, at) + L"[http" + display.substr(at + 7)));
    const bool plain = name.find(L" - [") == std::wstring_view::npos;
    FUZZ_CHECK(!plain || kalvora::ShareValueName(display) == name);
    FUZZ_CHECK(!plain || name.find(L"[onhttp") != std::wstring_view::npos || kalvora::ShareValueName(shown) == name);
    return 0;
}
