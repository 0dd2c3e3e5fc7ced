// The user collection: its load from the registry, its list protocol, adding
// users, and the events it reports (odd values, names and import files are
// cases of tests/badinput). Every test starts without a users key, and ends
// with every event checked and nothing leaked.
#include <gtest/gtest.h>

#include <functional>

#include "support/TestSupport.h"

namespace kalvora::test {
namespace {

const HKEY kHklm = HKEY_LOCAL_MACHINE;

// A client's own user object, as given to Add: every member fails, so it
// cannot tell its name.
class NamelessUser final : public IKalvoraUser {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        const bool mine = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IKalvoraUser);
        *ppv = mine ? this : nullptr;
        return mine ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&refs)); }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
#define FAILING_TEXT(name) \
    STDMETHODIMP get_##name(BSTR*) override { return E_FAIL; } \
    STDMETHODIMP put_##name(BSTR) override { return E_FAIL; }
    FAILING_TEXT(Computer) FAILING_TEXT(MyComputer) FAILING_TEXT(MyDesktop) FAILING_TEXT(MyDocuments)
    FAILING_TEXT(MyFavorites) FAILING_TEXT(MyNetwork) FAILING_TEXT(MyRecent) FAILING_TEXT(Name)
    FAILING_TEXT(SecurityLevel) FAILING_TEXT(Mailbox)
#undef FAILING_TEXT
    STDMETHODIMP get_IsNetwork(LONG*) override { return E_FAIL; }
    STDMETHODIMP put_IsNetwork(LONG) override { return E_FAIL; }
    STDMETHODIMP WriteToRegistry() override { return E_FAIL; }
    STDMETHODIMP PopulateMyComputer() override { return E_FAIL; }
    LONG refs = 0;
};

// The bytes of stack that a call takes below its caller's frame: the area
// below is painted first, and the deepest byte changed afterwards counts.
constexpr size_t kPaintedStack = 256 * 1024;
__attribute__((noinline)) void PaintStack(volatile char** bottom)
{
    volatile char* area = static_cast<char*>(__builtin_alloca(kPaintedStack));
    for (size_t i = 0; i < kPaintedStack; ++i)
        area[i] = '\xA5';
    *bottom = area;
}
size_t StackTaken(const std::function<void()>& call)
{
    volatile char* bottom = nullptr;
    PaintStack(&bottom);
    call();
    size_t untouched = 0;
    while (untouched < kPaintedStack && bottom[untouched] == '\xA5')
        ++untouched;
    return kPaintedStack - untouched;
}

class UserStore : public ModuleTest {
protected:
    UserStore()
    {
        file_ = L"collection/EnumKalvoraUser.cpp";
        DeleteTree(kHklm, kUsers);
    }
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_EnumKalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumKalvoraUser, &users_));
        EXPECT_TRUE(KeyExists(kHklm, kUsers)) << "the collection makes the users key where it is missing";
    }
    std::wstring Do(const std::wstring& call) { return Call(users_.Get(), call); }
    // Reset, then as many NextUser calls as GetCount reports.
    std::wstring Walk()
    {
        Texts names{Do(L"Reset")};
        for (int i = 0, n = _wtoi(Do(L"GetCount").c_str()); i < n; ++i)
            names.push_back(Do(L"NextUser"));
        return Join(names, L",");
    }
    ComPtr<IEnumKalvoraUser> users_;
};

class UserList : public UserStore {
protected:
    UserList()
    {
        for (const wchar_t* name : {L"Carol", L"Alice", L"Bob"})
            CreateKey(kHklm, kUsers + L"\\" + name);
    }
    void SetUp() override
    {
        UserStore::SetUp();
        ASSERT_EQ(L",Alice,Bob,Carol", Walk());
    }
    static ULONG Refs(IUnknown* object) { return object->AddRef(), object->Release(); }
};

TEST_F(UserList, NewAndAddAppendWithoutChecksOrKeys)
{
    ComPtr<IKalvoraUser> dup;
    ASSERT_EQ(S_OK, users_->New(&dup));
    EXPECT_EQ(1u, Refs(dup.Get()));
    // The same object twice, named like a loaded user; the cursor stays.
    EXPECT_EQ(L"", Call(dup.Get(), L"Name=Alice"));
    EXPECT_EQ(L"Alice", Do(L"NextUser"));
    EXPECT_EQ(std::pair(S_OK, S_OK), std::pair(users_->Add(dup.Get()), users_->Add(dup.Get())));
    EXPECT_EQ(3u, Refs(dup.Get()));
    EXPECT_EQ(L"Bob", Do(L"NextUser"));
    EXPECT_EQ(L",Alice,Bob,Carol,Alice,Alice", Walk());
    EXPECT_EQ(L"Alice,Bob,Carol", Join(Names(kHklm, kUsers, false), L","));
    // Lookups find the loaded Alice first; Remove drops that entry only.
    ComPtr<IKalvoraUser> found[2];
    EXPECT_EQ(S_OK, users_->Item(B(L"Alice").Get(), &found[0]));
    EXPECT_EQ(L"", Do(L"Remove|Alice"));
    EXPECT_EQ(S_OK, users_->Item(B(L"Alice").Get(), &found[1]));
    EXPECT_TRUE(found[0].Get() != dup.Get() && found[1].Get() == dup.Get());
    found[0].Reset(), found[1].Reset();
    users_.Reset();  // the collection holds each entry once, and its users outlive it
    EXPECT_EQ(1u, Refs(dup.Get()));
}

// The computer check reads each user's Name whatever the read answers: a
// client's user that cannot tell its name counts as a user without a name.
TEST_F(UserStore, CheckComputerCountsUsersThatCannotTellTheirName)
{
    Reachable(L"C1");
    NamelessUser nameless;
    ASSERT_EQ(S_OK, users_->Add(&nameless));
    for (const auto& [call, count] : {std::pair(L"CheckComputer|<null>|C1", L"-2"), {L"CheckComputer||C1", L"-1"}, {L"CheckComputer|x|C1", L"0"}})
        EXPECT_EQ(count, Do(call)) << call;
    ExpectEvents({L"C000000B Add User. ((null)), allready exists"});
    users_.Reset();
    EXPECT_EQ(0, nameless.refs);
}

// An import runs each record's AddUser and network probe on the caller's
// thread, whose stack a host may keep small: it keeps its buffers elsewhere.
TEST_F(UserStore, ImportFileTakesLittleStack)
{
    Reachable(L"PC1");
    const BStr path = B(TempFile(L"stack.csv", "h\n1,2,3,4,5,jdoe,7,PC1,\n"));
    LONG check = 0;
    const size_t taken = StackTaken([&] { EXPECT_EQ(S_OK, users_->ImportFile(path.Get(), &check)); });
    EXPECT_EQ(1, check);
    EXPECT_LT(taken, 32u * 1024) << "bytes of stack";
    ExpectEvents({L"C000000B Error WriteToRegistry: user: (jdoe)"});
}

}  // namespace
}  // namespace kalvora::test
