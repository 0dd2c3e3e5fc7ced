// Class objects, creation, aggregation, QueryInterface and the module's unload answer.
#include <gtest/gtest.h>

#include <thread>

#include <ocidl.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

void* const kJunk = reinterpret_cast<void*>(0x1234);
const CLSID* const kClasses[] = {&CLSID_KalvoraUser, &CLSID_EnumKalvoraUser, &CLSID_KalvoraShares};

// The module's entry points, loaded by path as COM loads it.
void* Export(const char* name)
{
    static HMODULE module = LoadLibraryExW(BuildPath(L"KalvoraAdminUser.dll").c_str(), nullptr,
                                           LOAD_WITH_ALTERED_SEARCH_PATH);
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    using Fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    return reinterpret_cast<Fn>(Export("DllGetClassObject"))(clsid, iid, out);
}
HRESULT CanUnloadNow()
{
    return reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(Export("DllCanUnloadNow"))();
}
ComPtr<IClassFactory> Factory(REFCLSID clsid)
{
    ComPtr<IClassFactory> cf;
    EXPECT_EQ(S_OK, GetClassObject(clsid, IID_IClassFactory, &cf));
    return cf;
}

TEST(ClassObjects, CreatedOncePerClassUnderContention)
{
    // The first requests of this process for the collection's class object race here.
    IUnknown* seen[8] = {};
    std::thread threads[8];
    for (int i = 0; i < 8; ++i)
        threads[i] = std::thread([&seen, i] {
            GetClassObject(CLSID_EnumKalvoraUser, IID_IUnknown, reinterpret_cast<void**>(&seen[i]));
        });
    for (auto& t : threads)
        t.join();
    EXPECT_NE(nullptr, seen[0]);
    for (IUnknown* cf : seen)
        EXPECT_EQ(seen[0], cf);
    for (IUnknown* cf : seen)
        if (cf)
            cf->Release();
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

    const struct {
        const CLSID* clsid;
        const IID* iid;
        HRESULT hr;
    } refused[] = {
        {&IID_IKalvoraUser, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {&LIBID_KALVORAADMINUSERLib, &IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {&CLSID_KalvoraUser, &IID_IDispatch, E_NOINTERFACE},
    };
    for (const auto& r : refused) {
        void* out = kJunk;
        EXPECT_EQ(r.hr, GetClassObject(*r.clsid, *r.iid, &out));
        EXPECT_EQ(nullptr, out);
    }
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
        Bstr name(L"inner"), back;
        EXPECT_EQ(S_OK, user->put_Name(name.get()));
        EXPECT_EQ(S_OK, user->get_Name(back.put()));
        EXPECT_EQ(L"inner", back.str());
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

}  // namespace
