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
std::wstring UserPath(const std::wstring& name) { return kUsersPath + L"\\" + name; }
std::wstring ItemMiss(const std::wstring& name) { return L"Item.  Tried to get user object: (" + name + L"), which dose not exist"; }

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
    static void Seed(const std::wstring& name) { CreateKey(kHklm, UserPath(name)); }
    static std::wstring Keys() { return Join(Names(kHklm, kUsersPath, false), L","); }
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
    ComPtr<IKalvoraUser> Find(const std::wstring& name)
    {
        ComPtr<IKalvoraUser> user;
        EXPECT_EQ(S_OK, users_->Item(B(name).Get(), &user)) << name;
        return user;
    }
    // The events since the last check: failures with these texts, in order.
    void Reported(Texts texts)
    {
        for (std::wstring& t : texts)
            t = L"C000000B " + t;
        ExpectEvents(texts);
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
    Reported({ItemMiss(L"y"), L"CoCreateInstace of IKalvoraUser failed"});
    Seed(L"a");
    Load(broken.failure);
    Reported({L"Could not CoCreateInstace of IKalvoraUser"});
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
    EXPECT_EQ(L"Alice,Bob,Carol", Keys());
    // Lookups find the loaded Alice first; Remove drops that entry only.
    EXPECT_NE(dup.Get(), Find(L"Alice").Get());
    EXPECT_EQ(L"", Do(L"Remove|Alice"));
    EXPECT_EQ(dup.Get(), Find(L"Alice").Get());
    users_.Reset();  // the collection holds each entry once, and its users outlive it
    EXPECT_EQ(1u, Refs(dup.Get()));
}


// The computer check: the network's answers, and what it was asked.
class AddUsers : public UserStore {
protected:
    void SetUp() override
    {
        UserStore::SetUp();
        Load();
        DeleteTree(kHklm, L"Software\\KalvoraTest\\Network\\Reachable");  // computers of other tests
    }
};

TEST_F(AddUsers, CheckComputerAnswersForNameAndComputer)
{
    Reachable(L"C1");
    ExpectCalls(users_.Get(), {{L"AddUser|Alice|||1", L"!E_FAIL"}, {L"AddUser|Alice|||1", L"!E_FAIL"}, {L"AddUser||||1", L"!E_FAIL"}});
    const std::wstring exists = L"Add User. (Alice), allready exists";
    // The name, the computer, the answer, and the users found.
    const std::tuple<std::wstring, std::wstring, const wchar_t*, Texts> cases[] = {
        {L"New", L"C1", L"0", {}}, {L"", L"", L"-5", {}}, {L"Alice", L"Q1", L"-10", {exists, exists}},
        {L"alice", L"\\\\C1", L"0", {}}, {L"", L"//C1", L"-1", {}}, {L"New", L"", L"-4", {}},
        {L"Alice", L"", L"-6", {exists, exists}}, {L"New", L"Q1", L"-8", {}}, {L"", L"Q1", L"-9", {}},
        {L"<null>", L"C1", L"-2", {L"Add User. ((null)), allready exists"}},  // null is not empty, and matches ""
        {L"New", L"<null>", L"-8", {}},  // the network is asked for no name, and refuses
    };
    Texts events = {L"Error WriteToRegistry: user: (Alice)", L"Error WriteToRegistry: user: (Alice)", L"Error WriteToRegistry: user: ()"};
    const std::wstring log = TempFile(L"network.log", "");
    SetString(kHklm, L"Software\\KalvoraTest\\Network", L"Log", log);
    for (const auto& [name, computer, answer, found] : cases) {
        EXPECT_EQ(answer, Do(L"CheckComputer|" + name + L"|" + computer)) << name << "|" << computer;
        events.insert(events.end(), found.begin(), found.end());
    }
    Reported(events);
    // The names the network was asked for: a computer in its UNC form, a UNC one unchanged.
    EXPECT_EQ(L"\\\\C1,\\\\Q1,\\\\C1,//C1,\\\\Q1,\\\\Q1,\\\\C1,", Join(TakeLines(log), L","));
}

}  // namespace
}  // namespace kalvora::test
