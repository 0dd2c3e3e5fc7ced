// The domain's DNS name cut into labels, and the LDAP paths built from them.
#include "FuzzSupport.h"
#include "collection/DomainPath.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<wchar_t> chars = Widen(data, size);
    const std::wstring_view name(chars.data(), size);
    const std::vector<std::wstring> labels = kalvora::CutDomainLabels(name);
    // Joined back, the labels give the name without those of its first ten
    // dots that end an empty label.
    std::wstring expected, joined = labels.at(0), context = L"DC=" + labels[0];
    std::size_t dots = 0;
    bool emptyLabel = true;
    for (const wchar_t c : name) {
        const bool cut = c == L'.' && dots++ < 10;
        if (!cut || !emptyLabel)
            expected.push_back(c);
        emptyLabel = cut;
    }
    for (std::size_t i = 1; i < labels.size(); ++i) {
        FUZZ_CHECK(!labels[i - 1].empty() && labels[i - 1].find(L'.') == std::wstring::npos);  // all but the last
        joined += L"." + labels[i], context += L",DC=" + labels[i];
    }
    FUZZ_CHECK(labels.size() <= 11 && joined == expected && kalvora::NamingContext(labels) == context);
    // The paths (the "%s" of their patterns takes text up to a null).
    FUZZ_CHECK(name.find(L'\0') != std::wstring_view::npos ||
               (kalvora::DomainRootPath(labels) == L"LDAP://" + labels[0] + L"/" + context &&
                kalvora::UsersContainerPath(labels, L"") == L"LDAP://" + labels[0] + L"/CN=Users," + context));
    return 0;
}
