// The user collection: its load from the registry, its list protocol, adding
// users, and the events it reports (odd values, names and import files are
// cases of tests/badinput). Every test starts without a users key, and ends
// with every event checked and nothing leaked.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace kalvora::test {
namespace {

const HKEY kHklm = HKEY_LOCAL_MACHINE;
const std::wstring kUsersPath = L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users";

// Points the user class at a missing DLL while it lives, so that creating a
// user fails with `failure`.
struct UserClassBroken {
    UserClassBroken()
    {
        SetString(HKEY_CLASSES_ROOT, kServer, nullptr, L"Z:\\nowhere\\missing.dll");
        ComPtr<IKalvoraUser> probe;
        failure = CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_ALL, IID_IKalvoraUser, &probe);
        EXPECT_TRUE(FAILED(failure));
    }
    ~UserClassBroken() { SetString(HKEY_CLASSES_ROOT, kServer, nullptr, saved.c_str()); }
    static constexpr const wchar_t* kServer = L"CLSID\\{B1D4D9FD-B72F-42FA-AD5D-C76394DF4DFF}\\InprocServer32";
    const std::wstring saved = GetStored(HKEY_CLASSES_ROOT, kServer, nullptr);
    HRESULT failure = S_OK;
};

class UserStore : public ModuleTest {
protected:
    UserStore() { file_ = L"collection/EnumKalvoraUser.cpp"; }
    void SetUp() override { DeleteTree(kHklm, kUsersPath); }
    void TearDown() override
    {
        ModuleTest::TearDown();
        users_.Reset();
        DeleteTree(kHklm, kUsersPath);
    }
    static void Seed(const std::wstring& name) { CreateKey(kHklm, kUsersPath + L"\\" + name); }
    void Load(HRESULT expected = S_OK)
    {
        users_.Reset();
        ASSERT_EQ(expected, CoCreateInstance(CLSID_EnumKalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumKalvoraUser, &users_));
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

TEST_F(UserStore, EmptyStoreAndFailingUserCreation)
{
    leaks_.IgnoreHandles();  // Wine keeps handles from failed activations
    UserClassBroken broken;  // without keys no user is created
    Load();
    EXPECT_TRUE(KeyExists(kHklm, kUsersPath));
    IKalvoraUser* user = reinterpret_cast<IKalvoraUser*>(INT_PTR(0x5A5A5A5A));
    EXPECT_EQ(E_FAIL, users_->Item(B(L"y").Get(), &user));
    EXPECT_EQ(nullptr, user);
    // Creating a user fails: New reports it, and with a user key the collection cannot be created.
    EXPECT_EQ(broken.failure, users_->New(&user));
    EXPECT_EQ(nullptr, user);
    ExpectEvents({L"C000000B Item.  Tried to get user object: (y), which dose not exist",
                  L"C000000B CoCreateInstace of IKalvoraUser failed"});
    Seed(L"a");
    Load(broken.failure);
    ExpectEvents({L"C000000B Could not CoCreateInstace of IKalvoraUser"});
}

class UserList : public UserStore {
protected:
    void SetUp() override
    {
        UserStore::SetUp();
        for (const wchar_t* name : {L"Carol", L"Alice", L"Bob"})
            Seed(name);
        Load();
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
    ExpectCalls(dup.Get(), {{L"Name=Alice", L""}});
    EXPECT_EQ(L"Alice", Do(L"NextUser"));
    EXPECT_EQ(std::pair(S_OK, S_OK), std::pair(users_->Add(dup.Get()), users_->Add(dup.Get())));
    EXPECT_EQ(3u, Refs(dup.Get()));
    EXPECT_EQ(L"Bob", Do(L"NextUser"));
    EXPECT_EQ(L",Alice,Bob,Carol,Alice,Alice", Walk());
    EXPECT_EQ(L"Alice,Bob,Carol", Join(Names(kHklm, kUsersPath, false), L","));
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

// The computer check asks the network for the computer in its UNC form, a UNC
// name as it is (its answers for names and computers are cases of tests/badinput).
TEST_F(UserStore, CheckComputerAsksTheNetworkForUncNames)
{
    Load();
    const std::wstring log = TempFile(L"network.log", "");
    SetString(kHklm, L"Software\\KalvoraTest\\Network", L"Log", log);
    ExpectCalls(users_.Get(), {{L"CheckComputer|a|C1", L"-8"}, {L"CheckComputer|a|\\\\C1", L"-8"},
                               {L"CheckComputer|a|//C1", L"-8"}, {L"CheckComputer|a|<null>", L"-8"}});
    EXPECT_EQ(L"\\\\C1,\\\\C1,//C1,", Join(TakeLines(log), L","));
}

}  // namespace
}  // namespace kalvora::test
