// KalvoraUser.h: CKalvoraUser, the in-memory configuration record of one user.
#pragma once

#include <string>

#include "KalvoraAdminUser_h.h"
#include "module/BStr.h"
#include "module/ComBase.h"
#include "module/Dispatch.h"

namespace kalvora {

// What the probe of a computer's system drive found.
enum ProfileLayout {
    LayoutNone = 0,                  // no system directory on any drive tried
    LayoutWinnt = 1,                 // "winnt" at the root of a drive share
    LayoutWindowsProfiles = 2,       // "windows", without "Documents and Settings"
    LayoutDocumentsAndSettings = 3,  // "windows" and "Documents and Settings"
};

// The profile folder being resolved; added to the base id of the suffixes.
enum ProfileFolder {
    FolderDesktop = 0,
    FolderMyComputer = 1,
    FolderMyDocuments = 2,
    FolderFavorites = 3,
};

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

    // Finds the user's desktop, documents and favorites folders on the
    // computer over its administrative drive shares: 0, or the network's
    // error when the computer does not answer.
    DWORD PopulateProfileFolders(const std::wstring& name, const std::wstring& computer);
    // Builds the path of one folder into target (untouched when no system
    // directory is found).
    void ResolveProfileFolder(const std::wstring& name, const std::wstring& uncComputer, ProfileFolder kind,
                              BStr& target);
    // Finds the drive that holds the system directory; sets SystemDriveLetter.
    ProfileLayout ProbeSystemDrive(const std::wstring& uncComputer);

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
