// KalvoraUser.cpp: property accessors and methods of the user object.
#include "user/KalvoraUser.h"

#include <new>

#include "module/Module.h"

namespace kalvora {

HRESULT CKalvoraUser::FinalConstruct() noexcept
{
    // Every validated string starts empty (allocated); Mailbox starts null.
    BStr* fields[] = {&m_computer,   &m_myComputer, &m_myDesktop, &m_myDocuments, &m_myFavorites,
                      &m_myNetwork,  &m_myRecent,   &m_name,      &m_securityLevel};
    for (BStr* field : fields) {
        *field = BStr::Empty();
        if (field->IsNull())
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CKalvoraUser::GetChecked(const BStr& field, BSTR* pVal) noexcept
{
    if (IsBadWritePtr(pVal, sizeof(BSTR)))
        return E_INVALIDARG;
    return field.CopyTo(pVal);
}

HRESULT CKalvoraUser::PutChecked(BStr& field, BSTR newVal) noexcept
{
    if (IsBadReadPtr(newVal, 4))
        return E_INVALIDARG;
    return field.AssignUpToNul(newVal);
}

#define KALVORA_CHECKED_PROPERTY(Prop, field)                 \
    STDMETHODIMP CKalvoraUser::get_##Prop(BSTR* pVal)         \
    {                                                         \
        ModuleStateGuard guard;                               \
        return GetChecked(field, pVal);                       \
    }                                                         \
    STDMETHODIMP CKalvoraUser::put_##Prop(BSTR newVal)        \
    {                                                         \
        ModuleStateGuard guard;                               \
        return PutChecked(field, newVal);                     \
    }

KALVORA_CHECKED_PROPERTY(Computer, m_computer)
KALVORA_CHECKED_PROPERTY(MyComputer, m_myComputer)
KALVORA_CHECKED_PROPERTY(MyDesktop, m_myDesktop)
KALVORA_CHECKED_PROPERTY(MyDocuments, m_myDocuments)
KALVORA_CHECKED_PROPERTY(MyFavorites, m_myFavorites)
KALVORA_CHECKED_PROPERTY(MyNetwork, m_myNetwork)
KALVORA_CHECKED_PROPERTY(MyRecent, m_myRecent)
KALVORA_CHECKED_PROPERTY(Name, m_name)
KALVORA_CHECKED_PROPERTY(SecurityLevel, m_securityLevel)

#undef KALVORA_CHECKED_PROPERTY

STDMETHODIMP CKalvoraUser::WriteToRegistry()
{
    // The user object persists nothing; the collection reports this failure.
    return E_FAIL;
}

STDMETHODIMP CKalvoraUser::get_IsNetwork(LONG* pVal)
{
    ModuleStateGuard guard;
    if (!pVal)
        return E_POINTER;
    *pVal = m_isNetwork;
    return S_OK;
}

STDMETHODIMP CKalvoraUser::put_IsNetwork(LONG newVal)
{
    ModuleStateGuard guard;
    m_isNetwork = newVal;
    return S_OK;
}

STDMETHODIMP CKalvoraUser::get_Mailbox(BSTR* pVal)
{
    ModuleStateGuard guard;
    if (!pVal)
        return E_POINTER;
    return m_mailbox.CopyTo(pVal);
}

STDMETHODIMP CKalvoraUser::put_Mailbox(BSTR newVal)
{
    ModuleStateGuard guard;
    return m_mailbox.AssignUpToNul(newVal);
}

STDMETHODIMP CKalvoraUser::PopulateMyComputer()
{
    ModuleStateGuard guard;
    if (m_computer.Length() == 0)
        return S_OK;
    try {
        // Its outcome is not examined: an unreachable computer changes nothing.
        PopulateProfileFolders(std::wstring(m_name.Get(), m_name.Length()),
                               std::wstring(m_computer.Get(), m_computer.Length()));
    } catch (const std::bad_alloc&) {
    }
    return S_OK;
}

}  // namespace kalvora
