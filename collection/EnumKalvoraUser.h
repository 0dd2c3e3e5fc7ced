// EnumKalvoraUser.h: CEnumKalvoraUser, the collection of configured users.
#pragma once

#include <string>
#include <vector>

#include "KalvoraAdminUser_h.h"
#include "collection/PtrArray.h"
#include "module/ComBase.h"
#include "module/Dispatch.h"

namespace kalvora {

class CEnumKalvoraUser : public ObjectRoot,
                         public DispatchImpl<IEnumKalvoraUser, &IID_IEnumKalvoraUser> {
public:
    // Number of registry values read from each user key.
    static constexpr int kValueCount = 8;

    CEnumKalvoraUser() noexcept = default;
    ~CEnumKalvoraUser();
    CEnumKalvoraUser(const CEnumKalvoraUser&) = delete;
    CEnumKalvoraUser& operator=(const CEnumKalvoraUser&) = delete;

    // Loads the user store; a negative result makes the creation fail.
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

private:
    // Fills m_users from the user keys: 0, a positive registry error code,
    // or the negative result of a failed user creation.
    LONG LoadUsers() noexcept;
    // Applies the values of one open user key to the user at index; always 0.
    LONG ReadUserValues(HKEY key, std::size_t index) noexcept;
    // Stores one value in the property of field f of the user at index.
    void ApplyUserValue(std::size_t index, int field, BSTR value) noexcept;

    // Index of the first listed user whose name equals name exactly, or -1.
    std::ptrdiff_t FindUser(BSTR name) const;  // throws std::bad_alloc when a name cannot be copied

    LONG m_cursor = 0;
    PtrArray<IKalvoraUser> m_users;
    std::wstring m_valueNames[kValueCount];
    std::vector<std::wstring> m_domainUsers;
    std::vector<std::wstring> m_userGroups;
};

}  // namespace kalvora
