// DirectoryQueries.cpp: the domain's user accounts and organizational units,
// asked of the directory over ADSI (LDAP), each served as a count followed by
// names fetched by index. They report nothing: a failure gives a count of 0.
#include "collection/EnumKalvoraUser.h"

#include <new>

#include "collection/DomainPath.h"
#include "module/BStr.h"
#include "module/Module.h"
#include "module/Variant.h"
#include "platform/Directory.h"
#include "platform/Lists.h"

namespace kalvora {

using Microsoft::WRL::ComPtr;

namespace {

// Reads an attribute of a directory object: its value when the read succeeds
// and the value has type vt, else nothing.
bool ReadAttribute(IADs* object, const BStr& name, VARTYPE vt, Variant& value)
{
    if (SUCCEEDED(object->Get(name.Get(), &value)) && value.vt == vt)
        return true;
    value.Clear();
    return false;
}

// The text of a string attribute, appended to list; false when there is none.
bool AppendText(IADs* object, const BStr& name, std::vector<std::wstring>& list)
{
    Variant value;
    if (!ReadAttribute(object, name, VT_BSTR, value))
        return false;
    list.emplace_back(value.bstrVal, SysStringLen(value.bstrVal));
    return true;
}

// The domain's labels, from its DNS name; false when ADSystemInfo cannot be created.
bool DomainLabels(std::vector<std::wstring>& labels)
{
    ComPtr<IADsADSystemInfo> info;
    if (FAILED(CreateSystemInfo(info)))
        return false;
    BStr dnsName;
    info->get_DomainDNSName(dnsName.Put());  // a missing name is an empty one
    labels = CutDomainLabels(std::wstring_view(dnsName.Get() ? dnsName.Get() : L"", dnsName.Length()));
    return true;
}

// Lists the elements of the container at path that filter selects: take
// appends the text it finds in an element to list. The list is emptied only
// once an enumerator exists. Returns the count appended.
template <class Take>
LONG FillList(const std::wstring& path, const wchar_t* filter, std::vector<std::wstring>& list, const Take& take)
{
    ComPtr<IEnumVARIANT> elements;
    if (FAILED(EnumerateContainer(path, filter, elements)) || !elements)
        return 0;
    list.clear();
    LONG count = 0;
    ForEachElement(elements.Get(), [&](IADs* object) {
        if (take(object))
            ++count;
    });
    return count;
}

}  // namespace

STDMETHODIMP CEnumKalvoraUser::GetDomainUserCount(BSTR bsGroup, LONG* pVal)
{
    ModuleStateGuard guard;
    if (!pVal)
        return E_POINTER;
    *pVal = 0;
    try {
        std::vector<std::wstring> labels;
        const BStr groupType = BStr::Of(L"groupType"), account = BStr::Of(L"sAMAccountName");
        if (groupType.IsNull() || account.IsNull() || !DomainLabels(labels))
            return S_OK;
        // A user account gives its "sAMAccountName", unless an integer "groupType" makes it a group.
        *pVal = FillList(UsersContainerPath(labels, std::wstring_view(bsGroup ? bsGroup : L"", SysStringLen(bsGroup))),
                         L"user", m_domainUsers, [&](IADs* object) {
                             Variant value;
                             if (ReadAttribute(object, groupType, VT_I4, value))
                                 return false;
                             return AppendText(object, account, m_domainUsers);
                         });
    } catch (...) {
        *pVal = 0;  // the list keeps what was appended
    }
    return S_OK;
}

STDMETHODIMP CEnumKalvoraUser::GetDomainUserName(LONG lIndex, BSTR* pVal)
{
    ModuleStateGuard guard;
    return CopyEntry(m_domainUsers, lIndex, pVal);
}

STDMETHODIMP CEnumKalvoraUser::GetUserGroupCount(LONG* pVal)
{
    ModuleStateGuard guard;
    if (!pVal)
        return E_POINTER;
    *pVal = 0;
    try {
        std::vector<std::wstring> labels;
        const BStr ou = BStr::Of(L"ou");
        if (ou.IsNull() || !DomainLabels(labels))
            return S_OK;
        *pVal = FillList(DomainRootPath(labels), L"organizationalUnit", m_userGroups,
                         [&](IADs* object) { return AppendText(object, ou, m_userGroups); });
    } catch (...) {
        *pVal = 0;
    }
    return S_OK;
}

STDMETHODIMP CEnumKalvoraUser::GetUserGroupName(LONG lIndex, BSTR* pVal)
{
    ModuleStateGuard guard;
    return CopyEntry(m_userGroups, lIndex, pVal);
}

}  // namespace kalvora
