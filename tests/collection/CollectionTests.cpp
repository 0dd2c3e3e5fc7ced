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
std::wstring NoUser(const std::wstring& name) { return L"C000000B Remove. User (" + name + L") does not exist"; }
const std::wstring kDeleteFailed = L"C000000B RegDeleteKey failed";

class Users : public ModuleTest {
protected:
    Users() { file_ = L"collection/EnumKalvoraUser.cpp"; }
    // The collection, loaded from the store as it is now.
    void Load() { users_ = Create<IEnumKalvoraUser>(CLSID_EnumKalvoraUser); }
    void Steps(const std::wstring& steps) { Expect(users_.Get(), steps); }
    // Properties (separated by spaces) of the listed user of that name, joined by "|".
    std::wstring Of(const std::wstring& name, const std::wstring& properties)
    {
        ComPtr<IKalvoraUser> user;
        users_->Item(B(name).Get(), &user);
        Texts got;
        for (const std::wstring& p : Split(properties, L' '))
            got.push_back(user ? Call(user.Get(), p) : L"none");
        return Join(got, L"|");
    }
    void Key(const std::wstring& name) { CreateKey(HKEY_LOCAL_MACHINE, kUsers + L"\\" + name); }
    void Value(const std::wstring& user, const wchar_t* name, const std::wstring& data)
    {
        SetString(HKEY_LOCAL_MACHINE, kUsers + L"\\" + user, name, data);
    }
    ComPtr<IEnumKalvoraUser> users_;
};

// Each user's key gives its name and its eight values by their exact names,
// read as text up to a NUL; a value over 1040 bytes reads as empty and the
// next one still reads. Keys are listed in registry order.
TEST_F(Users, TheLoadReadsEachUsersKeyAndItsValues)
{
    const Texts values =
        Split(L"Computer|My Computer|My Desktop|My Documents|My Favorites|My Network|Security Level", L'|');
    for (const std::wstring& value : values)
        Value(L"u", value.c_str(), value);
    Value(L"u", L"NetWork Enable", L"4");
    Value(L"v", L"My Favorites", std::wstring(521, L'f'));
    SetRaw(HKEY_LOCAL_MACHINE, kUsers + L"\\v", L"My Network", REG_BINARY, L"ab\0cd", 10);
    Load();
    Steps(L"GetCount => 2\nNextUser => u\nNextUser => v\nNextUser => u");
    EXPECT_EQ(Join(values, L"|") + L"|4",
              Of(L"u", L"Computer MyComputer MyDesktop MyDocuments MyFavorites MyNetwork SecurityLevel IsNetwork"));
    EXPECT_EQ(L"|ab", Of(L"v", L"MyFavorites MyNetwork"));
}

// A subkey name of 100 characters ends the load: the entries it leaves
// empty count, and NextUser passes over them with E_FAIL.
TEST_F(Users, ANameTooLongForTheLoadEndsIt)
{
    const std::wstring m(99, L'm');  // the longest name the load takes
    for (const std::wstring name : {std::wstring(L"a"), m, std::wstring(100, L'n')})
        Key(name);
    Load();
    Steps(L"GetCount => 3\nNextUser => a\nNextUser => " + m + L"\nNextUser => !E_FAIL\nNextUser => a");
    ExpectEvents({L"C000000B Error using RegEnumKeyEx"});
}

// New and Add append without checks or keys; lookups match the whole name
// in its letter case and find the first entry; Remove drops that entry and
// its key, not the cursor. An unknown name gives E_FAIL and a null user.
// ClearKeys deletes the keys of the listed users and keeps the list; one it
// cannot delete fails it, reported with the last name.
TEST_F(Users, AddAppendsAndRemoveDropsTheFirstMatchAndItsKey)
{
    for (const wchar_t* name : {L"Carol", L"Alice", L"Bob"})
        Key(name);
    Load();
    ComPtr<IKalvoraUser> added;
    ASSERT_EQ(S_OK, users_->New(&added));
    Expect(added.Get(), L"Name=Alice\nComputer=added");
    ASSERT_EQ(S_OK, users_->Add(added.Get()));
    Steps(LR"(NextUser => Alice
              NextUser => Bob
              Remove|Alice
              NextUser => Alice
              NextUser => Bob
              Reset
              NextUser => Bob
              GetCount => 3
              Remove|alice => !E_FAIL
              ClearKeys => !E_FAIL
              GetCount => 3)");
    EXPECT_EQ(L"added", Of(L"Alice", L"Computer"));
    IKalvoraUser* user = reinterpret_cast<IKalvoraUser*>(INT_PTR(8));
    EXPECT_EQ(E_FAIL, users_->Item(B(L"Dave").Get(), &user));
    EXPECT_EQ(nullptr, user);
    ExpectEvents({NoUser(L"alice"), NoUser(L"Alice"),
                  L"C000000B Item.  Tried to get user object: (Dave), which dose not exist"});
    EXPECT_EQ(Texts{}, Store());
}

// AddUser appends a user with the computer as a UNC name, the default
// security level and the profile folders of that computer, and returns the
// failure of writing it. A name that is no key name of its own (a
// backslash would address a key further down) has no key to remove.
// CheckComputer: -1 for an empty name, -2 for a listed one (in its letter
// case, reported per entry), -4 for an empty computer, -8 for one that does
// not answer, asked in its UNC form.
TEST_F(Users, AddUserAppendsTheUserItCannotWriteAndCheckComputerFindsIt)
{
    Folders(L"A1", {L"C$/windows", L"C$/Documents and Settings/jdoe.CORP"});
    Reachable(L"A1");
    Domain(nullptr, L"CORP");
    Value(L"b\\c", L"x", L"x");
    Load();
    Steps(LR"(AddUser|jdoe|box|A1|1 => !E_FAIL
              AddUser|jdoe|||0 => !E_FAIL
              AddUser|b\c|||-1 => !E_FAIL
              Remove|b\c => !E_FAIL
              GetCount => 4
              CheckComputer|Jdoe|A1 => 0
              CheckComputer|x|//A1 => 0
              CheckComputer|jdoe|Q1 => -10
              CheckComputer|| => -5)");
    EXPECT_EQ(L"\\\\A1\\C$\\Documents and Settings\\jdoe.CORP\\Desktop|\\\\A1|box|1|standard",
              Of(L"jdoe", L"MyDesktop Computer Mailbox IsNetwork SecurityLevel"));
    EXPECT_EQ(L"-1", Of(L"b\\c", L"IsNetwork"));
    const std::wstring exists = L"C000000B Add User. (jdoe), allready exists";
    ExpectEvents({Written(L"jdoe"), Written(L"jdoe"), Written(L"b\\\\c"), kDeleteFailed, exists, exists});
    EXPECT_EQ((Texts{L"Users\\b", L"Users\\b\\c", L"Users\\b\\c:x=x" + std::wstring(1, 0)}), Store());
}

// AddUserDB takes variables by reference and converts all eight to text
// before it creates anything; "true" enables the network.
TEST_F(Users, AddUserDBTakesVariablesAsText)
{
    Load();
    Steps(LR"(AddUserDB|&u|&PC|&c|&d|&o|&f|&true|&s => !E_FAIL
              AddUserDB|&a|b|&c|&c|&c|&c|&c|&c => !E_INVALIDARG
              AddUserDB|&a|&a|&a|&a|&a|&a|&a|&#nothing => !0x80020008
              GetCount => 1)");
    EXPECT_EQ(L"1|PC|c|d|o|f|s||",
              Of(L"u", L"IsNetwork Computer MyComputer MyDesktop MyDocuments MyFavorites SecurityLevel Mailbox "
                       L"MyRecent"));
}

// ImportFile: field 6 (the name) and field 8 (the computer) of each line
// after the heading, one byte a character; a line ends at a line feed (a
// carriage return before it goes with it), the file at a Ctrl-Z. The count:
// records added, -1 for an empty file, -2 when the path names no file.
TEST_F(Users, ImportFileAddsARecordPerLineAfterTheHeading)
{
    const std::wstring path =
        TempFile(L"in.csv", "h\r\n1,2,3,4,5,jdoe,7,PC1,9\r\n1,2,3,4,5,J\xE9,7,PC2\n,,,,,x,,c\r,\x1A\n,,,,,y,,d,\n");
    Load();
    Steps(L"ImportFile|" + path + L" => 3\nNextUser => jdoe\nNextUser => J\u00E9\nNextUser => x");
    EXPECT_EQ(L"\\\\PC1", Of(L"jdoe", L"Computer"));
    EXPECT_EQ(L"", Of(L"J\u00E9", L"Computer"));
    EXPECT_EQ(L"\\\\c\r", Of(L"x", L"Computer"));
    ExpectEvents({Written(L"jdoe"), Written(L"J\u00E9"), Written(L"x")});
    const std::wstring empty = TempFile(L"empty.csv", "");
    for (const std::wstring& name : {std::wstring(L"C:\\none.csv"), empty + L'\0' + L"x", empty})
        EXPECT_EQ(name == empty ? L"-1" : L"-2", Call(users_.Get(), L"ImportFile|" + name));
    Steps(L"GetCount => 3");
    DeleteFileW(path.c_str());
    DeleteFileW(empty.c_str());
}

// Out of memory ends the import, with the records handed to AddUser so far
// in Check: never fewer than the users it added, never -1 for a file that
// has its heading. The n-th allocation fails, for every n the import makes.
TEST_F(Users, ImportFileCountsTheRecordsItHandledWhenMemoryRunsOut)
{
    const std::wstring file = TempFile(L"oom.csv", "h\n,,,,,a,,PC,\n,,,,,b,,PC,\n");
    const auto failCall = Export<FailCallFn>(GetModuleHandleW(L"KalvoraAdminUser.dll"), "KalvoraTestFailCall");
    const auto calls = Export<CallsFn>(GetModuleHandleW(L"KalvoraAdminUser.dll"), "KalvoraTestCalls");
    ASSERT_TRUE(failCall && calls);
    leaks_.IgnoreHandles();  // the handles of each failure: tests/load
    LONG check = 0, count = 0;
    for (LONG n = 1, reached = 1; reached >= n - 1; ++n) {  // until a run reaches no n-th allocation
        Load();
        failCall(kFaultAlloc, n, 0);
        EXPECT_EQ(S_OK, users_->ImportFile(B(file).Get(), &check));
        reached = calls(kFaultAlloc, nullptr);
        failCall(kFaultAlloc, 0, 0);
        users_->GetCount(&count);
        EXPECT_TRUE(count <= check && check <= 2) << "allocation " << n << ": " << check << " for " << count;
        TakeEvents();
    }
    EXPECT_EQ(2, check) << "without a failure";
    DeleteFileW(file.c_str());
}

// The directory lists bind paths made of the domain's DNS name and the unit
// asked for: user accounts with a text account name that are no groups,
// units with a text name. A failure gives 0 and keeps the last lists; an
// index outside a list gives E_INVALIDARG.
TEST_F(Users, DirectoryListsOfTheDomain)
{
    Load();
    Domain(L"a.b", L"A", "support/directory.txt");
    Steps(LR"(GetDomainUserCount| => 3
              GetUserGroupCount => 2
              GetDomainUserCount|Filter => 0)");
    SetRaw(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KalvoraTest\\ADSystemInfo", L"CreateResult", REG_DWORD, "\x05\x00\x07\x80",
           4);
    LONG count = 7;
    EXPECT_EQ(S_OK, users_->GetUserGroupCount(&count));
    EXPECT_EQ(0, count);
    Steps(LR"(GetDomainUserCount| => 0
              GetDomainUserName|0 => alice
              GetDomainUserName|2 => dave
              GetDomainUserName|3 => !E_INVALIDARG
              GetUserGroupName|1 => East
              GetUserGroupName|2 => !E_INVALIDARG)");
}

}  // namespace
