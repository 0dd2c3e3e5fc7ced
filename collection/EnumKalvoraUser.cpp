// EnumKalvoraUser.cpp: the user collection.
#include "collection/EnumKalvoraUser.h"

#include "module/Module.h"

namespace kalvora {

HRESULT CEnumKalvoraUser::FinalConstruct() noexcept { return S_OK; }

STDMETHODIMP CEnumKalvoraUser::Reset() { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::Add(IKalvoraUser*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::New(IKalvoraUser**) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::Remove(BSTR) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::Item(BSTR, IKalvoraUser**) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::GetCount(LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::get_NextUser(BSTR*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::AddUser(BSTR, BSTR, BSTR, LONG) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::GetDomainUserCount(BSTR, LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::GetDomainUserName(LONG, BSTR*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::CheckComputer(BSTR, BSTR, LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::GetUserGroupCount(LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::GetUserGroupName(LONG, BSTR*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::ImportFile(BSTR, LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::ClearKeys() { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::AddUserDB(VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT)
{
    ModuleStateGuard guard;
    return E_NOTIMPL;
}

}  // namespace kalvora
