// The user collection: its load from the users key, the list and its cursor,
// adding and importing users, the computer check, and the directory lists.
// Steps are calls as Expect (tests/support) makes them: "call => outcome".
#include <gtest/gtest.h>

#include "support/FaultHook.h"
#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

std::wstring Written(const std::wstring& name) { return L"C000000B Error WriteToRegistry: user: (" + name + L")"; }
std::wstring NoItem(const std::wstring& name)
{
    return L"C000000B Item.  Tried to get user object: (" + name + L"), which dose not exist";
}
std::wstring NoUser(const std::wstring& name) { return L"C000000B Remove. User (" + name + L") does not exist"; }
std::wstring Exists(const std::wstring& name) { return L"C000000B Add User. (" + name + L"), allready exists"; }
const std::wstring kDeleteFailed = L"C000000B RegDeleteKey failed";
std::wstring TempDir()
{
    wchar_t temp[MAX_PATH];
    return std::wstring(temp, GetTempPathW(MAX_PATH, temp));
}

class Users : public ModuleTest {
protected:
    Users() { file_ = L"collection/EnumKalvoraUser.cpp"; }
    // The collection, loaded from the store as it is now.
    void Load() { users_ = Create<IEnumKalvoraUser>(CLSID_EnumKalvoraUser); }
    void Steps(const std::wstring& steps) { Expect(users_.Get(), steps); }
    // A property of the listed user of that name.
    std::wstring Of(const std::wstring& name, const wchar_t* property)
    {
        ComPtr<IKalvoraUser> user;
        HRESULT hr = users_->Item(B(name).Get(), &user);
        return FAILED(hr) ? Outcome(hr) : Call(user.Get(), property);
    }
    void Key(const std::wstring& name) { CreateKey(HKEY_LOCAL_MACHINE, kUsers + L"\\" + name); }
    void Value(const std::wstring& user, const wchar_t* name, const std::wstring& data)
    {
        SetString(HKEY_LOCAL_MACHINE, kUsers + L"\\" + user, name, data);
    }
    ComPtr<IEnumKalvoraUser> users_;
};

TEST_F(Users, TheLoadReadsEachUsersKeyAndItsEightValuesByTheirExactNames)
{
    for (const wchar_t* name : {L"carol", L"alice", L"%s%n", L"empty", L"dave\\child"})
        Key(name);
    Key(std::wstring(99, L'k'));  // the longest name the load takes
    const wchar_t* const values[] = {L"Computer",     L"My Computer", L"My Desktop",     L"My Documents",
                                     L"My Favorites", L"My Network",  L"Security Level", L"NetWork Enable"};
    for (const wchar_t* value : values) {
        Value(L"%s%n", value, value[0] == L'N' ? L"4" : value);
        Value(L"dave\\child", value, L"x");
    }
    for (const wchar_t* other : {L"My Recent", L"Mailbox", L"computer "})
        Value(L"dave", other, L"x");
    Load();
    Steps(
        L"GetCount => 6\nNextUser => %s%n\nNextUser => alice\nNextUser => carol\nNextUser => dave\nNextUser => empty\n"
        L"NextUser => " +
        std::wstring(99, L'k'));
    Texts got, dave;
    for (const wchar_t* p : {L"Computer", L"MyComputer", L"MyDesktop", L"MyDocuments", L"MyFavorites", L"MyNetwork",
                             L"SecurityLevel", L"IsNetwork", L"Name", L"MyRecent", L"Mailbox"}) {
        got.push_back(Of(L"%s%n", p));
        dave.push_back(Of(L"dave", p));
    }
    Texts expected(values, values + 7);
    expected.insert(expected.end(), {L"4", L"%s%n", L"", L""});
    EXPECT_EQ(expected, got);
    EXPECT_EQ((Texts{L"", L"", L"", L"", L"", L"", L"", L"0", L"dave", L"", L""}), dave);
}

// A value of another type is read as text of its stored length up to a NUL,
// 1040 bytes at most (a longer one reads as empty); the next value still reads.
TEST_F(Users, ValuesOfOtherTypesOrOverTheirLimitReadAsText)
{
    struct Row {
        const wchar_t* value;
        DWORD type;
        std::wstring data;  // stored without a terminator
        const wchar_t* property;
        std::wstring read;
    };
    const Row rows[] = {
        {L"NetWork Enable", REG_DWORD, std::wstring(L"1\0", 2), L"IsNetwork", L"1"},  // 49
        {L"NetWork Enable", REG_DWORD, std::wstring(L"\7\0", 2), L"IsNetwork", L"0"},
        {L"NetWork Enable", REG_SZ, L"\t+12abc", L"IsNetwork", L"12"},
        {L"NetWork Enable", REG_SZ, L"true", L"IsNetwork", L"0"},
        {L"NetWork Enable", REG_SZ, L"-99999999999", L"IsNetwork", L"-2147483648"},
        {L"Security Level", REG_DWORD, std::wstring(L"A\0", 2), L"SecurityLevel", L"A"},
        {L"My Network", REG_BINARY, L"Q", L"MyNetwork", L"Q"},
        {L"My Network", REG_SZ, std::wstring(L"ab\0cd", 5), L"MyNetwork", L"ab"},
        {L"My Desktop", REG_EXPAND_SZ, L"%SystemRoot%\\x", L"MyDesktop", L"%SystemRoot%\\x"},
        {L"My Favorites", REG_SZ, std::wstring(520, L'f'), L"MyFavorites", std::wstring(520, L'f')},
        {L"My Favorites", REG_SZ, std::wstring(521, L'f'), L"MyFavorites", L""},
        {L"Computer", REG_SZ, std::wstring(32768, L'h'), L"Computer", L""},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const std::wstring key = kUsers + L"\\v" + std::to_wstring(i),
                           data = rows[i].data + L"#";  // "#": no terminator
        SetRaw(HKEY_LOCAL_MACHINE, key, rows[i].value, rows[i].type, data.c_str(), DWORD(rows[i].data.size() * 2));
        Value(L"v" + std::to_wstring(i), rows[i].value[0] == L'S' ? L"My Computer" : L"Security Level", L"after");
    }
    Load();
    for (size_t i = 0; i < std::size(rows); ++i) {
        const std::wstring name = L"v" + std::to_wstring(i);
        EXPECT_EQ(rows[i].read, Of(name, rows[i].property)) << "row " << i;
        EXPECT_EQ(L"after", Of(name, rows[i].value[0] == L'S' ? L"MyComputer" : L"SecurityLevel")) << "row " << i;
    }
}

// A subkey name of 100 characters ends the load: the entries it leaves empty
// count, and NextUser passes over them with E_FAIL.
TEST_F(Users, ANameTooLongForTheLoadEndsIt)
{
    const std::wstring m(99, L'm');
    for (const std::wstring name : {std::wstring(L"a"), m, std::wstring(100, L'n'), std::wstring(L"z")})
        Key(name);
    Load();
    Steps(L"GetCount => 4\nNextUser => a\nNextUser => " + m +
          L"\nNextUser => !E_FAIL\nNextUser => !E_FAIL\nNextUser => a\nItem|z => !E_FAIL\nRemove|a\nClearKeys => "
          L"!E_FAIL");
    ExpectEvents({L"C000000B Error using RegEnumKeyEx", NoItem(L"z"), NoUser(m)});
    EXPECT_EQ((Texts{L"Users\\" + std::wstring(100, L'n'), L"Users\\z"}), Store());
}

// New and Add append the same object twice, without checks or keys; the
// cursor stays. Lookups find the loaded user first, and Remove drops that
// entry only. The users outlive the collection.
TEST_F(Users, NewAndAddAppendWithoutChecksAndRemoveDropsTheFirstMatch)
{
    for (const wchar_t* name : {L"Carol", L"Alice", L"Bob"})
        Key(name);
    Load();
    Steps(L"NextUser => Alice");
    ComPtr<IKalvoraUser> added;
    ASSERT_EQ(S_OK, users_->New(&added));
    Expect(added.Get(), L"Name=Alice\nComputer=added");
    ASSERT_EQ(S_OK, users_->Add(added.Get()));
    ASSERT_EQ(S_OK, users_->Add(added.Get()));
    Steps(
        LR"(NextUser => Bob
              NextUser => Carol
              NextUser => Alice
              NextUser => Alice
              GetCount => 5
              Item|Alice => {Alice})");
    EXPECT_EQ(L"", Of(L"Alice", L"Computer"));
    Steps(L"Remove|Alice\nReset\nNextUser => Bob\nGetCount => 4");
    EXPECT_EQ(L"added", Of(L"Alice", L"Computer"));
    users_.Reset();
    EXPECT_EQ(L"Alice", Call(added.Get(), L"Name"));
    EXPECT_EQ((Texts{L"Users\\Bob", L"Users\\Carol"}), Store());
}

// Remove drops the entry and its key but not the cursor (Bob moves into the
// place it has passed); ClearKeys deletes the listed keys and keeps the
// list. A key made after the load stays.
TEST_F(Users, RemoveAndClearKeysDeleteTheKeysOfListedUsers)
{
    for (const wchar_t* name : {L"Carol", L"Alice", L"Bob"})
        Key(name);
    Load();
    Key(L"Dave");
    Steps(
        LR"(NextUser => Alice
              Remove|Alice
              NextUser => Carol
              NextUser => Bob
              Item|Alice => !E_FAIL
              ClearKeys
              GetCount => 2
              Item|Carol => {Carol}
              Remove|Bob => !E_FAIL
              ClearKeys => !E_FAIL)");
    ExpectEvents({NoItem(L"Alice"), kDeleteFailed, NoUser(L"Carol")});
    EXPECT_EQ(Texts{L"Users\\Dave"}, Store());
}

// An empty list, and entries that are no user. A failing NextUser leaves its
// out value alone.
TEST_F(Users, AnEmptyListAndEntriesWithoutAUser)
{
    Load();
    Steps(
        LR"(NextUser => !E_FAIL
              GetCount => 0
              ClearKeys
              Add|#obj => !0x80004002
              Add|x => !0x80020005
              New|x => !0x80020005
              GetCount => 0
              Add|#nothing
              GetCount => 1
              NextUser => !E_FAIL
              NextUser=x => !0x80020003)");
    IKalvoraUser* user = reinterpret_cast<IKalvoraUser*>(INT_PTR(8));
    EXPECT_EQ(E_FAIL, users_->Item(B(L"x").Get(), &user));
    EXPECT_EQ(nullptr, user) << "an unknown name clears the out pointer";
    BSTR out = reinterpret_cast<BSTR>(INT_PTR(8));
    EXPECT_EQ(E_FAIL, users_->get_NextUser(&out));
    EXPECT_EQ(reinterpret_cast<BSTR>(INT_PTR(8)), out);
    EXPECT_EQ(E_FAIL, users_->ClearKeys());
    ExpectEvents({NoItem(L"x"), NoUser(L"(null)")});
}

// Names match exactly over their whole length, up to a NUL; events show them
// literally, with escapes for a backslash and control characters.
TEST_F(Users, NamesMatchExactlyAndEventsShowThemLiterally)
{
    Key(L"Alice");
    Load();
    const std::pair<std::wstring, std::wstring> names[] = {{L"alice", L"alice"},
                                                           {L"Alic", L"Alic"},
                                                           {L"%n%s%x", L"%n%s%x"},
                                                           {std::wstring(L"Alice\0x", 7), L"Alice"},
                                                           {L"a\\b\tc\rd\ne", L"a\\\\b\\tc\\rd\\ne"},
                                                           {std::wstring(100000, L'x'), std::wstring(100000, L'x')}};
    Texts events;
    for (const auto& [name, shown] : names) {
        EXPECT_EQ(L"!E_FAIL", Call(users_.Get(), L"Item|" + name));
        EXPECT_EQ(L"!E_FAIL", Call(users_.Get(), L"Remove|" + name));
        events.insert(events.end(), {NoItem(shown), NoUser(shown)});
    }
    EXPECT_EQ(E_FAIL, users_->Remove(nullptr));
    events.push_back(NoUser(L"(null)"));
    ExpectEvents(events);
    EXPECT_EQ(Texts{L"Users\\Alice"}, Store());
}

// Remove and ClearKeys delete a key only where the name can be a key name of
// its own: an empty name or one with a backslash would address the users key
// itself or a key further down.
TEST_F(Users, NamesThatAreNoKeyNameOfTheirOwnDeleteNothing)
{
    Key(L"Alice");
    Value(L"Bob\\sub", L"x", L"x");
    Load();
    Steps(
        LR"(AddUser||||0 => !E_FAIL
              AddUser|Bob\sub|||0 => !E_FAIL
              Remove| => !E_FAIL
              Remove|Bob\sub => !E_FAIL
              ClearKeys => !E_FAIL
              GetCount => 4)");
    ExpectEvents({Written(L""), Written(L"Bob\\\\sub"), kDeleteFailed, kDeleteFailed, NoUser(L"Bob\\\\sub")});
    EXPECT_EQ((Texts{L"Users\\Bob", L"Users\\Bob\\sub", L"Users\\Bob\\sub:x=x" + std::wstring(1, 0)}), Store());
}

// AddUser appends a user with any name, mailbox and computer (as a UNC name),
// each up to a NUL, and returns the failure of writing it; arguments without
// a text form add nothing. Its profile folders are looked up on the way.
TEST_F(Users, AddUserAppendsTheUserItCannotWrite)
{
    Folders(L"A1", {L"C$/windows", L"C$/Documents and Settings/jdoe.CORP"});
    Reachable(L"A1");
    Domain(nullptr, L"CORP");
    Load();
    const std::wstring big(100000, L'x');
    Steps(
        LR"(AddUser|jdoe|box|A1|1 => !E_FAIL
              AddUser|%s%n|%s|//%n|-1 => !E_FAIL
              AddUser|n|||2147483648 => !0x8002000A
              AddUser|#null|||1 => !0x80020005
              AddUser|n|#obj||1 => !0x80020005)");
    EXPECT_EQ(L"!E_FAIL", Call(users_.Get(), L"AddUser|" + big + L"|||0"));
    EXPECT_EQ(L"!E_FAIL", Call(users_.Get(), std::wstring(L"AddUser|a\0b|m\0n|\0PC|1", 21)));
    EXPECT_EQ(E_FAIL, users_->AddUser(nullptr, nullptr, nullptr, 7));
    EXPECT_EQ((Texts{L"\\\\A1\\C$\\Documents and Settings\\jdoe.CORP\\Desktop", L"\\\\A1", L"box", L"1", L"standard",
                     L"//%n", L"%s", L"-1", L"\\\\", L"m", L"", L"7", L"5"}),
              (Texts{Of(L"jdoe", L"MyDesktop"), Of(L"jdoe", L"Computer"), Of(L"jdoe", L"Mailbox"),
                     Of(L"jdoe", L"IsNetwork"), Of(L"jdoe", L"SecurityLevel"), Of(L"%s%n", L"Computer"),
                     Of(L"%s%n", L"Mailbox"), Of(L"%s%n", L"IsNetwork"), Of(L"a", L"Computer"), Of(L"a", L"Mailbox"),
                     Of(L"", L"Computer"), Of(L"", L"IsNetwork"), Call(users_.Get(), L"GetCount")}));
    ExpectEvents({Written(L"jdoe"), Written(L"%s%n"), Written(big), Written(L"a"), Written(L"(null)")});
    EXPECT_EQ(Texts{}, Store());
}

// AddUserDB takes variables by reference and converts all eight to text
// before it creates anything; only "true" enables the network.
TEST_F(Users, AddUserDBTakesVariablesAsText)
{
    Load();
    Steps(
        LR"(AddUserDB|&u|&PC|&c|&d|&o|&f|&true|&s => !E_FAIL
              AddUserDB|&T|&c|&c|&c|&c|&c|&True|&s => !E_FAIL
              AddUserDB|&#i4|&#i4|&c|&c|&c|&c|&1|&#empty => !E_FAIL
              AddUserDB|a|b|c|d|e|f|true|h => !E_INVALIDARG
              AddUserDB|&a|b|&c|&c|&c|&c|&c|&c => !E_INVALIDARG
              AddUserDB|&a|&a|&a|&a|&a|&a|&a|&#null => !0x80020005
              AddUserDB|&a|&a|&a|&a|&a|&a|&a|&#obj => !0x80020005
              AddUserDB|&#nothing|&a|&a|&a|&a|&a|&a|&a => !0x80020008
              AddUserDB|&a => !0x8002000E
              GetCount => 3)");
    Texts got;
    for (const wchar_t* p : {L"IsNetwork", L"Computer", L"MyComputer", L"MyDesktop", L"MyDocuments", L"MyFavorites",
                             L"SecurityLevel", L"Mailbox", L"MyNetwork", L"MyRecent"})
        got.push_back(Of(L"u", p));
    EXPECT_EQ((Texts{L"1", L"PC", L"c", L"d", L"o", L"f", L"s", L"", L"", L""}), got);
    EXPECT_EQ((Texts{L"0", L"7", L"0", L""}), (Texts{Of(L"T", L"IsNetwork"), Of(L"7", L"Computer"),
                                                     Of(L"7", L"IsNetwork"), Of(L"7", L"SecurityLevel")}));
}

// ImportFile: field 6 (the name) and field 8 (the computer) of each line after
// the heading, read as bytes of one character each, a line ending at a line
// feed (a carriage return before it going with it), the file at a Ctrl-Z.
TEST_F(Users, ImportFileAddsARecordPerLineAfterTheHeading)
{
    auto utf16 = [](const std::wstring& t) {
        return std::string(reinterpret_cast<const char*>(t.data()), t.size() * 2);
    };
    std::string bytes;
    for (int b = 0; b < 512; ++b)
        bytes += char(b);
    const std::tuple<std::string, const wchar_t*, Texts> rows[] = {
        // the file, the answer, users' names and computers
        {"h,e,a,d,i,n,g,s,\n", L"0", {}},
        {"", L"-1", {}},
        {"\x1Ah\n1,2,3,4,5,n,7,c,\n", L"-1", {}},
        {"h\n1,2,3,4,5,jdoe,7,PC1,9\n1,2,3,4,5,asmith,7,PC2,\n", L"2", {L"jdoe", L"\\\\PC1", L"asmith", L"\\\\PC2"}},
        {"h\na,b,c,d,e, j d ,g,\"PC 3\",\n", L"1", {L" j d ", L"\\\\\"PC 3\""}},
        {"h\n1,2,3,4,5,six,7,eight\n1,2,3,4,5,seven,7\n1,2,3,4,5\n", L"3", {L"six", L"", L"seven", L"", L"", L""}},
        {"h\r\n1,2,3,4,5,n,7,c,\r\n1,2,3,4,5,m,7,d\r,\r", L"2", {L"n", L"\\\\c", L"m", L"\\\\d\r"}},
        {"h\n1,2,3,4,5,n,7,c,\n1,2,3,4,5,m,7,d,\x1A\n1,2,3,4,5,x,7,e,\n", L"2", {L"n", L"\\\\c", L"m", L"\\\\d"}},
        {"h\n1,2,3,4,5,J\xE9r\xF4me,7,\xFF,\n", L"1", {L"J\u00E9r\u00F4me", L"\\\\\u00FF"}},
        {bytes, L"1", {L"", L""}},
        {"\xFF\xFE" + utf16(L"h\r\n1,2,3,4,5,jdoe,7,PC1,\r\n"), L"2", {L"", L"\\\\", L"", L"\\\\"}},
        {"h\n" + std::string(100000, 'x') + ",2,3,4,5,big,7,PC,\n", L"1", {L"big", L"\\\\PC"}},
    };
    for (const auto& [file, answer, users] : rows) {
        const std::wstring path = TempFile(L"in.csv", file);
        Load();
        EXPECT_EQ(answer, Call(users_.Get(), L"ImportFile|" + path)) << file.substr(0, 40);
        Texts got, events;
        for (size_t i = 0; i + 1 < users.size(); i += 2) {
            got.insert(got.end(), {Call(users_.Get(), L"NextUser"), Of(users[i], L"Computer")});
            events.push_back(Written(users[i]));
        }
        EXPECT_EQ(users, got) << file.substr(0, 40);
        EXPECT_EQ(std::to_wstring(users.size() / 2), Call(users_.Get(), L"GetCount"));
        ExpectEvents(events);
        DeleteFileW(path.c_str());
    }
}

TEST_F(Users, ImportFileOfAPathThatNamesNoFileGivesMinusTwo)
{
    const std::wstring dir = TempDir(), file = TempFile(L"one.csv", "h\n1,2,3,4,5,u,7,PC,\n");
    Load();
    for (const std::wstring path :
         {std::wstring(), dir, dir + L"none.csv", std::wstring(100000, L'x'), dir + std::wstring(260, L'x'),
          file + std::wstring(1, 0) + L"x", std::wstring(L"NUL")})
        EXPECT_EQ(L"-2", Call(users_.Get(), L"ImportFile|" + path));
    LONG check = 0;
    EXPECT_EQ(S_OK, users_->ImportFile(nullptr, &check));
    EXPECT_EQ(-2, check);
    Steps(L"ImportFile|#null => !0x80020005\nGetCount => 0");
    DeleteFileW(file.c_str());
}

// Out of memory ends the import, with the records handed to AddUser so far
// in Check: never fewer than the users it added, never -1 for a file that
// has its heading. The n-th allocation fails, for every n the import makes.
TEST_F(Users, ImportFileCountsTheRecordsItHandledWhenMemoryRunsOut)
{
    const std::wstring file = TempFile(L"oom.csv", "h\n1,2,3,4,5,a,7,PC,\n1,2,3,4,5,b,7,PC,\n");
    const HMODULE module = GetModuleHandleW(L"KalvoraAdminUser.dll");
    const auto failCall = Export<FailCallFn>(module, "KalvoraTestFailCall");
    const auto calls = Export<CallsFn>(module, "KalvoraTestCalls");
    ASSERT_TRUE(failCall && calls);
    leaks_.IgnoreHandles();  // the handles of each failure: tests/load
    LONG check = 0, count = 0;
    for (LONG n = 1, reached = 1; reached >= n - 1; ++n) {  // until a run reaches no n-th allocation
        Load();
        failCall(kFaultAlloc, n, 0);
        EXPECT_EQ(S_OK, users_->ImportFile(B(file).Get(), &check));
        reached = calls(kFaultAlloc, nullptr);
        failCall(kFaultAlloc, 0, 0);
        ASSERT_EQ(S_OK, users_->GetCount(&count));
        EXPECT_TRUE(count <= check && check <= 2)
            << "allocation " << n << ": " << check << " for " << count << " users";
        TakeEvents();
    }
    EXPECT_EQ(2, check) << "without a failure";
    DeleteFileW(file.c_str());
}

// CheckComputer: flags for a user's name (empty, or listed: letter case
// counts) and a computer (empty, or not answering; C1 answers), asked of the
// network in its UNC form.
TEST_F(Users, CheckComputerAnswersForANameAndAComputer)
{
    Reachable(L"C1");
    const std::wstring log = TempFile(L"network.log", ""), x520(520, L'x');
    SetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KalvoraTest\\Network", L"Log", log);
    Load();
    Steps(L"AddUser|Alice|||1 => !E_FAIL\nAddUser|Alice|||1 => !E_FAIL\nAddUser||||1 => !E_FAIL\nAddUser|" + x520 +
          LR"(|||1 => !E_FAIL
              CheckComputer|New|C1 => 0
              CheckComputer|alice|\\C1 => 0
              CheckComputer|Alice|Q1 => -10
              CheckComputer|| => -5
              CheckComputer||//C1 => -1
              CheckComputer|New| => -4
              CheckComputer|New|Q1 => -8
              CheckComputer||Q1 => -9
              CheckComputer|%s%n|%n => -8
              CheckComputer|#null|x => !0x80020005
              CheckComputer|)" +
          x520 + L"| => -6");
    LONG check = 0;
    EXPECT_EQ(S_OK, users_->CheckComputer(nullptr, B(L"C1").Get(), &check));
    EXPECT_EQ(-2, check) << "a null name matches the empty one";
    TakeLines(log);
    Steps(L"CheckComputer|a|C1 => 0\nCheckComputer|a|\\\\C1 => 0\nCheckComputer|a|//C1 => 0");
    EXPECT_EQ(S_OK, users_->CheckComputer(B(L"a").Get(), nullptr, &check));
    EXPECT_EQ((Texts{L"\\\\C1", L"\\\\C1", L"//C1", L""}), TakeLines(log));
    ExpectEvents({Written(L"Alice"), Written(L"Alice"), Written(L""), Written(x520), Exists(L"Alice"), Exists(L"Alice"),
                  Exists(x520), Exists(L"(null)")});
}

// Every out parameter refuses a null pointer, and the call does nothing.
TEST_F(Users, NullOutPointersChangeNothing)
{
    Key(L"a");
    Key(L"b");
    const std::wstring file = TempFile(L"null.csv", "h\n1,2,3,4,5,c,7,PC,\n");
    Load();
    EXPECT_EQ(E_POINTER, users_->New(nullptr));
    EXPECT_EQ(E_POINTER, users_->Item(B(L"a").Get(), nullptr));
    EXPECT_EQ(E_POINTER, users_->GetCount(nullptr));
    EXPECT_EQ(E_POINTER, users_->get_NextUser(nullptr));
    EXPECT_EQ(E_POINTER, users_->GetDomainUserCount(B(L"a").Get(), nullptr));
    EXPECT_EQ(E_POINTER, users_->GetDomainUserName(0, nullptr));
    EXPECT_EQ(E_POINTER, users_->CheckComputer(B(L"a").Get(), B(L"a").Get(), nullptr));
    EXPECT_EQ(E_POINTER, users_->GetUserGroupCount(nullptr));
    EXPECT_EQ(E_POINTER, users_->GetUserGroupName(0, nullptr));
    EXPECT_EQ(E_POINTER, users_->ImportFile(B(file).Get(), nullptr));
    Steps(L"NextUser => a\nGetCount => 2");
    DeleteFileW(file.c_str());
}

// Keys that refuse access: the load reports it and lists what it read.
TEST_F(Users, KeysThatRefuseAccessEndTheLoad)
{
    Value(L"a", L"Computer", L"a");
    Value(L"b", L"Computer", L"b");
    Key(L"c");
    const std::pair<const wchar_t*, const wchar_t*> denials[] = {
        {L"", L"D:P(A;;KRWDRCSD;;;WD)"}, {L"", L"D:P(A;;KWWDRCSD;;;WD)"}, {L"\\b", L"D:P(A;;KWWDRCSD;;;WD)"}};
    for (const auto& [key, sddl] : denials) {
        auto held = Restrict(HKEY_LOCAL_MACHINE, kUsers + key, sddl);
        Load();
        EXPECT_EQ(*key ? L"3" : L"0", Call(users_.Get(), L"GetCount")) << Narrow(sddl);
    }
    Steps(L"NextUser => a\nNextUser => b\nNextUser => !E_FAIL");
    EXPECT_EQ((Texts{L"a", L""}), (Texts{Of(L"a", L"Computer"), Of(L"b", L"Computer")}));
    ExpectEvents({L"C000000B Error creating registry key", L"C000000B Error opening registry key",
                  L"C000000B RegOpenKeyEx Failed"});
}

// The directory lists: the paths bound come from the domain's DNS name and
// the unit asked for.
TEST_F(Users, DirectoryListsBindTheDomainsPaths)
{
    const std::tuple<const wchar_t*, const wchar_t*, Texts> rows[] = {
        {L"a.b.c", L"", {L"bind LDAP://a/CN=Users,DC=a,DC=b,DC=c", L"bind LDAP://a/DC=a,DC=b,DC=c"}},
        {L"a.b.c",
         L"East,OU=Sales",
         {L"bind LDAP://a/OU=East,OU=Sales,DC=a,DC=b,DC=c", L"bind LDAP://a/DC=a,DC=b,DC=c"}},
        {L"..a..b.", L"", {L"bind LDAP://a/CN=Users,DC=a,DC=b,DC=", L"bind LDAP://a/DC=a,DC=b,DC="}},
        {nullptr, L"S", {L"bind LDAP:///OU=S,DC=", L"bind LDAP:///DC="}}};
    for (const auto& [dns, unit, bound] : rows) {
        Domain(dns, L"D");
        Load();
        Steps(L"GetDomainUserCount|" + std::wstring(unit) + L" => 0\nGetUserGroupCount => 0");
        EXPECT_EQ(bound, TakeLines(TempDir() + L"directory.log"));
    }
}

// Users are the user accounts with a text account name that are no groups,
// units the organizational units with a text name, in the directory's order.
// A failure before the enumerator gives 0 and keeps the last lists; an index
// outside a list gives E_INVALIDARG and a null string.
TEST_F(Users, DirectoryListsKeepTheLastListOnAFailure)
{
    Load();
    BSTR out = reinterpret_cast<BSTR>(INT_PTR(8));
    EXPECT_EQ(E_INVALIDARG, users_->GetDomainUserName(0, &out));
    EXPECT_EQ(nullptr, out);
    Domain(L"a.b", L"A", "support/directory.txt");
    Steps(
        LR"(GetDomainUserCount| => 3
              GetDomainUserCount|... => 3
              GetUserGroupCount => 2
              GetDomainUserCount|Filter => 0
              GetDomainUserCount|Enum => 0
              GetDomainUserCount|Missing => 0
              GetDomainUserCount|#null => !0x80020005
              GetDomainUserName|2147483648 => !0x8002000A)");
    SetRaw(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KalvoraTest\\ADSystemInfo", L"CreateResult", REG_DWORD, "\x05\x00\x07\x80",
           4);
    Steps(
        LR"(GetDomainUserCount| => 0
              GetUserGroupCount => 0
              GetDomainUserName|-1 => !E_INVALIDARG
              GetDomainUserName|0 => alice
              GetDomainUserName|1 => bob
              GetDomainUserName|2 => dave
              GetDomainUserName|3 => !E_INVALIDARG
              GetUserGroupName|0 => Sales
              GetUserGroupName|1 => East
              GetUserGroupName|2 => !E_INVALIDARG)");
}

}  // namespace
