// Class objects, creation, aggregation, QueryInterface and the module's unload answer.
#include <gtest/gtest.h>

#include <thread>

#include <ocidl.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// The module, loaded by path as COM loads it.
class Module : public testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExW(BuildPath(L"KalvoraAdminUser.dll").c_str(), nullptr,
                                 LOAD_WITH_ALTERED_SEARCH_PATH);
        ASSERT_NE(nullptr, module_);
        getClassObject_ =
            reinterpret_cast<GetClassObjectFn>(GetProcAddress(module_, "DllGetClassObject"));
        canUnloadNow_ = reinterpret_cast<CanUnloadNowFn>(GetProcAddress(module_, "DllCanUnloadNow"));
        ASSERT_NE(nullptr, getClassObject_);
        ASSERT_NE(nullptr, canUnloadNow_);
    }
    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
    }

    ComPtr<IClassFactory> Factory(REFCLSID clsid)
    {
        ComPtr<IClassFactory> cf;
        EXPECT_EQ(S_OK, getClassObject_(clsid, IID_IClassFactory,
                                        reinterpret_cast<void**>(cf.GetAddressOf())));
        return cf;
    }

    HMODULE module_ = nullptr;
    GetClassObjectFn getClassObject_ = nullptr;
    CanUnloadNowFn canUnloadNow_ = nullptr;
};

TEST_F(Module, ClassObjectCreatedOncePerClassUnderContention)
{
    // The first requests of this process for the collection's class object race here.
    IUnknown* seen[8] = {};
    std::thread threads[8];
    for (int i = 0; i < 8; ++i) {
        threads[i] = std::thread([&, i] {
            IUnknown* cf = nullptr;
            if (SUCCEEDED(getClassObject_(CLSID_EnumKalvoraUser, IID_IUnknown, reinterpret_cast<void**>(&cf))))
                seen[i] = cf;
        });
    }
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < 8; ++i) {
        ASSERT_NE(nullptr, seen[i]);
        EXPECT_EQ(seen[0], seen[i]);
    }
    for (IUnknown* cf : seen)
        cf->Release();
}

const CLSID* const kClasses[] = {&CLSID_KalvoraUser, &CLSID_EnumKalvoraUser, &CLSID_KalvoraShares};

TEST_F(Module, ClassObjectIsCachedPerClass)
{
    for (const CLSID* clsid : kClasses) {
        ComPtr<IClassFactory> a = Factory(*clsid), b = Factory(*clsid);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a.Get(), b.Get());
        ComPtr<IUnknown> unk;
        ASSERT_EQ(S_OK, getClassObject_(*clsid, IID_IUnknown, reinterpret_cast<void**>(unk.GetAddressOf())));
        EXPECT_EQ(static_cast<IUnknown*>(a.Get()), unk.Get());
    }
    // Distinct classes, distinct class objects.
    EXPECT_NE(Factory(CLSID_KalvoraUser).Get(), Factory(CLSID_KalvoraShares).Get());
}

TEST_F(Module, UnknownClassOrInterfaceIsRefused)
{
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject_(IID_IKalvoraUser, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject_(LIBID_KALVORAADMINUSERLib, IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, getClassObject_(CLSID_KalvoraUser, IID_IClassFactory, nullptr));
    out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, getClassObject_(CLSID_KalvoraUser, IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
}

TEST_F(Module, CreateInstanceArguments)
{
    ComPtr<IClassFactory> cf = Factory(CLSID_KalvoraUser);
    ASSERT_TRUE(cf);
    EXPECT_EQ(E_POINTER, cf->CreateInstance(nullptr, IID_IKalvoraUser, nullptr));
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, cf->CreateInstance(nullptr, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
}

// An outer object that counts the references that the inner object forwards.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        ++forwardedQueries;
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    ULONG refs = 1;
    int forwardedQueries = 0;
    IUnknown* inner = nullptr;
};

TEST_F(Module, AggregationNeedsIUnknown)
{
    for (const CLSID* clsid : kClasses) {
        ComPtr<IClassFactory> cf = Factory(*clsid);
        ASSERT_TRUE(cf);
        Outer outer;
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(CLASS_E_NOAGGREGATION, cf->CreateInstance(&outer, IID_IDispatch, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(CLASS_E_NOAGGREGATION, cf->CreateInstance(&outer, IID_IKalvoraUser, &out));
        EXPECT_EQ(1u, outer.refs);
    }
}

TEST_F(Module, AggregatedObjectDelegatesToOuter)
{
    ComPtr<IClassFactory> cf = Factory(CLSID_KalvoraUser);
    ASSERT_TRUE(cf);
    Outer outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(S_OK, cf->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
    ASSERT_NE(nullptr, inner);
    EXPECT_NE(static_cast<IUnknown*>(&outer), inner);
    outer.inner = inner;

    // The inner unknown hands out the user interface; its reference goes to the outer.
    IKalvoraUser* user = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IKalvoraUser, reinterpret_cast<void**>(&user)));
    EXPECT_EQ(2u, outer.refs);
    // QueryInterface on the user interface is the outer's.
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, user->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
    identity->Release();
    IDispatch* disp = nullptr;
    ASSERT_EQ(S_OK, user->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)));
    EXPECT_EQ(1, outer.forwardedQueries);
    disp->Release();

    // The aggregated object works.
    Bstr name(L"inner");
    EXPECT_EQ(S_OK, user->put_Name(name.get()));
    Bstr back;
    EXPECT_EQ(S_OK, user->get_Name(back.put()));
    EXPECT_EQ(L"inner", back.str());

    user->Release();
    EXPECT_EQ(1u, outer.refs);
    EXPECT_EQ(0u, inner->Release());  // destroys the aggregated object
}

TEST_F(Module, QueryInterfaceAnswersExactlyItsInterfaces)
{
    struct Case {
        const CLSID* clsid;
        const IID* own;
        bool errorInfo;
    } cases[] = {
        {&CLSID_KalvoraUser, &IID_IKalvoraUser, false},
        {&CLSID_EnumKalvoraUser, &IID_IEnumKalvoraUser, false},
        {&CLSID_KalvoraShares, &IID_IKalvoraShares, true},
    };
    const IID* foreign[] = {&IID_IClassFactory, &IID_IProvideClassInfo, &IID_IEnumVARIANT,
                            &IID_IPersist,      &IID_IMarshal,          &IID_IKalvoraUser,
                            &IID_IEnumKalvoraUser, &IID_IKalvoraShares, &IID_IConnectionPointContainer};
    for (const Case& c : cases) {
        ComPtr<IClassFactory> cf = Factory(*c.clsid);
        ASSERT_TRUE(cf);
        ComPtr<IUnknown> unk;
        ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(unk.GetAddressOf())));
        ComPtr<IUnknown> own, disp, again;
        EXPECT_EQ(S_OK, unk->QueryInterface(*c.own, reinterpret_cast<void**>(own.GetAddressOf())));
        EXPECT_EQ(S_OK, unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(disp.GetAddressOf())));
        EXPECT_EQ(own.Get(), disp.Get());  // the dual interface serves both
        ASSERT_EQ(S_OK, own->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(again.GetAddressOf())));
        EXPECT_EQ(unk.Get(), again.Get());  // one identity
        for (const IID* iid : foreign) {
            if (IsEqualIID(*iid, *c.own))
                continue;
            void* out = reinterpret_cast<void*>(0x1234);
            EXPECT_EQ(E_NOINTERFACE, unk->QueryInterface(*iid, &out));
            EXPECT_EQ(nullptr, out);
        }
        ComPtr<ISupportErrorInfo> sei;
        HRESULT hr = unk->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(sei.GetAddressOf()));
        if (c.errorInfo) {
            ASSERT_EQ(S_OK, hr);
            EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IKalvoraShares));
            EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IDispatch));
            EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IKalvoraUser));
        } else {
            EXPECT_EQ(E_NOINTERFACE, hr);
        }
    }
}

TEST_F(Module, CanUnloadFollowsClassObjectsObjectsAndLocks)
{
    ASSERT_EQ(S_OK, canUnloadNow_());
    {
        ComPtr<IClassFactory> cf = Factory(CLSID_KalvoraShares);
        ASSERT_TRUE(cf);
        EXPECT_EQ(S_FALSE, canUnloadNow_());

        ComPtr<IKalvoraShares> shares;
        ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IKalvoraShares,
                                           reinterpret_cast<void**>(shares.GetAddressOf())));
        cf.Reset();
        EXPECT_EQ(S_FALSE, canUnloadNow_());  // a live object holds the module
        shares.Reset();
        EXPECT_EQ(S_OK, canUnloadNow_());

        cf = Factory(CLSID_KalvoraShares);
        ASSERT_EQ(S_OK, cf->LockServer(TRUE));
        cf.Reset();
        EXPECT_EQ(S_FALSE, canUnloadNow_());
        cf = Factory(CLSID_KalvoraShares);
        ASSERT_EQ(S_OK, cf->LockServer(FALSE));
        cf.Reset();
    }
    EXPECT_EQ(S_OK, canUnloadNow_());
}

// Creation through the registry, from both apartment kinds.
HRESULT CreateAndUse(DWORD coinit, std::wstring& name)
{
    HRESULT hr = CoInitializeEx(nullptr, coinit);
    if (FAILED(hr))
        return hr;
    {
        ComPtr<IKalvoraUser> user;
        hr = CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser,
                              reinterpret_cast<void**>(user.GetAddressOf()));
        if (SUCCEEDED(hr)) {
            Bstr in(L"apartment");
            hr = user->put_Name(in.get());
            Bstr out;
            if (SUCCEEDED(hr))
                hr = user->get_Name(out.put());
            name = out.str();
        }
    }
    CoUninitialize();
    return hr;
}

TEST(Apartments, CreatedAndCalledFromStaAndMta)
{
    for (DWORD coinit : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
        HRESULT hr = E_FAIL;
        std::wstring name;
        // Wine may serve a cross-apartment call through this (main) STA,
        // so keep its messages flowing while the other thread works.
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread t([&] {
            hr = CreateAndUse(coinit, name);
            SetEvent(done);
        });
        while (MsgWaitForMultipleObjects(1, &done, FALSE, 30000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        }
        t.join();
        CloseHandle(done);
        EXPECT_EQ(S_OK, hr) << coinit;
        EXPECT_EQ(L"apartment", name) << coinit;
    }
}

TEST(Apartments, ProgIdsResolveToTheClasses)
{
    const struct {
        const wchar_t* progId;
        const CLSID* clsid;
    } ids[] = {
        {L"KalvoraAdminUser.KalvoraUser", &CLSID_KalvoraUser},
        {L"KalvoraAdminUser.KalvoraUser.1", &CLSID_KalvoraUser},
        {L"KalvoraAdminUser.EnumKalvoraUser", &CLSID_EnumKalvoraUser},
        {L"KalvoraAdminUser.EnumKalvoraUser.1", &CLSID_EnumKalvoraUser},
        {L"KalvoraAdminUser.KalvoraShares", &CLSID_KalvoraShares},
        {L"KalvoraAdminUser.KalvoraShares.1", &CLSID_KalvoraShares},
    };
    for (const auto& id : ids) {
        CLSID clsid{};
        EXPECT_EQ(S_OK, CLSIDFromProgID(id.progId, &clsid)) << Narrow(id.progId);
        EXPECT_TRUE(IsEqualCLSID(*id.clsid, clsid)) << Narrow(id.progId);
    }
}

}  // namespace
