// Self-registration: the keys written and removed, and the type library.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>

#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

using Keys = std::set<std::wstring>;
const HKEY kCR = HKEY_CLASSES_ROOT;
const std::wstring kLib = L"TypeLib\\{60F23EAF-535F-4347-B559-F6F3E6FC8218}\\1.0";
const std::wstring kUserClass = L"CLSID\\{B1D4D9FD-B72F-42FA-AD5D-C76394DF4DFF}";
// Where the type library of this bitness registers its file.
const std::wstring kPlatform = sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32";

// Every key and value below HKCR\path, as registered.txt shows them.
void Dump(const std::wstring& path, Keys& out)
{
    if (!KeyExists(kCR, path))
        return;
    out.insert(path);
    for (const auto& v : Names(kCR, path, true))
        out.insert(path + L"|" + (v.empty() ? L"@" : v) + L"=" + GetStored(kCR, path, v.c_str()).c_str());
    for (const auto& s : Names(kCR, path, false))
        Dump(path + L"\\" + s, out);
}

// What registered.txt gives for the module, and what the registry holds
// below the keys that it starts from.
std::pair<Keys, Keys> Registration(const std::wstring& module)
{
    Keys expected, held;
    std::wstring root, key;  // the last key that does not start with "\\", and the last key
    for (auto [n, line] : ReadLines("module/registered.txt")) {
        if (line.empty())
            continue;
        std::wstring full = line[0] == L'|' ? key + line : (key = line[0] == L'\\' ? root + line : (root = line));
        const size_t at = full.find(L"{module}");
        expected.insert(at == std::wstring::npos ? full : full.replace(at, 8, module));
    }
    for (const std::wstring& key : expected)
        if (key.find(L'|') == std::wstring::npos &&
            (key.find(L'\\') == std::wstring::npos || !expected.count(key.substr(0, key.rfind(L'\\')))))
            Dump(key, held);
    return {expected, held};
}

void ExpectRegistered(const std::wstring& module)
{
    const auto [expected, held] = Registration(module);
    Keys differ;  // lines that only one of the two has
    std::set_symmetric_difference(expected.begin(), expected.end(), held.begin(), held.end(),
                                  std::inserter(differ, differ.end()));
    EXPECT_EQ(Keys{}, differ) << "registered, against registered.txt";
    EXPECT_EQ(module + L'\0', GetStored(kCR, kLib + kPlatform, nullptr));
    const std::wstring helpDir = GetStored(kCR, kLib + L"\\HELPDIR", nullptr).c_str();
    EXPECT_EQ(module.substr(0, module.rfind(L'\\')), helpDir.substr(0, helpDir.find_last_not_of(L'\\') + 1));
}

TEST(Registration, RegisterTwiceThenUnregister)
{
    HMODULE module =
        LoadLibraryExW(InstallPath(L"KalvoraAdminUser.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    wchar_t path[MAX_PATH];
    const std::wstring modulePath(path, GetModuleFileNameW(module, path, MAX_PATH));
    const auto reg = Export(module, "DllRegisterServer"), unreg = Export(module, "DllUnregisterServer");
    ASSERT_EQ(S_OK, reg());
    ExpectRegistered(modulePath);
    LeakCheck leaks;  // registering and unregistering close every key they open
    if (sizeof(void*) == 8)
        leaks.IgnoreHandles();  // 64-bit Wine's (Un)RegisterTypeLib keeps handles of its own
    // Registering again rebuilds a class key from scratch: foreign content below it goes.
    SetString(kCR, kUserClass, L"Stale", L"x");
    SetString(kCR, kUserClass + L"\\Stale", nullptr, L"x");
    SetString(kCR, kUserClass + L"\\InprocServer32", nullptr, L"C:\\elsewhere.dll");
    ASSERT_EQ(S_OK, reg());
    ExpectRegistered(modulePath);

    // Unregistering keeps CLSID, a neighbour, and a ProgID key with a foreign subkey.
    SetString(kCR, L"KalvoraAdminUser.EnumKalvoraUser\\Foreign", nullptr, L"keep me");
    SetString(kCR, L"CLSID\\{0C1BDD3A-6E2D-4B5E-9D7F-3A1B2C3D4E5F}", nullptr, L"neighbour");
    ASSERT_EQ(S_OK, unreg());
    EXPECT_EQ(
        (Keys{L"KalvoraAdminUser.EnumKalvoraUser", L"KalvoraAdminUser.EnumKalvoraUser|@=EnumKalvoraUser Class",
              L"KalvoraAdminUser.EnumKalvoraUser\\Foreign", L"KalvoraAdminUser.EnumKalvoraUser\\Foreign|@=keep me"}),
        Registration(modulePath).second);
    EXPECT_TRUE(KeyExists(kCR, L"CLSID\\{0C1BDD3A-6E2D-4B5E-9D7F-3A1B2C3D4E5F}"));
    EXPECT_FALSE(KeyExists(kCR, kLib + kPlatform));
    EXPECT_FALSE(Create<IUnknown>(CLSID_KalvoraUser)) << "created after unregistering";
    // Again: no keys left, and the library is no longer registered: that failure is returned.
    EXPECT_TRUE(FAILED(unreg()));
}

// A copy of the module in a folder whose name holds a quote registers its
// path as it is.
TEST(Registration, ModulePathWithQuotes)
{
    wchar_t temp[MAX_PATH];
    const std::wstring quoted = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"O'Brien's\\";
    CreateDirectoryW(quoted.c_str(), nullptr);
    for (const wchar_t* file : {L"KalvoraAdminUser.dll", L"OSUtilities.dll"})
        ASSERT_TRUE(CopyFileW(InstallPath(file).c_str(), (quoted + file).c_str(), FALSE));
    HMODULE copy = LoadLibraryExW((quoted + L"KalvoraAdminUser.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_EQ(S_OK, Export(copy, "DllRegisterServer")());
    EXPECT_EQ(quoted + L"KalvoraAdminUser.dll" + L'\0', GetStored(kCR, kUserClass + L"\\InprocServer32", nullptr));
    FreeLibrary(copy);
}

}  // namespace
