// Self-registration: the keys written and removed, and the type library.
// This suite unregisters the module for a while; it registers it again at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

using RegisterFn = HRESULT(STDAPICALLTYPE*)();

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[64];
    StringFromGUID2(guid, text, 64);
    return text;
}

// Every key and value below root\path, one line each, sorted:
// "sub\key" for a key, "sub\key|name=data" for a string value (name "@" for the default).
std::set<std::wstring> Dump(HKEY root, const std::wstring& path)
{
    std::set<std::wstring> out;
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return out;
    struct Walker {
        std::set<std::wstring>& out;
        void Walk(HKEY key, const std::wstring& rel)
        {
            out.insert(rel.empty() ? L"." : rel);
            wchar_t name[512];
            BYTE data[2048];
            for (DWORD i = 0;; ++i) {
                DWORD nameLen = 512, dataLen = sizeof data, type = 0;
                if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS)
                    break;
                std::wstring line = (rel.empty() ? L"." : rel) + L"|" + (nameLen ? std::wstring(name, nameLen) : L"@") + L"=";
                if (type == REG_SZ)
                    line += std::wstring(reinterpret_cast<wchar_t*>(data)).c_str();
                else
                    line += L"<type " + std::to_wstring(type) + L">";
                out.insert(line);
            }
            std::vector<std::wstring> subs;
            for (DWORD i = 0;; ++i) {
                DWORD nameLen = 512;
                if (RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    break;
                subs.emplace_back(name, nameLen);
            }
            for (const auto& s : subs) {
                HKEY sub;
                if (RegOpenKeyExW(key, s.c_str(), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
                    Walk(sub, rel.empty() ? s : rel + L"\\" + s);
                    RegCloseKey(sub);
                }
            }
        }
    } walker{out};
    walker.Walk(key, L"");
    RegCloseKey(key);
    return out;
}

struct ClassInfo {
    const wchar_t* name;
    const CLSID* clsid;
    bool full;  // CurVer, Programmable and TypeLib
};

const ClassInfo kClasses[] = {
    {L"KalvoraUser", &CLSID_KalvoraUser, true},
    {L"EnumKalvoraUser", &CLSID_EnumKalvoraUser, true},
    {L"KalvoraShares", &CLSID_KalvoraShares, false},
};

std::set<std::wstring> ExpectedClassKey(const ClassInfo& c, const std::wstring& module)
{
    std::wstring prog = std::wstring(L"KalvoraAdminUser.") + c.name;
    std::set<std::wstring> keys = {
        L".",
        L".|@=" + std::wstring(c.name) + L" Class",
        L"ProgID",
        L"ProgID|@=" + prog + L".1",
        L"VersionIndependentProgID",
        L"VersionIndependentProgID|@=" + prog,
        L"InprocServer32",
        L"InprocServer32|@=" + module,
        L"InprocServer32|ThreadingModel=Neutral",
    };
    if (c.full) {
        keys.insert(L"Programmable");
        keys.insert(L"TypeLib");
        keys.insert(L"TypeLib|@=" + GuidText(LIBID_KALVORAADMINUSERLib));
    }
    return keys;
}

std::set<std::wstring> ExpectedProgId(const ClassInfo& c, bool versioned)
{
    std::wstring prog = std::wstring(L"KalvoraAdminUser.") + c.name;
    std::set<std::wstring> keys = {
        L".",
        L".|@=" + std::wstring(c.name) + L" Class",
        L"CLSID",
        L"CLSID|@=" + GuidText(*c.clsid),
    };
    if (!versioned && c.full) {
        keys.insert(L"CurVer");
        keys.insert(L"CurVer|@=" + prog + L".1");
    }
    return keys;
}

class Registration : public testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExW(BuildPath(L"KalvoraAdminUser.dll").c_str(), nullptr,
                                 LOAD_WITH_ALTERED_SEARCH_PATH);
        ASSERT_NE(nullptr, module_);
        register_ = reinterpret_cast<RegisterFn>(GetProcAddress(module_, "DllRegisterServer"));
        unregister_ = reinterpret_cast<RegisterFn>(GetProcAddress(module_, "DllUnregisterServer"));
        ASSERT_TRUE(register_ && unregister_);
        wchar_t path[MAX_PATH];
        DWORD len = GetModuleFileNameW(module_, path, MAX_PATH);
        ASSERT_GT(len, 0u);
        modulePath_.assign(path, len);
    }
    void TearDown() override
    {
        // Leave the prefix as the test command set it up.
        DeleteTree(HKEY_CLASSES_ROOT, L"KalvoraAdminUser.EnumKalvoraUser\\Foreign");
        if (register_)
            EXPECT_EQ(S_OK, register_());
        if (module_)
            FreeLibrary(module_);
    }

    void ExpectRegistered()
    {
        for (const ClassInfo& c : kClasses) {
            SCOPED_TRACE(Narrow(c.name));
            std::wstring prog = std::wstring(L"KalvoraAdminUser.") + c.name;
            EXPECT_EQ(ExpectedClassKey(c, modulePath_), Dump(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*c.clsid)));
            EXPECT_EQ(ExpectedProgId(c, true), Dump(HKEY_CLASSES_ROOT, prog + L".1"));
            EXPECT_EQ(ExpectedProgId(c, false), Dump(HKEY_CLASSES_ROOT, prog));
        }
        // The type library and its interfaces.
        std::wstring lib = L"TypeLib\\" + GuidText(LIBID_KALVORAADMINUSERLib) + L"\\1.0";
        EXPECT_EQ(modulePath_, GetString(HKEY_CLASSES_ROOT, lib + L"\\0\\win32", nullptr).value_or(L"?"));
        EXPECT_EQ(L"KalvoraAdminUser 1.0 Type Library", GetString(HKEY_CLASSES_ROOT, lib, nullptr).value_or(L"?"));
        std::wstring dir = modulePath_.substr(0, modulePath_.find_last_of(L"\\/") + 1);
        std::wstring helpDir = GetString(HKEY_CLASSES_ROOT, lib + L"\\HELPDIR", nullptr).value_or(L"?");
        if (!helpDir.empty() && helpDir.back() != L'\\')
            helpDir += L'\\';
        EXPECT_EQ(dir, helpDir);
        for (const IID* iid : {&IID_IKalvoraUser, &IID_IEnumKalvoraUser, &IID_IKalvoraShares})
            EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Interface\\" + GuidText(*iid) + L"\\TypeLib"));
    }

    HMODULE module_ = nullptr;
    RegisterFn register_ = nullptr;
    RegisterFn unregister_ = nullptr;
    std::wstring modulePath_;
};

TEST_F(Registration, RegisterWritesExactlyTheClassKeys)
{
    ASSERT_EQ(S_OK, register_());
    ExpectRegistered();
}

TEST_F(Registration, RegisteringAgainRebuildsTheClassKeys)
{
    ASSERT_EQ(S_OK, register_());
    // Foreign content below a class key goes; the key is rebuilt from scratch.
    std::wstring classKey = L"CLSID\\" + GuidText(CLSID_KalvoraUser);
    SetString(HKEY_CLASSES_ROOT, classKey, L"Stale", L"x");
    SetString(HKEY_CLASSES_ROOT, classKey + L"\\Stale", nullptr, L"x");
    SetString(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", nullptr, L"C:\\elsewhere.dll");
    ASSERT_EQ(S_OK, register_());
    ExpectRegistered();
}

TEST_F(Registration, UnregisterRemovesOwnKeysOnly)
{
    ASSERT_EQ(S_OK, register_());
    SetString(HKEY_CLASSES_ROOT, L"KalvoraAdminUser.EnumKalvoraUser\\Foreign", nullptr, L"keep me");
    // A foreign class beside ours.
    const std::wstring neighbour = L"CLSID\\{0C1BDD3A-6E2D-4B5E-9D7F-3A1B2C3D4E5F}";
    SetString(HKEY_CLASSES_ROOT, neighbour, nullptr, L"neighbour");

    ASSERT_EQ(S_OK, unregister_());

    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, neighbour));
    for (const ClassInfo& c : kClasses) {
        SCOPED_TRACE(Narrow(c.name));
        std::wstring prog = std::wstring(L"KalvoraAdminUser.") + c.name;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*c.clsid)));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, prog + L".1"));
    }
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"KalvoraAdminUser.KalvoraUser"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"KalvoraAdminUser.KalvoraShares"));
    // The ProgID key with a foreign subkey stays, without our own subkeys.
    EXPECT_EQ((std::set<std::wstring>{L".", L".|@=EnumKalvoraUser Class", L"Foreign", L"Foreign|@=keep me"}),
              Dump(HKEY_CLASSES_ROOT, L"KalvoraAdminUser.EnumKalvoraUser"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidText(LIBID_KALVORAADMINUSERLib)));
    ComPtr<ITypeLib> lib;
    EXPECT_TRUE(FAILED(LoadRegTypeLib(LIBID_KALVORAADMINUSERLib, 1, 0, 0, lib.GetAddressOf())));

    // Creation through the registry no longer finds the classes.
    ComPtr<IUnknown> obj;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IUnknown, reinterpret_cast<void**>(obj.GetAddressOf())));

    // Unregistering again finds no keys to remove; the type library, which is
    // no longer registered, makes it fail. The foreign key still stays.
    EXPECT_TRUE(FAILED(unregister_()));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"KalvoraAdminUser.EnumKalvoraUser\\Foreign"));
    DeleteTree(HKEY_CLASSES_ROOT, neighbour);
}

TEST_F(Registration, SharesClassHasNoVersionOrLibraryKeys)
{
    ASSERT_EQ(S_OK, register_());
    std::wstring shares = L"CLSID\\" + GuidText(CLSID_KalvoraShares);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, shares + L"\\Programmable"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, shares + L"\\TypeLib"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"KalvoraAdminUser.KalvoraShares\\CurVer"));
    for (const CLSID* clsid : {&CLSID_KalvoraUser, &CLSID_EnumKalvoraUser}) {
        std::wstring key = L"CLSID\\" + GuidText(*clsid);
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + L"\\Programmable"));
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + L"\\TypeLib"));
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"KalvoraAdminUser.KalvoraUser\\CurVer"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"KalvoraAdminUser.EnumKalvoraUser\\CurVer"));
}

// A copy of the module whose full path fills the 260-character path buffer.
TEST(RegistrationPath, ModulePathThatFillsTheBufferFails)
{
    wchar_t temp[MAX_PATH];
    DWORD len = GetTempPathW(MAX_PATH, temp);
    ASSERT_GT(len, 0u);
    std::wstring dir = L"\\\\?\\" + std::wstring(temp, len);
    std::wstring created;
    while (dir.size() - 4 + 32 < 300) {
        dir += L"kalvora-long-path-segment-";
        dir += std::to_wstring(dir.size());
        CreateDirectoryW(dir.c_str(), nullptr);
        dir += L"\\";
    }
    std::wstring target = dir + L"KalvoraAdminUser.dll";
    ASSERT_TRUE(CopyFileW(BuildPath(L"KalvoraAdminUser.dll").c_str(), target.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(BuildPath(L"OSUtilities.dll").c_str(), (dir + L"OSUtilities.dll").c_str(), FALSE));

    std::wstring registeredBefore =
        GetString(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_KalvoraUser) + L"\\InprocServer32", nullptr)
            .value_or(L"");

    HMODULE copy = LoadLibraryExW(target.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(nullptr, copy) << GetLastError();
    wchar_t seen[MAX_PATH + 1] = {};
    DWORD seenLen = GetModuleFileNameW(copy, seen, MAX_PATH);
    EXPECT_EQ(static_cast<DWORD>(MAX_PATH), seenLen);  // the path does not fit
    auto reg = reinterpret_cast<RegisterFn>(GetProcAddress(copy, "DllRegisterServer"));
    auto unreg = reinterpret_cast<RegisterFn>(GetProcAddress(copy, "DllUnregisterServer"));
    ASSERT_TRUE(reg && unreg);
    EXPECT_EQ(static_cast<HRESULT>(0x8007007A), reg());
    EXPECT_EQ(static_cast<HRESULT>(0x8007007A), unreg());
    FreeLibrary(copy);

    // Nothing was written or removed.
    EXPECT_EQ(registeredBefore,
              GetString(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_KalvoraUser) + L"\\InprocServer32", nullptr)
                  .value_or(L""));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"KalvoraAdminUser.KalvoraUser\\CurVer"));

    DeleteFileW(target.c_str());
    DeleteFileW((dir + L"OSUtilities.dll").c_str());
}

}  // namespace
