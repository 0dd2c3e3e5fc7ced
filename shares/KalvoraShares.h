// KalvoraShares.h: KalvoraShares, the store of shares published to groups.
#pragma once

#include "KalvoraAdminUser_h.h"
#include "module/ComBase.h"
#include "module/Dispatch.h"

namespace kalvora {

class KalvoraShares : public ObjectRoot,
                      public DispatchImpl<IKalvoraShares, &IID_IKalvoraShares>,
                      public ISupportErrorInfo {
public:
    void* FindInterface(REFIID riid) noexcept;

    // IKalvoraShares
    STDMETHODIMP PutShare(BSTR bsGroup, BSTR bsName, BSTR bsPath, BSTR bsPass, BSTR bsAgent,
                          BSTR bsAppType, LONG* error) override;
    STDMETHODIMP RemoveShare(BSTR bsGroup, BSTR bsName) override;
    STDMETHODIMP GetShareName(LONG lIndex, BSTR* bsName) override;
    STDMETHODIMP GetShareCount(BSTR bsGroup, LONG* lCount) override;
    STDMETHODIMP GetGroupCount(LONG* lCount) override;
    STDMETHODIMP GetRegGroupName(LONG lIndex, BSTR* bsShareName) override;
    STDMETHODIMP GetRegGroupCount(LONG* lCount) override;
    STDMETHODIMP GetGroupName(LONG lIndex, BSTR* bsName) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;
};

}  // namespace kalvora
