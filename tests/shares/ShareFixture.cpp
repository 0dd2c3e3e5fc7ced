// ShareFixture.cpp: key security changes for the access-denied cases.
#include "shares/ShareFixture.h"

#include <sddl.h>

#include <stdexcept>

namespace kalvora::test {

ReadOnlyKey::ReadOnlyKey(const std::wstring& path)
{
    LONG err = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key,
                               nullptr);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("RegCreateKeyEx failed: " + std::to_string(err));

    DWORD size = 0;
    RegGetKeySecurity(m_key, DACL_SECURITY_INFORMATION, nullptr, &size);
    m_original.resize(size);
    err = RegGetKeySecurity(m_key, DACL_SECURITY_INFORMATION, m_original.data(), &size);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("RegGetKeySecurity failed: " + std::to_string(err));

    PSECURITY_DESCRIPTOR readOnly = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly,
                                                              nullptr))
        throw std::runtime_error("ConvertStringSecurityDescriptorToSecurityDescriptor failed");
    err = RegSetKeySecurity(m_key, DACL_SECURITY_INFORMATION, readOnly);
    LocalFree(readOnly);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("RegSetKeySecurity failed: " + std::to_string(err));

    // The change must really deny full access, or the cases prove nothing.
    HKEY probe = nullptr;
    err = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &probe);
    if (err == ERROR_SUCCESS) {
        RegCloseKey(probe);
        throw std::runtime_error("read-only key still opens with full access");
    }
}

ReadOnlyKey::~ReadOnlyKey()
{
    RegSetKeySecurity(m_key, DACL_SECURITY_INFORMATION, m_original.data());
    RegCloseKey(m_key);
}

}  // namespace kalvora::test
