// Self-registration: the keys written and removed, and the type library.
// This suite unregisters the module for a while; it registers it again at the end.
#include <gtest/gtest.h>

#include <set>

#include "support/TestSupport.h"

using namespace kalvora::test;
using namespace std::string_literals;

namespace {

using RegisterFn = HRESULT(STDAPICALLTYPE*)();
// Where the type library of this bitness registers its file.
const wchar_t* const kPlatformKey = sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32";
const HKEY kCR = HKEY_CLASSES_ROOT;

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[64];
    StringFromGUID2(guid, text, 64);
    return text;
}

// Every key and value below HKCR\path, one line each: "sub\key" for a key,
// "sub\key|name=data" for a value (name "@" for the default), "." for path itself.
void Walk(const std::wstring& path, const std::wstring& rel, std::set<std::wstring>& out)
{
    if (!KeyExists(kCR, path))
        return;
    out.insert(rel);
    for (const auto& v : ValueNames(kCR, path)) {
        DWORD type = 0;
        GetRaw(kCR, path, v.c_str(), &type);
        out.insert(rel + L"|" + (v.empty() ? L"@" : v) + L"=" +
                   (type == REG_SZ ? *GetString(kCR, path, v.c_str()) : L"type " + std::to_wstring(type)));
    }
    for (const auto& s : SubkeyNames(kCR, path))
        Walk(path + L"\\" + s, rel == L"." ? s : rel + L"\\" + s, out);
}

std::set<std::wstring> Dump(const std::wstring& path)
{
    std::set<std::wstring> out;
    Walk(path, L".", out);
    return out;
}

const struct ClassInfo {
    const wchar_t* name;
    const CLSID* clsid;
    bool full;  // CurVer, Programmable and TypeLib
} kClasses[] = {
    {L"KalvoraUser", &CLSID_KalvoraUser, true},
    {L"EnumKalvoraUser", &CLSID_EnumKalvoraUser, true},
    {L"KalvoraShares", &CLSID_KalvoraShares, false},
};

// The module's registration entry points, and its path.
RegisterFn Export(const char* name, std::wstring* path = nullptr)
{
    static HMODULE module = LoadLibraryExW(BuildPath(L"KalvoraAdminUser.dll").c_str(), nullptr,
                                           LOAD_WITH_ALTERED_SEARCH_PATH);
    wchar_t text[MAX_PATH];
    if (path)
        path->assign(text, GetModuleFileNameW(module, text, MAX_PATH));
    return reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void ExpectRegistered(const std::wstring& module)
{
    for (const ClassInfo& c : kClasses) {
        SCOPED_TRACE(Narrow(c.name));
        const std::wstring prog = L"KalvoraAdminUser." + std::wstring(c.name), title = c.name + L" Class"s;
        std::set<std::wstring> cls = {L".", L".|@=" + title, L"ProgID", L"ProgID|@=" + prog + L".1",
                                      L"VersionIndependentProgID", L"VersionIndependentProgID|@=" + prog,
                                      L"InprocServer32", L"InprocServer32|@=" + module,
                                      L"InprocServer32|ThreadingModel=Neutral"};
        std::set<std::wstring> progId = {L".", L".|@=" + title, L"CLSID", L"CLSID|@=" + GuidText(*c.clsid)};
        std::set<std::wstring> versioned = progId;
        if (c.full) {
            cls.insert({L"Programmable", L"TypeLib", L"TypeLib|@=" + GuidText(LIBID_KALVORAADMINUSERLib)});
            progId.insert({L"CurVer", L"CurVer|@=" + prog + L".1"});
        }
        EXPECT_EQ(cls, Dump(L"CLSID\\" + GuidText(*c.clsid)));
        EXPECT_EQ(versioned, Dump(prog + L".1"));
        EXPECT_EQ(progId, Dump(prog));
    }
    std::wstring lib = L"TypeLib\\" + GuidText(LIBID_KALVORAADMINUSERLib) + L"\\1.0";
    EXPECT_EQ(module, GetString(kCR, lib + kPlatformKey, nullptr).value_or(L"?"));
    EXPECT_EQ(L"KalvoraAdminUser 1.0 Type Library", GetString(kCR, lib, nullptr).value_or(L"?"));
    std::wstring helpDir = GetString(kCR, lib + L"\\HELPDIR", nullptr).value_or(L"?");
    if (!helpDir.empty() && helpDir.back() != L'\\')
        helpDir += L'\\';
    EXPECT_EQ(module.substr(0, module.find_last_of(L"\\/") + 1), helpDir);
    for (const IID* iid : {&IID_IKalvoraUser, &IID_IEnumKalvoraUser, &IID_IKalvoraShares})
        EXPECT_TRUE(KeyExists(kCR, L"Interface\\" + GuidText(*iid) + L"\\TypeLib"));
}

TEST(Registration, RegisterTwiceThenUnregister)
{
    std::wstring module;
    RegisterFn reg = Export("DllRegisterServer", &module), unreg = Export("DllUnregisterServer");
    ASSERT_TRUE(reg && unreg);
    struct Restore {  // leave the prefix as the test command set it up
        RegisterFn reg;
        ~Restore()
        {
            DeleteTree(kCR, L"KalvoraAdminUser.EnumKalvoraUser\\Foreign");
            EXPECT_EQ(S_OK, reg());
        }
    } restore{reg};
    ASSERT_EQ(S_OK, reg());
    ExpectRegistered(module);
    // Registering again rebuilds a class key from scratch: foreign content below it goes.
    std::wstring userKey = L"CLSID\\" + GuidText(CLSID_KalvoraUser);
    SetString(kCR, userKey, L"Stale", L"x");
    SetString(kCR, userKey + L"\\Stale", nullptr, L"x");
    SetString(kCR, userKey + L"\\InprocServer32", nullptr, L"C:\\elsewhere.dll");
    ASSERT_EQ(S_OK, reg());
    ExpectRegistered(module);

    SetString(kCR, L"KalvoraAdminUser.EnumKalvoraUser\\Foreign", nullptr, L"keep me");
    const std::wstring neighbour = L"CLSID\\{0C1BDD3A-6E2D-4B5E-9D7F-3A1B2C3D4E5F}";
    SetString(kCR, neighbour, nullptr, L"neighbour");
    ASSERT_EQ(S_OK, unreg());
    EXPECT_TRUE(KeyExists(kCR, L"CLSID"));
    EXPECT_TRUE(KeyExists(kCR, neighbour));
    DeleteTree(kCR, neighbour);
    for (const ClassInfo& c : kClasses) {
        std::wstring prog = std::wstring(L"KalvoraAdminUser.") + c.name;
        EXPECT_FALSE(KeyExists(kCR, L"CLSID\\" + GuidText(*c.clsid))) << Narrow(c.name);
        EXPECT_FALSE(KeyExists(kCR, prog + L".1")) << Narrow(c.name);
        EXPECT_EQ(c.clsid == &CLSID_EnumKalvoraUser, KeyExists(kCR, prog)) << Narrow(c.name);
    }
    // The ProgID key with a foreign subkey stays, without our own subkeys.
    EXPECT_EQ((std::set<std::wstring>{L".", L".|@=EnumKalvoraUser Class", L"Foreign", L"Foreign|@=keep me"}),
              Dump(L"KalvoraAdminUser.EnumKalvoraUser"));
    EXPECT_FALSE(KeyExists(kCR, L"TypeLib\\" + GuidText(LIBID_KALVORAADMINUSERLib) + L"\\1.0" + kPlatformKey));
    ComPtr<IUnknown> obj;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &obj));

    // Again: no keys to remove, and the type library is no longer registered, so it fails.
    EXPECT_TRUE(FAILED(unreg()));
    EXPECT_TRUE(KeyExists(kCR, L"KalvoraAdminUser.EnumKalvoraUser\\Foreign"));
}

// A copy of the module whose full path fills the 260-character path buffer.
TEST(RegistrationPath, ModulePathThatFillsTheBufferFails)
{
    wchar_t temp[MAX_PATH];
    DWORD len = GetTempPathW(MAX_PATH, temp);
    ASSERT_GT(len, 0u);
    std::wstring dir = L"\\\\?\\" + std::wstring(temp, len);
    while (dir.size() - 4 + 32 < 300) {
        dir += L"kalvora-long-path-segment-" + std::to_wstring(dir.size());
        CreateDirectoryW(dir.c_str(), nullptr);
        dir += L"\\";
    }
    std::wstring target = dir + L"KalvoraAdminUser.dll";
    ASSERT_TRUE(CopyFileW(BuildPath(L"KalvoraAdminUser.dll").c_str(), target.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(BuildPath(L"OSUtilities.dll").c_str(), (dir + L"OSUtilities.dll").c_str(), FALSE));
    const std::wstring server = L"CLSID\\" + GuidText(CLSID_KalvoraUser) + L"\\InprocServer32";
    const std::wstring before = GetString(kCR, server, nullptr).value_or(L"");

    HMODULE copy = LoadLibraryExW(target.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(nullptr, copy) << GetLastError();
    wchar_t seen[MAX_PATH + 1] = {};
    EXPECT_EQ(DWORD(MAX_PATH), GetModuleFileNameW(copy, seen, MAX_PATH));  // the path does not fit
    for (const char* entry : {"DllRegisterServer", "DllUnregisterServer"}) {
        auto fn = reinterpret_cast<RegisterFn>(GetProcAddress(copy, entry));
        ASSERT_NE(nullptr, fn);
        EXPECT_EQ(HRESULT(0x8007007A), fn()) << entry;
    }
    FreeLibrary(copy);
    // Nothing was written or removed.
    EXPECT_EQ(before, GetString(kCR, server, nullptr).value_or(L""));
    EXPECT_TRUE(KeyExists(kCR, L"KalvoraAdminUser.KalvoraUser\\CurVer"));
    DeleteFileW(target.c_str());
    DeleteFileW((dir + L"OSUtilities.dll").c_str());
}

}  // namespace
