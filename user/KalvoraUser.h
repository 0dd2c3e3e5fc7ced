// KalvoraUser.h: CKalvoraUser, the in-memory configuration record of one user.
#pragma once

#include "KalvoraAdminUser_h.h"
#include "module/BStr.h"
#include "module/ComBase.h"
#include "module/Dispatch.h"

namespace kalvora {

class CKalvoraUser : public ObjectRoot, public DispatchImpl<IKalvoraUser, &IID_IKalvoraUser> {
public:
    HRESULT FinalConstruct() noexcept;

    // IKalvoraUser
    STDMETHODIMP get_Computer(BSTR* pVal) override;
    STDMETHODIMP put_Computer(BSTR newVal) override;
    STDMETHODIMP get_MyComputer(BSTR* pVal) override;
    STDMETHODIMP put_MyComputer(BSTR newVal) override;
    STDMETHODIMP get_MyDesktop(BSTR* pVal) override;
    STDMETHODIMP put_MyDesktop(BSTR newVal) override;
    STDMETHODIMP get_MyDocuments(BSTR* pVal) override;
    STDMETHODIMP put_MyDocuments(BSTR newVal) override;
    STDMETHODIMP get_MyFavorites(BSTR* pVal) override;
    STDMETHODIMP put_MyFavorites(BSTR newVal) override;
    STDMETHODIMP get_MyNetwork(BSTR* pVal) override;
    STDMETHODIMP put_MyNetwork(BSTR newVal) override;
    STDMETHODIMP get_MyRecent(BSTR* pVal) override;
    STDMETHODIMP put_MyRecent(BSTR newVal) override;
    STDMETHODIMP get_Name(BSTR* pVal) override;
    STDMETHODIMP put_Name(BSTR newVal) override;
    STDMETHODIMP WriteToRegistry() override;
    STDMETHODIMP get_SecurityLevel(BSTR* pVal) override;
    STDMETHODIMP put_SecurityLevel(BSTR newVal) override;
    STDMETHODIMP get_IsNetwork(LONG* pVal) override;
    STDMETHODIMP put_IsNetwork(LONG newVal) override;
    STDMETHODIMP get_Mailbox(BSTR* pVal) override;
    STDMETHODIMP put_Mailbox(BSTR newVal) override;
    STDMETHODIMP PopulateMyComputer() override;

private:
    static HRESULT GetChecked(const BStr& field, BSTR* pVal) noexcept;
    static HRESULT PutChecked(BStr& field, BSTR newVal) noexcept;

    BStr m_computer;
    BStr m_myComputer;
    BStr m_myDesktop;
    BStr m_myDocuments;
    BStr m_myFavorites;
    BStr m_myNetwork;
    BStr m_myRecent;
    BStr m_name;
    BStr m_mailbox;        // null until set
    BStr m_securityLevel;
    LONG m_isNetwork = 0;  // no value is stored at creation; 0 until one is
    // Working state of the profile-folder probe, kept between calls.
    BStr m_systemDriveLetter;
    BStr m_domainShortName;
};

}  // namespace kalvora
