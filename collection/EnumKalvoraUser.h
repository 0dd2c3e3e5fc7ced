// EnumKalvoraUser.h: CEnumKalvoraUser, the collection of configured users.
#pragma once

#include "KalvoraAdminUser_h.h"
#include "module/ComBase.h"
#include "module/Dispatch.h"

namespace kalvora {

class CEnumKalvoraUser : public ObjectRoot,
                         public DispatchImpl<IEnumKalvoraUser, &IID_IEnumKalvoraUser> {
public:
    HRESULT FinalConstruct() noexcept;

    // IEnumKalvoraUser
    STDMETHODIMP Reset() override;
    STDMETHODIMP Add(IKalvoraUser* pUser) override;
    STDMETHODIMP New(IKalvoraUser** ppUser) override;
    STDMETHODIMP Remove(BSTR Name) override;
    STDMETHODIMP Item(BSTR Name, IKalvoraUser** ppUser) override;
    STDMETHODIMP GetCount(LONG* count) override;
    STDMETHODIMP get_NextUser(BSTR* pVal) override;
    STDMETHODIMP AddUser(BSTR Name, BSTR Mailbox, BSTR Computer, LONG bNetwork) override;
    STDMETHODIMP GetDomainUserCount(BSTR bsGroup, LONG* pVal) override;
    STDMETHODIMP GetDomainUserName(LONG lIndex, BSTR* pVal) override;
    STDMETHODIMP CheckComputer(BSTR bsName, BSTR bsCompName, LONG* Check) override;
    STDMETHODIMP GetUserGroupCount(LONG* pVal) override;
    STDMETHODIMP GetUserGroupName(LONG lIndex, BSTR* pVal) override;
    STDMETHODIMP ImportFile(BSTR ImportFile, LONG* Check) override;
    STDMETHODIMP ClearKeys() override;
    STDMETHODIMP AddUserDB(VARIANT user, VARIANT comp, VARIANT myComp, VARIANT myDesk, VARIANT myDoc,
                           VARIANT myFav, VARIANT networkEnable, VARIANT security) override;
};

}  // namespace kalvora
