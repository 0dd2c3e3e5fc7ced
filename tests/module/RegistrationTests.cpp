// Self-registration of a copy of the module in a folder whose name holds
// quotes (its path is registered as it is): the keys that registering writes
// and removes, against registered.txt, and the type library's file and folder.
#include <gtest/gtest.h>

#include <set>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

using Keys = std::set<std::wstring>;
const HKEY kCR = HKEY_CLASSES_ROOT;
const std::wstring kLib = L"TypeLib\\{60F23EAF-535F-4347-B559-F6F3E6FC8218}\\1.0";
const std::wstring kLibFile = kLib + L"\\0\\win" + std::to_wstring(8 * sizeof(void*));

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
// below the keys that it starts from, as sorted lines.
std::pair<std::string, std::string> Registration(const std::wstring& module)
{
    Keys expected, held;
    std::wstring root, key;  // the last key that does not start with "\\", and the last key
    for (const std::wstring& line : ReadLines("module/registered.txt")) {
        if (line.empty())
            continue;
        std::wstring full = line[0] == L'|' ? key + line : (key = line[0] == L'\\' ? root + line : (root = line));
        const size_t at = full.find(L"{module}");
        expected.insert(at == std::wstring::npos ? full : full.replace(at, 8, module));
        if (line[0] != L'|' && line[0] != L'\\')
            Dump(line, held);
    }
    const auto lines = [](const Keys& keys) { return Narrow(Join(Texts(keys.begin(), keys.end()), L"\n")); };
    return {lines(expected), lines(held)};
}

TEST(Registration, WritesTheListedKeysOverForeignOnesAndRemovesThemOnly)
{
    wchar_t temp[MAX_PATH];
    const std::wstring dir = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"O'Brien's\\";
    const std::wstring dll = dir + L"KalvoraAdminUser.dll";
    CreateDirectoryW(dir.c_str(), nullptr);
    for (const wchar_t* file : {L"KalvoraAdminUser.dll", L"OSUtilities.dll"})
        ASSERT_TRUE(CopyFileW(InstallPath(file).c_str(), (dir + file).c_str(), FALSE));
    HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const auto reg = Export(module, "DllRegisterServer"), unreg = Export(module, "DllUnregisterServer");
    const auto expectRegistered = [&] {
        const auto [expected, held] = Registration(dll);
        EXPECT_EQ(expected, held);
        EXPECT_EQ(dll + L'\0', GetStored(kCR, kLibFile, nullptr));
        EXPECT_EQ(dir + L'\0', GetStored(kCR, kLib + L"\\HELPDIR", nullptr));
    };
    ASSERT_EQ(S_OK, reg());
    expectRegistered();
    LeakCheck leaks;  // registering and unregistering close every key they open
    if (sizeof(void*) == 8)
        leaks.IgnoreHandles();  // 64-bit Wine's (Un)RegisterTypeLib keeps handles of its own
    // Registering again makes a class key from scratch: a foreign subkey goes.
    const std::wstring userClass = L"CLSID\\{B1D4D9FD-B72F-42FA-AD5D-C76394DF4DFF}";
    SetString(kCR, userClass + L"\\Stale", nullptr, L"x");
    ASSERT_EQ(S_OK, reg());
    expectRegistered();

    // Unregistering keeps a neighbour whose name starts with a class's, and a
    // ProgID key with a foreign subkey.
    const std::wstring progId = L"KalvoraAdminUser.EnumKalvoraUser", neighbour = userClass + L"0";
    SetString(kCR, progId + L"\\Foreign", nullptr, L"kept");
    SetString(kCR, neighbour, nullptr, L"neighbour");
    ASSERT_EQ(S_OK, unreg());
    EXPECT_EQ(Narrow(progId + L"\n" + progId + L"\\Foreign\n" + progId + L"\\Foreign|@=kept\n" + progId +
                     L"|@=EnumKalvoraUser Class"),
              Registration(dll).second);
    EXPECT_TRUE(KeyExists(kCR, neighbour));
    EXPECT_FALSE(KeyExists(kCR, kLibFile));
    // Again: the library is no longer registered, and that failure is returned.
    EXPECT_TRUE(FAILED(unreg()));
    FreeLibrary(module);
}

}  // namespace
