// DomainPath.cpp: the directory paths built from the domain's names.
#include "collection/DomainPath.h"

#include <algorithm>

#include "module/Text.h"

namespace kalvora {

std::vector<std::wstring> CutDomainLabels(std::wstring_view dnsName)
{
    std::vector<std::wstring> labels;
    std::wstring_view rest = dnsName;
    for (int cuts = 0; cuts < 10; ++cuts) {
        const std::size_t dot = rest.find(L'.');
        if (dot == std::wstring_view::npos)
            break;
        if (dot > 0)
            labels.emplace_back(rest.substr(0, dot));
        rest.remove_prefix(dot + 1);
    }
    labels.emplace_back(rest);
    return labels;
}

std::wstring NamingContext(const std::vector<std::wstring>& labels)
{
    std::wstring context;
    for (const std::wstring& label : labels)
        context += L",DC=" + label;
    return context.substr(std::min(context.find_first_not_of(L", "), context.size()));
}

std::wstring UsersContainerPath(const std::vector<std::wstring>& labels, std::wstring_view unit)
{
    const std::wstring context = NamingContext(labels), name(unit);
    if (name.empty() || name.find(L"...") != std::wstring::npos)
        return FormatText(L"LDAP://%s/CN=Users,%s", {labels.front().c_str(), context.c_str()});
    return FormatText(L"LDAP://%s/OU=%s,%s", {labels.front().c_str(), name.c_str(), context.c_str()});
}

std::wstring DomainRootPath(const std::vector<std::wstring>& labels)
{
    return FormatText(L"LDAP://%s/%s", {labels.front().c_str(), NamingContext(labels).c_str()});
}

}  // namespace kalvora
