// The module: its file (exports, imports, resources), class objects, creation,
// aggregation, QueryInterface and the unload answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include <ocidl.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

// The module, loaded by path as COM loads it; its PE directories sit at their RVAs.
HMODULE Module()
{
    static HMODULE module = LoadLibraryExW(BuildPath(L"KalvoraAdminUser.dll").c_str(), nullptr,
                                           LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}
template <class T = char>
const T* At(DWORD rva)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(Module()) + rva);
}

void* const kJunk = reinterpret_cast<void*>(0x1234);
const CLSID* const kClasses[] = {&CLSID_KalvoraUser, &CLSID_EnumKalvoraUser, &CLSID_KalvoraShares};

template <class Fn>
Fn Export(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(Module(), name)));
}
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    return Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(clsid, iid, out);
}
HRESULT CanUnloadNow() { return Export<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow")(); }
// A refused request must clear the caller's pointer.
HRESULT Refused(REFCLSID clsid, REFIID iid)
{
    void* out = kJunk;
    HRESULT hr = GetClassObject(clsid, iid, &out);
    EXPECT_EQ(nullptr, out);
    return hr;
}
ComPtr<IClassFactory> Factory(REFCLSID clsid)
{
    ComPtr<IClassFactory> cf;
    EXPECT_EQ(S_OK, GetClassObject(clsid, IID_IClassFactory, &cf));
    return cf;
}

TEST(ClassObjects, IdentityAndRefusedIdentifiers)
{
    for (const CLSID* clsid : kClasses) {
        ComPtr<IUnknown> unk;
        ASSERT_EQ(S_OK, GetClassObject(*clsid, IID_IUnknown, &unk));
        EXPECT_EQ(Factory(*clsid).Get(), unk.Get());
        EXPECT_EQ(Factory(*clsid).Get(), Factory(*clsid).Get());
    }
    EXPECT_NE(Factory(CLSID_KalvoraUser).Get(), Factory(CLSID_KalvoraShares).Get());

    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Refused(IID_IKalvoraUser, IID_IClassFactory));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Refused(LIBID_KALVORAADMINUSERLib, IID_IUnknown));
    EXPECT_EQ(E_NOINTERFACE, Refused(CLSID_KalvoraUser, IID_IDispatch));
    EXPECT_EQ(E_POINTER, GetClassObject(CLSID_KalvoraUser, IID_IClassFactory, nullptr));
    void* out = kJunk;
    EXPECT_EQ(E_POINTER, Factory(CLSID_KalvoraUser)->CreateInstance(nullptr, IID_IKalvoraUser, nullptr));
    EXPECT_EQ(E_NOINTERFACE, Factory(CLSID_KalvoraUser)->CreateInstance(nullptr, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
}

// An outer object that counts the references and queries its inner object forwards.
struct Outer : IUnknown {
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!IsEqualIID(riid, IID_IUnknown))
            return ++forwarded, inner->QueryInterface(riid, ppv);
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
    int forwarded = 0;
    IUnknown* inner = nullptr;
};

TEST(ClassObjects, AggregationOnlyThroughIUnknown)
{
    for (const CLSID* clsid : kClasses) {
        Outer outer;
        void* out = kJunk;
        EXPECT_EQ(CLASS_E_NOAGGREGATION, Factory(*clsid)->CreateInstance(&outer, IID_IDispatch, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(1u, outer.refs);
    }
    Outer outer;
    ASSERT_EQ(S_OK, Factory(CLSID_KalvoraUser)
                        ->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
    EXPECT_NE(static_cast<IUnknown*>(&outer), outer.inner);
    {
        ComPtr<IKalvoraUser> user;
        ComPtr<IUnknown> identity, disp;
        ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IKalvoraUser, &user));
        EXPECT_EQ(2u, outer.refs);
        ASSERT_EQ(S_OK, user->QueryInterface(IID_IUnknown, &identity));
        EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.Get());
        ASSERT_EQ(S_OK, user->QueryInterface(IID_IDispatch, &disp));
        EXPECT_EQ(1, outer.forwarded);
    }
    EXPECT_EQ(1u, outer.refs);
    EXPECT_EQ(0u, outer.inner->Release());
}

TEST(ClassObjects, QueryInterfaceAnswersExactlyItsInterfaces)
{
    const IID* owns[] = {&IID_IKalvoraUser, &IID_IEnumKalvoraUser, &IID_IKalvoraShares};
    const IID* others[] = {&IID_IClassFactory, &IID_IProvideClassInfo, &IID_IEnumVARIANT, &IID_IPersist,
                           &IID_IMarshal, &IID_IConnectionPointContainer, owns[0], owns[1], owns[2]};
    for (int c = 0; c < 3; ++c) {
        ComPtr<IUnknown> unk, own, disp, again;
        ComPtr<ISupportErrorInfo> sei;
        ASSERT_EQ(S_OK, Factory(*kClasses[c])->CreateInstance(nullptr, IID_IUnknown, &unk));
        EXPECT_EQ(S_OK, unk->QueryInterface(*owns[c], &own));
        EXPECT_EQ(S_OK, unk->QueryInterface(IID_IDispatch, &disp));
        EXPECT_EQ(own.Get(), disp.Get());
        ASSERT_EQ(S_OK, own->QueryInterface(IID_IUnknown, &again));
        EXPECT_EQ(unk.Get(), again.Get());
        for (const IID* iid : others) {
            void* out = kJunk;
            if (iid == owns[c])
                continue;
            EXPECT_EQ(E_NOINTERFACE, unk->QueryInterface(*iid, &out));
            EXPECT_EQ(nullptr, out);
        }
        // Only the shares object reports rich errors, and only for its own interface.
        EXPECT_EQ(c == 2 ? S_OK : E_NOINTERFACE, unk->QueryInterface(IID_ISupportErrorInfo, &sei));
        if (sei) {
            EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IKalvoraShares));
            EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IDispatch));
        }
    }
}

TEST(ClassObjects, CanUnloadFollowsClassObjectsObjectsAndLocks)
{
    ASSERT_EQ(S_OK, CanUnloadNow());
    auto cf = Factory(CLSID_KalvoraShares);
    EXPECT_EQ(S_FALSE, CanUnloadNow());  // a class object held
    ComPtr<IKalvoraShares> shares;
    ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IKalvoraShares, &shares));
    cf.Reset();
    EXPECT_EQ(S_FALSE, CanUnloadNow());  // a live object
    shares.Reset();
    EXPECT_EQ(S_OK, CanUnloadNow());
    ASSERT_EQ(S_OK, Factory(CLSID_KalvoraShares)->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, CanUnloadNow());  // a lock
    ASSERT_EQ(S_OK, Factory(CLSID_KalvoraShares)->LockServer(FALSE));
    EXPECT_EQ(S_OK, CanUnloadNow());
}

TEST(ClassObjects, CreatedAndCalledFromStaAndMta)
{
    for (DWORD coinit : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
        HRESULT hr = E_FAIL;
        Bstr in(L"apartment"), name;
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread t([&] {
            if (SUCCEEDED(hr = CoInitializeEx(nullptr, coinit))) {
                ComPtr<IKalvoraUser> user;
                hr = CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser,
                                      &user);
                if (SUCCEEDED(hr) && SUCCEEDED(hr = user->put_Name(in.get())))
                    hr = user->get_Name(name.put());
                user.Reset();
                CoUninitialize();
            }
            SetEvent(done);
        });
        // Wine may serve a cross-apartment call through this (main) STA: keep its messages flowing.
        for (MSG msg; MsgWaitForMultipleObjects(1, &done, FALSE, 30000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1;)
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        t.join();
        CloseHandle(done);
        EXPECT_EQ(S_OK, hr) << coinit;
        EXPECT_EQ(L"apartment", name.str()) << coinit;
    }
}

TEST(ModuleFile, ADllOfItsBitnessWithFourExportsAndSystemImports)
{
    ASSERT_NE(nullptr, Module());
    auto nt = At<IMAGE_NT_HEADERS>(At<IMAGE_DOS_HEADER>(0)->e_lfanew);
    EXPECT_EQ(sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    auto dirs = nt->OptionalHeader.DataDirectory;
    auto exp = At<IMAGE_EXPORT_DIRECTORY>(dirs[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    std::set<std::string> got;
    for (DWORD i = 0; i < exp->NumberOfNames; ++i)
        got.insert(At(At<DWORD>(exp->AddressOfNames)[i]));
    EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                     "DllUnregisterServer"}),
              got);
    EXPECT_EQ(4u, exp->NumberOfFunctions);

    // No runtime DLL of the compiler (libgcc, libstdc++, winpthread) among the imports.
    const std::set<std::string> allowed = {"ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL",  "OLE32.DLL",
                                           "OLEAUT32.DLL", "USER32.DLL",   "SHLWAPI.DLL", "MPR.DLL",
                                           "ACTIVEDS.DLL", "OSUTILITIES.DLL"};
    for (auto imp = At<IMAGE_IMPORT_DESCRIPTOR>(dirs[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress); imp->Name;
         ++imp) {
        std::string name = At(imp->Name);
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return char(toupper(c)); });
        EXPECT_TRUE(allowed.count(name)) << name;
    }
}

// The registrar scripts and the type library are read by the registration tests.
TEST(ModuleFile, ManifestAndStringTable)
{
    EXPECT_NE(nullptr, FindResourceW(Module(), MAKEINTRESOURCEW(2), RT_MANIFEST));

    const struct {
        UINT id;
        const wchar_t* text;
    } strings[] = {
        {105, L"Software\\Kalvora\\Ostrel\\2.0\\"}, {106, L"shares\\"}, {107, L"shares"}, {108, L"standard"},
        {132, L"\\Desktop"}, {133, L"\\My Computer"}, {134, L"\\My Documents"}, {135, L"\\Favorites"},
        {136, L"\\Recent"}, {137, L"\\NetHood"}, {147, L"\\Desktop"}, {148, L"\\My Computer"},
        {149, L"\\My Documents"}, {150, L"\\Favorites"}, {151, L"\\NetHood"}, {152, L"\\Recent"},
    };
    for (const auto& s : strings) {
        wchar_t buf[256] = {};
        int len = LoadStringW(Module(), s.id, buf, 256);
        EXPECT_EQ(std::wstring(s.text), std::wstring(buf, len > 0 ? len : 0)) << s.id;
    }
}

TEST(ModuleFile, VersionResource)
{
    std::wstring path = BuildPath(L"KalvoraAdminUser.dll");
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    WORD* translation = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(MAKELONG(5, 4), fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(5, 4), fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &len));
    ASSERT_EQ(4u, len);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    const wchar_t* entries[][2] = {
        {L"FileDescription", L"KalvoraAdminUser Module"}, {L"FileVersion", L"4.5.0.0"},
        {L"InternalName", L"KalvoraAdminUser"},           {L"OriginalFilename", L"KalvoraAdminUser.DLL"},
        {L"ProductVersion", L"4.5"},                      {L"OLESelfRegister", L""},
    };
    for (const auto& e : entries) {
        wchar_t* value = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + e[0];
        ASSERT_TRUE(VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &len))
            << Narrow(e[0]);
        EXPECT_EQ(std::wstring(e[1]), value) << Narrow(e[0]);
    }
}

}  // namespace
