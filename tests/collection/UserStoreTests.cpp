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


// Adding users: each computer is a set of folders reached over its drive shares.
class AddUsers : public UserStore {
protected:
    void SetUp() override
    {
        UserStore::SetUp();
        Load();
        Domain(nullptr, L"CORP", "");
        DeleteTree(kHklm, L"Software\\KalvoraTest\\Network\\Reachable");  // computers of other tests
    }
    // The users the collection holds, as "name@computer[desktop|documents|favorites]".
    std::wstring Added()
    {
        Texts users;
        for (int i = 0, n = _wtoi(Do(L"GetCount").c_str()); i < n; ++i) {
            ComPtr<IKalvoraUser> user = Find(Do(L"NextUser"));
            users.push_back(Call(user.Get(), L"Name") + L"@" + Call(user.Get(), L"Computer") + L"[" +
                            Call(user.Get(), L"MyDesktop") + L"|" + Call(user.Get(), L"MyDocuments") + L"|" +
                            Call(user.Get(), L"MyFavorites") + L"]");
        }
        return Join(users, L";");
    }
};

// The user's desktop, documents and favorites folders below one profile directory.
std::wstring Three(const std::wstring& profile)
{
    return profile + L"\\Desktop|" + profile + L"\\My Documents|" + profile + L"\\Favorites";
}

TEST_F(AddUsers, PopulateMyComputerFindsTheProfileFoldersOfEachLayout)
{
    // The computer's folders, the computer as the user names it, and the three folders found.
    const std::tuple<Texts, std::wstring, std::wstring> cases[] = {
        {{L"C$/windows", L"C$/Documents and Settings/u.CORP"}, L"P1", Three(L"\\\\P1\\C$\\Documents and Settings\\u.CORP")},
        {{L"C$/windows", L"C$/Documents and Settings/u"}, L"\\\\P2", Three(L"\\\\P2\\C$\\Documents and Settings\\u")},
        {{L"D$/windows", L"D$/Documents and Settings"}, L"//P3",  // neither profile: the plain path, no suffix
         L"//P3\\D$\\Documents and Settings\\u|//P3\\D$\\Documents and Settings\\u|//P3\\D$\\Documents and Settings\\u"},
        {{L"D$/winnt/Profiles/u"}, L"P4", Three(L"\\\\P4\\D$\\Winnt\\Profiles\\u")},
        {{L"C$/winnt", L"C$/Documents and Settings/u.CORP"}, L"P5", Three(L"\\\\P5\\C$\\Documents and Settings\\u.CORP")},
        {{L"A$/winnt"}, L"P6", L"old|old|old"},  // "winnt" is not looked for on A
        {{L"A$/winnt", L"A$/windows"}, L"P7",  // the shared folders stand in for missing per-user ones
         L"\\\\P7\\A$\\Windows\\Desktop|\\\\P7\\A$\\My Documents|\\\\P7\\A$\\Windows\\Favorites"},
        {{L"C$/windows", L"E$/winnt/Profiles/u"}, L"P8", Three(L"\\\\P8\\E$\\Winnt\\Profiles\\u")},
        {{L"C$/windows/Profiles/u/Desktop", L"C$/windows/Profiles/u/My Documents", L"C$/windows/Profiles/u/Favorites"},
         L"P9", Three(L"\\\\P9\\C$\\Windows\\Profiles\\u")},
        {{L"C$/windows", L"C$/Documents and Settings/u"}, L"Q1", L"old|old|old"},  // not reachable
    };
    for (const auto& [folders, computer, found] : cases) {
        const std::wstring name = computer.substr(computer.find_first_not_of(L"\\/"));
        Folders(name, folders);
        if (name != L"Q1")
            Reachable(name);
        ComPtr<IKalvoraUser> user;
        ASSERT_EQ(S_OK, users_->New(&user));
        for (const std::wstring& put : Texts{L"Name=u", L"MyDesktop=old", L"MyDocuments=old", L"MyFavorites=old", L"MyRecent=r",
                                        L"Computer=" + computer, L"PopulateMyComputer"})
            EXPECT_EQ(L"", Call(user.Get(), put));
        EXPECT_EQ(found + L"|r|" + computer, Call(user.Get(), L"MyDesktop") + L"|" + Call(user.Get(), L"MyDocuments") + L"|" +
                                                 Call(user.Get(), L"MyFavorites") + L"|" + Call(user.Get(), L"MyRecent") + L"|" +
                                                 Call(user.Get(), L"Computer"));
    }
}

TEST_F(AddUsers, AddUserFillsAndAppendsAUserThatItCannotWrite)
{
    Folders(L"A1", {L"C$/windows", L"C$/Documents and Settings/jdoe.CORP"});
    for (const wchar_t* computer : {L"A1", L"A2"})
        Reachable(computer);
    // Each returns the failure of writing the user, and appends the user all the same.
    ExpectCalls(users_.Get(), {{L"AddUser|jdoe|box|A1|1", L"!E_FAIL"}, {L"AddUser|<null>|<null>|//A2|7", L"!E_FAIL"},
                               {L"AddUser|k||\\\\A3|0", L"!E_FAIL"}, {L"AddUser|e|x||-1", L"!E_FAIL"}});
    EXPECT_EQ(L"jdoe@\\\\A1[" + Three(L"\\\\A1\\C$\\Documents and Settings\\jdoe.CORP") + L"];@//A2[||];k@\\\\A3[||];e@[||]",
              Added());
    EXPECT_EQ(L"!E_FAIL", Do(L"AddUser|jdoe|||1"));  // the same name again: a second entry
    EXPECT_EQ(L",jdoe,,k,e,jdoe", Walk());
    Reported({L"Error WriteToRegistry: user: (jdoe)", L"Error WriteToRegistry: user: ((null))", L"Error WriteToRegistry: user: (k)",
              L"Error WriteToRegistry: user: (e)", L"Error WriteToRegistry: user: (jdoe)"});
    ComPtr<IKalvoraUser> jdoe = Find(L"jdoe");
    EXPECT_EQ(L"standard|box|1|||", Join({Call(jdoe.Get(), L"SecurityLevel"), Call(jdoe.Get(), L"Mailbox"), Call(jdoe.Get(), L"IsNetwork"),
                                          Call(jdoe.Get(), L"MyComputer"), Call(jdoe.Get(), L"MyNetwork"), Call(jdoe.Get(), L"MyRecent")}, L"|"));

}

TEST_F(AddUsers, ImportFileAddsFields6And8OfEachRecordAfterTheHeading)
{
    const std::string big(1 << 20, 'x');
    // The file's bytes, and the Check it gives with the users added, as "name@computer".
    const std::pair<std::string, std::wstring> cases[] = {
        {"h,e,a,d,i,n,g,s,\n", L"0:"},
        {"h\n1,2,3,4,5,jdoe,7,PC1,9\n1,2,3,4,5,asmith,7,PC2,\n", L"2:jdoe@\\\\PC1;asmith@\\\\PC2"},
        {"h\na,b,c,d,e, j d ,g,\"PC 3\",\n", L"1: j d @\\\\\"PC 3\""},       // blanks and quotes kept
        {"h\n1,2,3,4,5,six,7,eight\n1,2,3,4,5,six,7\n1,2,3,4,5\n", L"3:six@;six@;@"},  // fewer than eight commas
        {"h\n1,2,3,4,5,n,7,c,\n1,2,3,4,5,m,7,d,", L"2:n@\\\\c;m@\\\\d"},    // no final line feed
        {"h\n1,2,3,4,5,n,7,c,\n\n", L"2:n@\\\\c;@"},                       // two final line feeds
        {"h\r\n1,2,3,4,5,n,7,c,\r\n1,2,3,4,5,m,7,d\r,\r", L"2:n@\\\\c;m@\\\\d\r"},  // CR LF; other CRs stay
        {"", L"-1:"}, {big + ",2,3,4,5,big,7,c,\n" + big + ",,,,,b,,c,\n", L"1:b@\\\\c"},  // 1 MB lines
        {"h\n1,2,3,4,5,J\xE9r\xF4me,7,\xFF,\n", L"1:J\u00E9r\u00F4me@\\\\\u00FF"},      // bytes above 0x7F
    };
    for (const auto& [bytes, expected] : cases) {
        Load();
        const std::wstring file = TempFile(L"import.csv", bytes);
        Texts users, events;
        const std::wstring check = Do(L"ImportFile|" + file);
        for (int i = 0, n = _wtoi(Do(L"GetCount").c_str()); i < n; ++i) {
            ComPtr<IKalvoraUser> user = Find(Do(L"NextUser"));
            users.push_back(Call(user.Get(), L"Name") + L"@" + Call(user.Get(), L"Computer"));
            events.push_back(L"Error WriteToRegistry: user: (" + Call(user.Get(), L"Name") + L")");
        }
        EXPECT_EQ(expected, check + L":" + Join(users, L";"));
        Reported(events);
    }
    const std::wstring file = TempFile(L"import.csv", "");
    DeleteFileW(file.c_str());
    ExpectCalls(users_.Get(), {{L"ImportFile|" + file, L"-2"}, {L"ImportFile|", L"-2"}, {L"ImportFile|<null>", L"-2"}});
}

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
