// Self-registration: the keys written and removed, and the type library.
#include <gtest/gtest.h>

#include <set>

#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;
using namespace std::string_literals;

namespace {

using Keys = std::set<std::wstring>;
const HKEY kCR = HKEY_CLASSES_ROOT;
const std::wstring kLib = L"TypeLib\\{60F23EAF-535F-4347-B559-F6F3E6FC8218}\\1.0";
// Where the type library of this bitness registers its file.
const std::wstring kPlatform = sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32";

// Every key and value below HKCR\path: "sub\key" for a key, "sub\key|name=data"
// for a value (name "@" for the default), "." for path itself.
Keys Dump(const std::wstring& path, const std::wstring& rel = L".", Keys out = {})
{
    if (!KeyExists(kCR, path))
        return out;
    out.insert(rel);
    for (const auto& v : Names(kCR, path, true))
        out.insert(rel + L"|" + (v.empty() ? L"@" : v) + L"=" + GetStored(kCR, path, v.c_str()).c_str());
    for (const auto& s : Names(kCR, path, false))
        out = Dump(path + L"\\" + s, rel == L"." ? s : rel + L"\\" + s, out);
    return out;
}

// The keys of each class, its class identifier, and whether it has CurVer, Programmable and TypeLib.
const std::tuple<const wchar_t*, const wchar_t*, bool> kClasses[] = {
    {L"KalvoraUser", L"{B1D4D9FD-B72F-42FA-AD5D-C76394DF4DFF}", true},
    {L"EnumKalvoraUser", L"{569DAA01-AF6C-4BAE-8104-FFA0E4423F80}", true},
    {L"KalvoraShares", L"{87F04D55-6C68-44AD-A53E-87D45642D95B}", false},
};

void ExpectRegistered(const std::wstring& module)
{
    for (const auto& [name, clsid, full] : kClasses) {
        const std::wstring prog = L"KalvoraAdminUser."s + name, title = name + L" Class"s;
        Keys cls = {L".", L".|@=" + title, L"ProgID", L"ProgID|@=" + prog + L".1", L"VersionIndependentProgID",
                    L"VersionIndependentProgID|@=" + prog, L"InprocServer32", L"InprocServer32|@=" + module,
                    L"InprocServer32|ThreadingModel=Neutral"};
        Keys progId = {L".", L".|@=" + title, L"CLSID", L"CLSID|@="s + clsid}, versioned = progId;
        if (full) {
            cls.insert({L"Programmable", L"TypeLib", L"TypeLib|@={60F23EAF-535F-4347-B559-F6F3E6FC8218}"});
            progId.insert({L"CurVer", L"CurVer|@=" + prog + L".1"});
        }
        EXPECT_EQ(cls, Dump(L"CLSID\\"s + clsid)) << name;
        EXPECT_EQ(versioned, Dump(prog + L".1")) << name;
        EXPECT_EQ(progId, Dump(prog)) << name;
    }
    EXPECT_EQ(module + L'\0', GetStored(kCR, kLib + kPlatform, nullptr));
    const std::wstring helpDir = GetStored(kCR, kLib + L"\\HELPDIR", nullptr).c_str();
    EXPECT_EQ(module.substr(0, module.rfind(L'\\')), helpDir.substr(0, helpDir.find_last_not_of(L'\\') + 1));
}

TEST(Registration, RegisterTwiceThenUnregister)
{
    HMODULE module = LoadLibraryExW(InstallPath(L"KalvoraAdminUser.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    wchar_t path[MAX_PATH];
    const std::wstring modulePath(path, GetModuleFileNameW(module, path, MAX_PATH));
    const auto reg = Export(module, "DllRegisterServer"), unreg = Export(module, "DllUnregisterServer");
    ASSERT_EQ(S_OK, reg());
    ExpectRegistered(modulePath);
    LeakCheck leaks;  // registering and unregistering close every key they open
    if (sizeof(void*) == 8)
        leaks.IgnoreHandles();  // 64-bit Wine's (Un)RegisterTypeLib keeps handles of its own
    // Registering again rebuilds a class key from scratch: foreign content below it goes.
    const std::wstring userKey = L"CLSID\\"s + std::get<1>(kClasses[0]);
    SetString(kCR, userKey, L"Stale", L"x");
    SetString(kCR, userKey + L"\\Stale", nullptr, L"x");
    SetString(kCR, userKey + L"\\InprocServer32", nullptr, L"C:\\elsewhere.dll");
    ASSERT_EQ(S_OK, reg());
    ExpectRegistered(modulePath);

    // Unregistering keeps CLSID, a neighbour, and a ProgID key with a foreign subkey.
    SetString(kCR, L"KalvoraAdminUser.EnumKalvoraUser\\Foreign", nullptr, L"keep me");
    SetString(kCR, L"CLSID\\{0C1BDD3A-6E2D-4B5E-9D7F-3A1B2C3D4E5F}", nullptr, L"neighbour");
    ASSERT_EQ(S_OK, unreg());
    Keys left;
    for (const auto& [name, clsid, full] : kClasses)
        for (const std::wstring& key : {L"CLSID\\"s + clsid, L"KalvoraAdminUser."s + name, L"KalvoraAdminUser."s + name + L".1"})
            if (KeyExists(kCR, key))
                left.insert(key);
    EXPECT_EQ(Keys{L"KalvoraAdminUser.EnumKalvoraUser"}, left);
    EXPECT_EQ((Keys{L".", L".|@=EnumKalvoraUser Class", L"Foreign", L"Foreign|@=keep me"}),
              Dump(L"KalvoraAdminUser.EnumKalvoraUser"));
    EXPECT_TRUE(KeyExists(kCR, L"CLSID\\{0C1BDD3A-6E2D-4B5E-9D7F-3A1B2C3D4E5F}"));
    EXPECT_FALSE(KeyExists(kCR, kLib + kPlatform));
    ComPtr<IUnknown> obj;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &obj));
    // Again: no keys left, and the library is no longer registered: that failure is returned.
    EXPECT_TRUE(FAILED(unreg()));
}

// Copies of the module: one in a folder whose name holds a quote registers
// its path as it is; one whose full path fills the 260-character buffer fails.
TEST(Registration, ModulePathsWithQuotesOrFillingTheBuffer)
{
    wchar_t temp[MAX_PATH];
    const std::wstring base = L"\\\\?\\" + std::wstring(temp, GetTempPathW(MAX_PATH, temp)), quoted = base + L"O'Brien's\\";
    std::wstring longDir = base;
    while (longDir.size() - 4 + 20 < MAX_PATH)
        CreateDirectoryW((longDir += L"kalvora-long-path-segment-" + std::to_wstring(longDir.size()) + L"\\").c_str(), nullptr);
    CreateDirectoryW(quoted.c_str(), nullptr);
    for (const std::wstring& dir : {quoted, longDir})
        for (const wchar_t* file : {L"KalvoraAdminUser.dll", L"OSUtilities.dll"})
            ASSERT_TRUE(CopyFileW(InstallPath(file).c_str(), (dir + file).c_str(), FALSE)) << dir;
    const std::wstring server = L"CLSID\\"s + std::get<1>(kClasses[0]) + L"\\InprocServer32";

    HMODULE copy = LoadLibraryExW((quoted + L"KalvoraAdminUser.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_EQ(S_OK, Export(copy, "DllRegisterServer")());
    EXPECT_EQ(quoted.substr(4) + L"KalvoraAdminUser.dll" + L'\0', GetStored(kCR, server, nullptr));
    FreeLibrary(copy);

    const std::wstring before = GetStored(kCR, server, nullptr);
    copy = LoadLibraryExW((longDir + L"KalvoraAdminUser.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(nullptr, copy) << GetLastError();
    for (const char* entry : {"DllRegisterServer", "DllUnregisterServer"})
        EXPECT_EQ(HRESULT(0x8007007A), Export(copy, entry)()) << entry;
    FreeLibrary(copy);
    EXPECT_EQ(before, GetStored(kCR, server, nullptr));  // nothing written or removed
    EXPECT_TRUE(KeyExists(kCR, L"KalvoraAdminUser.KalvoraUser\\CurVer"));
}

}  // namespace
