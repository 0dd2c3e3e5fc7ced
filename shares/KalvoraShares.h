// KalvoraShares.h: KalvoraShares, the store of shares published to groups.
//
// The store lives under HKEY_LOCAL_MACHINE: one key per group below the group
// list key, one REG_SZ value per share (name = share name, data = the share's
// configuration text, stored without a terminating null).
#pragma once

#include <string>
#include <vector>

#include "KalvoraAdminUser_h.h"
#include "module/ComBase.h"
#include "module/Dispatch.h"
#include "module/RegKey.h"

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

private:
    // Creates or opens, with full access, the group list key (group null) or
    // the key of one group (any other group, the empty one included).
    // Reports "Error getting share key" and returns no key when that fails.
    RegKey OpenShareKey(const wchar_t* group);

    std::vector<std::wstring> m_shares;        // shown texts of the last listed group
    std::vector<std::wstring> m_domainGroups;  // the domain's groups, from the last count
};

}  // namespace kalvora
