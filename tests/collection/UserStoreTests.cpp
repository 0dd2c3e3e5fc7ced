// The user collection: its load from the registry, its list protocol, the
// removal of user keys, and the events it reports. Every test starts without
// a users key, and ends with every event checked and nothing leaked.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace kalvora::test {
namespace {

using namespace std::string_literals;
const HKEY kHklm = HKEY_LOCAL_MACHINE;
const std::wstring kUsersPath = L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users";
std::wstring UserPath(const std::wstring& name) { return kUsersPath + L"\\" + name; }
// The registry values in the order they are read, and the properties they go to.
const wchar_t* const kValueNames[] = {L"Computer",     L"My Computer", L"My Desktop",     L"My Documents",
                                      L"My Favorites", L"My Network",  L"Security Level", L"NetWork Enable"};
const wchar_t* const kProperties[] = {L"Computer",    L"MyComputer", L"MyDesktop",     L"MyDocuments",
                                      L"MyFavorites", L"MyNetwork",  L"SecurityLevel", L"IsNetwork"};
// Access lists: read but not write, write but not read.
const wchar_t kReadOnly[] = L"D:P(A;;KRWDRCSD;;;WD)", kWriteOnly[] = L"D:P(A;;KWWDRCSD;;;WD)";

// A user as its properties show it: Name, the loaded ones, MyRecent and Mailbox.
std::wstring View(IUnknown* user)
{
    Texts v{Call(user, L"Name")};
    for (const wchar_t* p : kProperties)
        v.push_back(Call(user, p));
    return Join(v, L"|") + L"|" + Call(user, L"MyRecent") + L"|" + Call(user, L"Mailbox");
}
// A user whose key held every value (each derived from the name), or none.
// (A null Mailbox reads as an empty string through late binding.)
std::wstring UserView(const std::wstring& name, bool full)
{
    Texts v{name};
    for (int f = 0; f < 7; ++f)
        v.push_back(full ? kValueNames[f] + (L" of " + name) : L"");
    return Join(v, L"|") + L"|" + (full ? std::to_wstring(name.size()) : L"0") + L"||";
}
std::wstring ItemMiss(const std::wstring& name) { return L"Item.  Tried to get user object: (" + name + L"), which dose not exist"; }
std::wstring RemoveMiss(const std::wstring& name) { return L"Remove. User (" + name + L") does not exist"; }

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
    static void Seed(const std::wstring& name, bool full = true)
    {
        CreateKey(kHklm, UserPath(name));
        for (int f = 0; full && f < 8; ++f)
            SetString(kHklm, UserPath(name), kValueNames[f], f < 7 ? kValueNames[f] + (L" of " + name) : std::to_wstring(name.size()));
    }
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

TEST_F(UserStore, UsersLoadInRegistryOrderWithTheirValues)
{
    // 99 characters is the longest name the name buffer holds.
    const Texts full = {L"carol", L"alice", L"bob", L"%s%n", std::wstring(99, L'k')};
    for (const std::wstring& name : full)
        Seed(name);
    // A key without values, and one whose other values and subkeys are ignored.
    Seed(L"empty", false);
    for (const wchar_t* other : {L"My Recent", L"Mailbox", L"computer "})
        SetString(kHklm, UserPath(L"dave"), other, L"x");
    Seed(L"dave\\child");
    Load();
    EXPECT_EQ(L"," + Keys(), Walk());
    for (const std::wstring& name : full)
        EXPECT_EQ(UserView(name, true), View(Find(name).Get()));
    for (const wchar_t* name : {L"empty", L"dave"})
        EXPECT_EQ(UserView(name, false), View(Find(name).Get()));
}

// Each row is one user key holding one value, then "after" in Security Level.
TEST_F(UserStore, ValuesAreReadAsTextWithinTheirBuffer)
{
    // The index in kValueNames, the type, the data and its size (0: the text with its terminator).
    const std::wstring fits(519, L'd'), full(520, L'f');
    const std::tuple<int, DWORD, std::wstring, DWORD, std::wstring> cases[] = {
        // NetWork Enable converts like the C library's wide-string-to-integer conversion.
        {7, REG_SZ, L"1", 0, L"1"}, {7, REG_SZ, L" 12abc", 0, L"12"}, {7, REG_SZ, L"true", 0, L"0"},
        {7, REG_SZ, L"-1", 0, L"-1"}, {7, REG_SZ, L"\t+7", 0, L"7"}, {7, REG_SZ, L"2147483647", 0, L"2147483647"},
        {7, REG_DWORD, L"\x7\0"s, 4, L"0"},  // the DWORD's bytes hold no digit
        // Any type is read as text, up to the first NUL.
        {2, REG_EXPAND_SZ, L"%SystemRoot%\\x", 0, L"%SystemRoot%\\x"}, {5, REG_SZ, L"ab\0cd"s, 0, L"ab"},
        // 1040 bytes fit, with or without a terminator; a larger value is skipped. (The
        // registry would count a NUL right after the data in, hence the "!".)
        {2, REG_SZ, fits, 0, fits}, {4, REG_SZ, full + L"!", 1040, full},
        {3, REG_SZ, std::wstring(520, L'e'), 0, L""}, {0, REG_SZ, std::wstring(32768, L'h'), 0, L""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [value, type, data, bytes, expected] = cases[i];
        SetString(kHklm, UserPath(L"v" + std::to_wstring(i)), L"Security Level", L"after");
        SetRaw(kHklm, UserPath(L"v" + std::to_wstring(i)), kValueNames[value], type, data.c_str(),
               bytes ? bytes : DWORD((data.size() + 1) * sizeof(wchar_t)));
    }
    Load();
    for (size_t i = 0; i < std::size(cases); ++i) {
        ComPtr<IKalvoraUser> user = Find(L"v" + std::to_wstring(i));
        EXPECT_EQ(std::get<4>(cases[i]) + L"|after", Call(user.Get(), kProperties[std::get<0>(cases[i])]) + L"|" +
                                                          Call(user.Get(), L"SecurityLevel")) << "row " << i;
    }
}

// A 100-character name does not fit the name buffer; it sorts into the middle.
TEST_F(UserStore, LongNameStopsTheLoadAndLeavesEmptyEntries)
{
    const std::wstring longName = L"m" + std::wstring(99, L'x');
    for (const std::wstring& name : Texts{L"a", L"b", longName, L"n", L"z"})
        Seed(name);
    Load();
    Reported({L"Error using RegEnumKeyEx"});
    // NextUser fails on an empty entry, and the walk wraps after them; lookups pass them over.
    EXPECT_EQ(L",a,b,!E_FAIL,!E_FAIL,!E_FAIL", Walk());
    ExpectCalls(users_.Get(), {{L"NextUser", L"a"}, {L"Item|b", L"{b}"}, {L"Item|n", L"!E_FAIL"},
                               {L"Remove|b", L""}, {L"GetCount", L"4"}, {L"ClearKeys", L"!E_FAIL"}});
    EXPECT_EQ(UserView(L"a", true), View(Find(L"a").Get()));
    // ClearKeys deleted a's key, failed for the empty entries and named the last user visited.
    Reported({ItemMiss(L"n"), RemoveMiss(L"a")});
    EXPECT_EQ(longName + L",n,z", Keys());
    BSTR untouched = reinterpret_cast<BSTR>(INT_PTR(0x5A5A5A5A)), out = untouched;
    EXPECT_EQ(std::pair(E_FAIL, E_FAIL), std::pair(users_->get_NextUser(&out), users_->get_NextUser(&out)));
    EXPECT_EQ(untouched, out);  // a failing NextUser leaves the out value alone
}

TEST_F(UserStore, EmptyStoreAndFailingUserCreation)
{
    leaks_.IgnoreHandles();  // Wine keeps handles from failed activations
    UserClassBroken broken;  // without keys no user is created
    Load();
    EXPECT_TRUE(KeyExists(kHklm, kUsersPath));
    ExpectCalls(users_.Get(), {{L"GetCount", L"0"}, {L"NextUser", L"!E_FAIL"}, {L"ClearKeys", L""}, {L"Item|x", L"!E_FAIL"}});
    IKalvoraUser* user = reinterpret_cast<IKalvoraUser*>(INT_PTR(0x5A5A5A5A));
    EXPECT_EQ(E_FAIL, users_->Item(B(L"y").Get(), &user));
    EXPECT_EQ(nullptr, user);
    // Creating a user fails: New reports it, and with a user key the collection cannot be created.
    EXPECT_EQ(broken.failure, users_->New(&user));
    EXPECT_EQ(nullptr, user);
    Reported({ItemMiss(L"x"), ItemMiss(L"y"), L"CoCreateInstace of IKalvoraUser failed"});
    Seed(L"a");
    Load(broken.failure);
    Reported({L"Could not CoCreateInstace of IKalvoraUser"});
}

TEST_F(UserStore, LoadFailuresAreReportedAndKeepWhatWasLoaded)
{
    for (const wchar_t* name : {L"a", L"b", L"c"})
        Seed(name);
    // Access lists make the platform refuse a step of the load.
    const std::tuple<std::wstring, const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
        {kUsersPath, kReadOnly, L"Error creating registry key", L""},
        {kUsersPath, kWriteOnly, L"Error opening registry key", L""},
        {UserPath(L"b"), kWriteOnly, L"RegOpenKeyEx Failed", L",a,b,!E_FAIL"},  // b keeps its name
    };
    for (const auto& [key, sddl, text, walk] : cases) {
        auto denied = Restrict(kHklm, key, sddl);
        Load();
        Reported({text});
        EXPECT_EQ(walk, Walk()) << text;
    }
    EXPECT_EQ(UserView(L"a", true), View(Find(L"a").Get()));
    EXPECT_EQ(UserView(L"b", false), View(Find(L"b").Get()));
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

TEST_F(UserList, NamesMatchExactlyOverTheirWholeLengthAndShowLiterally)
{
    // The name, and how the events show it.
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"alice", L"alice"}, {L"ALICE", L"ALICE"}, {L"Alic", L"Alic"}, {L"Alicee", L"Alicee"}, {L" Alice", L" Alice"},
        {L"", L""}, {L"%n%s%x", L"%n%s%x"}, {L"%", L"%"}, {L"Alice\0x"s, L"Alice"}, {L"<null>", L"(null)"}};
    for (const auto& [name, shown] : cases) {
        ExpectCalls(users_.Get(), {{L"Item|" + name, L"!E_FAIL"}, {L"Remove|" + name, L"!E_FAIL"}});
        Reported({ItemMiss(shown), RemoveMiss(shown)});
    }
    EXPECT_EQ(L"Alice,Bob,Carol", Keys());  // the registry ignores case: no miss deleted a key
    // The event file escapes what would break its lines.
    EXPECT_EQ(L"!E_FAIL", Do(L"Item|a\\b\tc\rd\ne"));
    Reported({L"Item.  Tried to get user object: (a\\\\b\\tc\\rd\\ne), which dose not exist"});
}

TEST_F(UserList, RemoveAndClearKeysDeleteTheListedKeysOnly)
{
    ComPtr<IKalvoraUser> alice = Find(L"Alice");
    Seed(L"Dave");  // not listed
    // Remove drops the entry and its key but not the cursor: Bob moves into the place the
    // cursor has passed, then the walk wraps. The collection lets go of the user, the caller not.
    ExpectCalls(users_.Get(), {{L"NextUser", L"Alice"}, {L"Remove|Alice", L""}, {L"NextUser", L"Carol"},
                               {L"NextUser", L"Bob"}, {L"Item|Alice", L"!E_FAIL"}, {L"GetCount", L"2"}});
    EXPECT_EQ(std::pair(L"Bob,Carol,Dave"s, 1ul), std::pair(Keys(), Refs(alice.Get())));
    // ClearKeys deletes the listed keys and keeps the list. With the keys gone, Remove keeps
    // the user listed, and ClearKeys reports once, naming the last user.
    ExpectCalls(users_.Get(), {{L"ClearKeys", L""}, {L"NextUser", L"Carol"}, {L"Item|Carol", L"{Carol}"},
                               {L"Remove|Bob", L"!E_FAIL"}, {L"ClearKeys", L"!E_FAIL"}, {L"GetCount", L"2"}});
    EXPECT_EQ(L"Dave", Keys());
    Reported({ItemMiss(L"Alice"), L"RegDeleteKey failed", RemoveMiss(L"Carol")});
}

TEST_F(UserList, NamesWithoutAKeyOfTheirOwnDeleteNothing)
{
    // An empty name would address the users key itself, a backslash a key further down.
    SetString(kHklm, UserPath(L"Alice\\sub"), L"x", L"x");
    for (const wchar_t* name : {L"", L"Alice\\sub", L"%s%n"}) {
        ComPtr<IKalvoraUser> user;
        ASSERT_EQ(S_OK, users_->New(&user));
        EXPECT_EQ(L"", Call(user.Get(), L"Name="s + name));
        ASSERT_EQ(S_OK, users_->Add(user.Get()));
        EXPECT_EQ(L"!E_FAIL", Do(L"Remove|"s + name));
        Reported({L"RegDeleteKey failed"});
    }
    EXPECT_EQ(S_OK, users_->Add(nullptr));
    EXPECT_EQ(L",Alice,Bob,Carol,,Alice\\sub,%s%n,!E_FAIL", Walk());
    // ClearKeys names the last user visited, literally; Alice's key keeps its
    // subkey, so the platform refuses to delete it.
    EXPECT_EQ(L"!E_FAIL", Do(L"ClearKeys"));
    Reported({RemoveMiss(L"%s%n")});
    EXPECT_EQ(std::pair(L"Alice"s, true), std::pair(Keys(), KeyExists(kHklm, UserPath(L"Alice\\sub"))));
}

TEST_F(UserList, NewAndAddAppendWithoutChecksOrKeys)
{
    ComPtr<IKalvoraUser> dup;
    ASSERT_EQ(S_OK, users_->New(&dup));
    EXPECT_EQ(UserView(L"", false), View(dup.Get()));
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

}  // namespace
}  // namespace kalvora::test
