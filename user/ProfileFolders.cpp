// ProfileFolders.cpp: finds a user's profile folders on the user's computer,
// over its administrative drive shares (C$ and so on), with file-attribute
// probes only.
#include "user/KalvoraUser.h"

#include <new>
#include <utility>

#include "module/Module.h"
#include "module/Resource.h"
#include "module/Text.h"
#include "platform/Directory.h"
#include "platform/Network.h"

namespace kalvora {

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// uncComputer, "/", the letter, "$/", the directory: for example \\PC1/C$/winnt.
std::wstring DriveEntry(const std::wstring& uncComputer, wchar_t letter, const wchar_t* directory)
{
    return uncComputer + L"/" + letter + L"$/" + directory;
}

// A new BSTR of text; out of memory throws, so that no null string stands in
// for a drive letter or a path.
BSTR Copy(const wchar_t* text, size_t length)
{
    BSTR copy = SysAllocStringLen(text, static_cast<UINT>(length));
    if (!copy)
        throw std::bad_alloc();
    return copy;
}

}  // namespace

DWORD CKalvoraUser::PopulateProfileFolders(const std::wstring& name, const std::wstring& computer)
{
    const std::wstring unc = UncComputer(computer);  // the Computer field itself is not changed
    if (DWORD err = QueryComputer(unc.c_str()))
        return err;
    // Each folder repeats the probe and the domain lookup. A failure in one
    // (out of memory) leaves that folder as it was and does not stop the next.
    const std::pair<ProfileFolder, BStr*> folders[] = {
        {FolderDesktop, &m_myDesktop}, {FolderMyDocuments, &m_myDocuments}, {FolderFavorites, &m_myFavorites}};
    for (const auto& [kind, target] : folders) {
        try {
            ResolveProfileFolder(name, unc, kind, *target);
        } catch (const std::bad_alloc&) {
        }
    }
    return 0;
}

ProfileLayout CKalvoraUser::ProbeSystemDrive(const std::wstring& uncComputer)
{
    // "winnt" is not looked for on drive A.
    for (wchar_t letter = L'B'; letter <= L'Z'; ++letter) {
        if (Exists(DriveEntry(uncComputer, letter, L"winnt"))) {
            m_systemDriveLetter.Reset(Copy(&letter, 1));
            return LayoutWinnt;
        }
    }
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        if (Exists(DriveEntry(uncComputer, letter, L"windows"))) {
            m_systemDriveLetter.Reset(Copy(&letter, 1));
            return Exists(DriveEntry(uncComputer, letter, L"Documents and Settings")) ? LayoutDocumentsAndSettings
                                                                                      : LayoutWindowsProfiles;
        }
    }
    m_systemDriveLetter.Reset(Copy(L"", 0));
    return LayoutNone;
}

void CKalvoraUser::ResolveProfileFolder(const std::wstring& name, const std::wstring& uncComputer, ProfileFolder kind,
                                        BStr& target)
{
    // The domain's short name, kept on the object; unchanged when the
    // system-information object cannot be created.
    Microsoft::WRL::ComPtr<IADsADSystemInfo> info;
    if (SUCCEEDED(CreateSystemInfo(info))) {
        BStr domain;
        if (FAILED(info->get_DomainShortName(domain.Put())))
            domain.Reset();
        m_domainShortName = std::move(domain);
    }

    const ProfileLayout layout = ProbeSystemDrive(uncComputer);
    if (layout == LayoutNone)
        return;

    // The base: the computer, a separator and the drive letter, as in \\PC1\C.
    std::wstring path = uncComputer;
    if (!path.empty())
        path += L"\\";
    path.append(m_systemDriveLetter.Get(), m_systemDriveLetter.Length());
    const std::wstring base = path;
    switch (layout) {
    case LayoutWinnt:
        path += Exists(base + L"$\\Documents and Settings") ? L"$\\Documents and Settings\\" : L"$\\Winnt\\Profiles\\";
        break;
    case LayoutWindowsProfiles:
        path += L"$\\Windows\\Profiles\\";
        break;
    default:
        path += L"$\\Documents and Settings\\";
        break;
    }
    path += name;  // the user's profile directory

    std::wstring suffix;
    if (layout != LayoutWindowsProfiles) {
        // The profile directory that carries the domain name wins; with
        // neither, the plain profile directory stays, without a suffix.
        std::wstring candidate = path + L".";
        candidate.append(m_domainShortName.Get() ? m_domainShortName.Get() : L"", m_domainShortName.Length());
        const bool domainProfile = Exists(candidate);
        if (domainProfile)
            path = candidate;
        if ((domainProfile || Exists(path)) && LoadResourceString(IDS_FOLDER_BASE + kind, suffix))
            path += suffix;
    } else {
        if (LoadResourceString(IDS_FOLDER_WIN_BASE + kind, suffix))
            path += suffix;
        // Missing per-user folders fall back to the shared ones.
        if ((kind == FolderDesktop || kind == FolderFavorites) && !Exists(path))
            path = base + L"$\\Windows" + suffix;
        else if (kind == FolderMyDocuments && !Exists(path))
            path = base + L"$" + suffix;
    }
    target.Reset(Copy(path.data(), path.size()));
}

}  // namespace kalvora
