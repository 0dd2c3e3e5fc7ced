// KalvoraShares.cpp: the share store.
#include "shares/KalvoraShares.h"

#include "module/Module.h"

namespace kalvora {

void* KalvoraShares::FindInterface(REFIID riid) noexcept
{
    if (IsEqualIID(riid, IID_ISupportErrorInfo))
        return static_cast<ISupportErrorInfo*>(this);
    return DispatchImpl::FindInterface(riid);
}

STDMETHODIMP KalvoraShares::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID_IKalvoraShares) ? S_OK : S_FALSE;
}

STDMETHODIMP KalvoraShares::PutShare(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP KalvoraShares::RemoveShare(BSTR, BSTR) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP KalvoraShares::GetShareName(LONG, BSTR*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP KalvoraShares::GetShareCount(BSTR, LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP KalvoraShares::GetGroupCount(LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP KalvoraShares::GetRegGroupName(LONG, BSTR*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP KalvoraShares::GetRegGroupCount(LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP KalvoraShares::GetGroupName(LONG, BSTR*) { ModuleStateGuard guard; return E_NOTIMPL; }

}  // namespace kalvora
