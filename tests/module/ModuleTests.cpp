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
    static HMODULE module = LoadLibraryExW(InstallPath(L"KalvoraAdminUser.dll").c_str(), nullptr,
                                           LOAD_WITH_ALTERED_SEARCH_PATH);
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

}  // namespace
