// The module: class objects, creation, QueryInterface, the unload answer,
// and the published binary contract.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

HMODULE Module() { return GetModuleHandleW(L"KalvoraAdminUser.dll"); }  // loaded by the test main
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    return Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(Module(), "DllGetClassObject")(clsid, iid, out);
}
ComPtr<IClassFactory> Factory(REFCLSID clsid)
{
    ComPtr<IClassFactory> cf;
    EXPECT_EQ(S_OK, GetClassObject(clsid, IID_IClassFactory, &cf));
    return cf;
}
void* const kJunk = reinterpret_cast<void*>(0x1234);
const CLSID* const kClasses[] = {&CLSID_KalvoraUser, &CLSID_EnumKalvoraUser, &CLSID_KalvoraShares};
const IID* const kInterfaces[] = {&IID_IKalvoraUser, &IID_IEnumKalvoraUser, &IID_IKalvoraShares};

// Refused requests clear the caller's pointer.
TEST(Module, ClassObjectsCreateObjectsThatAnswerTheirOwnInterfaceOnly)
{
    for (int c = 0; c < 3; ++c) {
        ComPtr<IUnknown> unk, itf, disp, again;
        ASSERT_EQ(S_OK, Factory(*kClasses[c])->CreateInstance(nullptr, IID_IUnknown, &unk));
        EXPECT_EQ(S_OK, unk->QueryInterface(*kInterfaces[c], &itf));
        EXPECT_EQ(S_OK, unk->QueryInterface(IID_IDispatch, &disp));
        ASSERT_EQ(S_OK, itf->QueryInterface(IID_IUnknown, &again));
        EXPECT_TRUE(itf.Get() == disp.Get() && unk.Get() == again.Get());
        void* out = kJunk;
        EXPECT_EQ(E_NOINTERFACE, unk->QueryInterface(*kInterfaces[(c + 1) % 3], &out));
        EXPECT_EQ(nullptr, out);
        // Only the shares object reports rich errors.
        ComPtr<ISupportErrorInfo> sei;
        EXPECT_EQ(c == 2 ? S_OK : E_NOINTERFACE, unk->QueryInterface(IID_ISupportErrorInfo, &sei));
        // An outer object is taken only with IUnknown asked for.
        out = kJunk;
        EXPECT_EQ(CLASS_E_NOAGGREGATION, Factory(*kClasses[c])->CreateInstance(unk.Get(), IID_IDispatch, &out));
        EXPECT_EQ(nullptr, out);
    }
    void* out = kJunk;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, GetClassObject(IID_IKalvoraUser, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, GetClassObject(CLSID_KalvoraUser, IID_IClassFactory, nullptr));
}

// An outer object that counts its references and hands other requests to
// the object it aggregates.
struct Outer : IUnknown {
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!IsEqualIID(iid, IID_IUnknown))
            return inner->QueryInterface(iid, out);
        *out = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    LONG refs = 1;
    IUnknown* inner = nullptr;
};

// The interfaces of an aggregated object count and answer through the outer one.
TEST(Module, AnAggregatedObjectDelegatesToItsOuterObject)
{
    Outer outer;
    ASSERT_EQ(S_OK, Factory(CLSID_KalvoraUser)->CreateInstance(&outer, IID_IUnknown, (void**)&outer.inner));
    IKalvoraUser* user = nullptr;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IKalvoraUser, (void**)&user));
    IUnknown* unk = nullptr;
    EXPECT_EQ(S_OK, user->QueryInterface(IID_IUnknown, (void**)&unk));
    EXPECT_EQ(&outer, unk);
    EXPECT_EQ(3, outer.refs);
    unk->Release();
    user->Release();
    EXPECT_EQ(1, outer.refs);
    EXPECT_EQ(0u, outer.inner->Release());
}

TEST(Module, CanUnloadOnlyWithoutClassObjectsObjectsOrLocks)
{
    const auto canUnloadNow = Export(Module(), "DllCanUnloadNow");
    ASSERT_EQ(S_OK, canUnloadNow());
    ComPtr<IClassFactory> cf = Factory(CLSID_KalvoraShares);
    EXPECT_EQ(S_FALSE, canUnloadNow());  // a class object held
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IUnknown, &object));
    ASSERT_EQ(S_OK, cf->LockServer(TRUE));
    cf.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow());  // an object and a lock
    object.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow());  // the lock
    ASSERT_EQ(S_OK, Factory(CLSID_KalvoraShares)->LockServer(FALSE));
    EXPECT_EQ(S_OK, canUnloadNow());
}

std::wstring Text(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}
std::wstring Name(ITypeInfo* info, MEMBERID id = MEMBERID_NIL)
{
    BStr name;
    info->GetDocumentation(id, name.Put(), nullptr, nullptr, nullptr);
    return Str(name.Get());
}

// The compiled header's GUIDs, with the type library's names of the classes
// and interfaces and the interfaces' functions, are those of contract.txt;
// each interface names the library in the registry, and the objects find
// each member's DISPID by its name in any letter case.
TEST(Contract, GuidsNamesDispidsAndSlotsAreThePublishedOnes)
{
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_KALVORAADMINUSERLib, 1, 0, 0, &lib));
    Texts found = {L"library " + Text(LIBID_KALVORAADMINUSERLib)}, expected;
    ComPtr<ITypeInfo> dispatch, info;
    for (const CLSID* clsid : kClasses) {
        ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(*clsid, &info));
        found.push_back(L"class " + Name(info.Get()) + L" " + Text(*clsid));
    }
    for (int c = 0; c < 3; ++c) {
        HREFTYPE ref = 0;
        ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(*kInterfaces[c], &dispatch));
        ASSERT_EQ(S_OK, dispatch->GetRefTypeOfImplType(-1, &ref));  // its function table
        ASSERT_EQ(S_OK, dispatch->GetRefTypeInfo(ref, &info));
        const std::wstring iid = Text(*kInterfaces[c]);
        found.push_back(L"interface " + Name(info.Get()) + L" " + iid);
        const std::wstring libid = found[0].substr(8);
        EXPECT_EQ(libid + L'\0', GetStored(HKEY_CLASSES_ROOT, L"Interface\\" + iid + L"\\TypeLib", nullptr));
        FUNCDESC* fd = nullptr;
        for (UINT i = 0; SUCCEEDED(info->GetFuncDesc(i, &fd)); ++i, info->ReleaseFuncDesc(fd)) {
            std::wstring name = Name(info.Get(), fd->memid);
            // INVOKE_FUNC 1, INVOKE_PROPERTYGET 2, INVOKE_PROPERTYPUT 4
            found.push_back(name + L' ' + L"-fg-p"[fd->invkind & 7] + L' ' + std::to_wstring(fd->memid) + L" " +
                            std::to_wstring(fd->oVft / sizeof(void*)));
            for (wchar_t& ch : name)
                ch = towlower(ch);
            LPOLESTR names[] = {&name[0]};
            DISPID id = -1;
            EXPECT_EQ(S_OK, Create<IDispatch>(*kClasses[c])->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
            EXPECT_EQ(fd->memid, id) << Narrow(name);
        }
    }
    for (const std::wstring& line : ReadLines("module/contract.txt"))
        if (!line.empty())
            expected.push_back(line);
    EXPECT_EQ(Narrow(Join(expected, L"\n")), Narrow(Join(found, L"\n")));
}

}  // namespace
