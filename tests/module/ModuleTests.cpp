// The module: class objects, creation, QueryInterface, the unload answer,
// and names resolved several at once. (That the module imports no run time
// of the compiler shows in every suite: the test prefixes hold none.)
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

HMODULE Module()
{
    static HMODULE module =
        LoadLibraryExW(InstallPath(L"KalvoraAdminUser.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    return Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(Module(), "DllGetClassObject")(clsid, iid, out);
}
HRESULT CanUnloadNow() { return Export(Module(), "DllCanUnloadNow")(); }
ComPtr<IClassFactory> Factory(REFCLSID clsid)
{
    ComPtr<IClassFactory> cf;
    EXPECT_EQ(S_OK, GetClassObject(clsid, IID_IClassFactory, &cf));
    return cf;
}
void* const kJunk = reinterpret_cast<void*>(0x1234);

TEST(Module, ClassObjectsCreateObjectsThatAnswerTheirInterfaces)
{
    const CLSID* classes[] = {&CLSID_KalvoraUser, &CLSID_EnumKalvoraUser, &CLSID_KalvoraShares};
    const IID* own[] = {&IID_IKalvoraUser, &IID_IEnumKalvoraUser, &IID_IKalvoraShares};
    for (int c = 0; c < 3; ++c) {
        ComPtr<IUnknown> unk, itf, disp, again;
        ASSERT_EQ(S_OK, GetClassObject(*classes[c], IID_IUnknown, &unk));  // the same each time: tests/load
        ASSERT_EQ(S_OK, Factory(*classes[c])->CreateInstance(nullptr, IID_IUnknown, &unk));
        EXPECT_EQ(S_OK, unk->QueryInterface(*own[c], &itf));
        EXPECT_EQ(S_OK, unk->QueryInterface(IID_IDispatch, &disp));
        ASSERT_EQ(S_OK, itf->QueryInterface(IID_IUnknown, &again));
        EXPECT_TRUE(itf.Get() == disp.Get() && unk.Get() == again.Get());
        for (const IID* iid : {&IID_IClassFactory, &IID_IPersist, &IID_IMarshal, own[(c + 1) % 3], own[(c + 2) % 3]}) {
            void* out = kJunk;
            EXPECT_EQ(E_NOINTERFACE, unk->QueryInterface(*iid, &out));
            EXPECT_EQ(nullptr, out);
        }
        // Only the shares object reports rich errors, and only for its own interface.
        ComPtr<ISupportErrorInfo> sei;
        EXPECT_EQ(c == 2 ? S_OK : E_NOINTERFACE, unk->QueryInterface(IID_ISupportErrorInfo, &sei));
        EXPECT_TRUE(!sei || (sei->InterfaceSupportsErrorInfo(IID_IKalvoraShares) == S_OK &&
                             sei->InterfaceSupportsErrorInfo(IID_IDispatch) == S_FALSE));
        // An outer object is taken only with IUnknown asked for.
        void* out = kJunk;
        EXPECT_EQ(CLASS_E_NOAGGREGATION, Factory(*classes[c])->CreateInstance(unk.Get(), IID_IDispatch, &out));
        EXPECT_EQ(nullptr, out);
    }
    // Refused requests clear the caller's pointer.
    for (const auto& [clsid, iid, hr] : {std::tuple(&IID_IKalvoraUser, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE),
                                         std::tuple(&CLSID_KalvoraUser, &IID_IDispatch, E_NOINTERFACE)}) {
        void* out = kJunk;
        EXPECT_EQ(hr, GetClassObject(*clsid, *iid, &out));
        EXPECT_EQ(nullptr, out);
    }
    EXPECT_EQ(E_POINTER, GetClassObject(CLSID_KalvoraUser, IID_IClassFactory, nullptr));
    EXPECT_EQ(E_POINTER, Factory(CLSID_KalvoraUser)->CreateInstance(nullptr, IID_IKalvoraUser, nullptr));
}

TEST(Module, CanUnloadOnlyWithoutClassObjectsObjectsOrLocks)
{
    ASSERT_EQ(S_OK, CanUnloadNow());
    ComPtr<IClassFactory> cf = Factory(CLSID_KalvoraShares);
    EXPECT_EQ(S_FALSE, CanUnloadNow());  // a class object held
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IUnknown, &object));
    ASSERT_EQ(S_OK, cf->LockServer(TRUE));
    cf.Reset();
    EXPECT_EQ(S_FALSE, CanUnloadNow());  // a live object and a lock
    object.Reset();
    EXPECT_EQ(S_FALSE, CanUnloadNow());  // the lock
    ASSERT_EQ(S_OK, Factory(CLSID_KalvoraShares)->LockServer(FALSE));
    EXPECT_EQ(S_OK, CanUnloadNow());
}

// Several names at once go to the type information, which knows the
// parameter names too (single names: every call of tests/badinput).
TEST(Module, SeveralNamesAtOnceResolveWithTheirParameters)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"adduser"), const_cast<LPOLESTR>(L"bNetwork")};
    DISPID ids[2] = {-99, -99};
    ASSERT_EQ(S_OK, Create<IDispatch>(CLSID_EnumKalvoraUser)->GetIDsOfNames(IID_IKalvoraShares, names, 2, 0, ids));
    EXPECT_EQ(std::pair(8L, 3L), std::pair(ids[0], ids[1]));
}

// Each function of an interface in the type library, as contract.txt shows it.
Texts Functions(REFIID iid)
{
    ComPtr<ITypeLib> lib;
    ComPtr<ITypeInfo> dispatch, info;
    HREFTYPE ref = 0;
    Texts found;
    FUNCDESC* fd = nullptr;
    if (SUCCEEDED(LoadRegTypeLib(LIBID_KALVORAADMINUSERLib, 1, 0, 0, &lib)) &&
        SUCCEEDED(lib->GetTypeInfoOfGuid(iid, &dispatch)) && SUCCEEDED(dispatch->GetRefTypeOfImplType(-1, &ref)) &&
        SUCCEEDED(dispatch->GetRefTypeInfo(ref, &info)))
        for (UINT i = 0; SUCCEEDED(info->GetFuncDesc(i, &fd)); ++i) {
            BSTR name = nullptr;
            info->GetDocumentation(fd->memid, &name, nullptr, nullptr, nullptr);
            const wchar_t* kind = fd->invkind == INVOKE_PROPERTYGET   ? L" g "
                                  : fd->invkind == INVOKE_PROPERTYPUT ? L" p "
                                                                      : L" f ";
            found.push_back(Str(name) + kind + std::to_wstring(fd->memid) + L" " +
                            std::to_wstring(fd->oVft / sizeof(void*)));
            SysFreeString(name);
            info->ReleaseFuncDesc(fd);
        }
    return found;
}

std::wstring Text(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// The GUIDs of the compiled header, the ProgIDs' classes and the type
// library's interfaces and functions are those of contract.txt, and each
// member's name gives its DISPID, in any letter case.
TEST(Contract, GuidsDispidsAndSlotsAreThePublishedOnes)
{
    const GUID* const header[] = {&LIBID_KALVORAADMINUSERLib, &CLSID_KalvoraUser, &CLSID_EnumKalvoraUser,
                                  &CLSID_KalvoraShares,       &IID_IKalvoraUser,  &IID_IEnumKalvoraUser,
                                  &IID_IKalvoraShares};
    const CLSID* const classes[] = {&CLSID_KalvoraUser, &CLSID_EnumKalvoraUser, &CLSID_KalvoraShares};
    Texts guids, functions[3];
    int n = -1;
    for (const auto& [line, text] : ReadLines("module/contract.txt")) {
        const Texts f = Split(text, L' ');
        if (f.size() == 2 || f.size() == 3)
            guids.push_back(f.back());
        if (f[0] == L"class") {
            CLSID clsid{};
            EXPECT_EQ(S_OK, CLSIDFromProgID((L"KalvoraAdminUser." + f[1]).c_str(), &clsid));
            EXPECT_EQ(f[2], Text(clsid)) << "the class of " << Narrow(f[1]);
        } else if (f[0] == L"interface") {
            EXPECT_EQ(guids[0] + L'\0', GetStored(HKEY_CLASSES_ROOT, L"Interface\\" + f[2] + L"\\TypeLib", nullptr));
            ++n;
        } else if (f.size() == 4) {
            functions[n].push_back(text);
            for (bool lower : {false, true}) {
                std::wstring name = f[0];
                for (wchar_t& c : name)
                    c = lower ? towlower(c) : c;
                LPOLESTR names[] = {&name[0]};
                DISPID id = -1;
                EXPECT_EQ(S_OK, Create<IDispatch>(*classes[n])->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
                EXPECT_EQ(f[2], std::to_wstring(id)) << Narrow(name);
            }
        }
    }
    ASSERT_EQ(std::size(header), guids.size());
    for (size_t i = 0; i < guids.size(); ++i)
        EXPECT_EQ(guids[i], Text(*header[i]));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(functions[i], Functions(*header[4 + i]));
}

}  // namespace
