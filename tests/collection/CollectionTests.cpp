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
    ComPtr<IEnumKalvoraUser> users_;
};

// Each user's key gives its name and its eight values by their exact names.
// A key name of 100 characters, one over the longest, ends the load: its
// entry counts, and NextUser passes over it with E_FAIL.
TEST_F(Users, TheLoadReadsEachUsersKeyAndItsValues)
{
    const std::wstring m(99, L'm');
    const std::wstring values = L"Computer|My Computer|My Desktop|My Documents|My Favorites|My Network|Security Level";
    for (const std::wstring& value : Split(values, L'|'))
        SetString(HKEY_LOCAL_MACHINE, kUsers + L"\\" + m, value.c_str(), value);
    SetString(HKEY_LOCAL_MACHINE, kUsers + L"\\" + m, L"NetWork Enable", L"4");
    Key(std::wstring(100, L'n'));
    Load();
    Steps(L"GetCount => 2\nNextUser => " + m + L"\nNextUser => !E_FAIL\nNextUser => " + m);
    EXPECT_EQ(values + L"|4",
              Of(m, L"Computer MyComputer MyDesktop MyDocuments MyFavorites MyNetwork SecurityLevel IsNetwork"));
    ExpectEvents({L"C000000B Error using RegEnumKeyEx"});
}

// New and Add append without checks or keys; lookups match the whole name
// in its letter case and find the first entry; Remove drops that entry and
// its key, not the cursor, which wraps. An unknown name gives E_FAIL and a
// null user. ClearKeys deletes the keys of the listed users and keeps the
// list; one it cannot delete fails it, reported with the last name.
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
              Remove|alice => !E_FAIL
              ClearKeys => !E_FAIL
              GetCount => 3)");
    EXPECT_EQ(L"added", Of(L"Alice", L"Computer"));
    IKalvoraUser* user = reinterpret_cast<IKalvoraUser*>(INT_PTR(8));
    const BStr dave = B(L"Dave");
    SetLastError(0xBEEF);  // a failure's report keeps the caller's last error
    EXPECT_EQ(E_FAIL, users_->Item(dave.Get(), &user));
    EXPECT_EQ(0xBEEFu, GetLastError());
    EXPECT_EQ(nullptr, user);
    ExpectEvents({NoUser(L"alice"), NoUser(L"Alice"),
                  L"C000000B Item.  Tried to get user object: (Dave), which dose not exist"});
    EXPECT_EQ(Texts{}, Store());
}

// AddUser appends a user with the computer as a UNC name, the default
// security level and the profile folders of that computer, and returns the
// failure of writing it. AddUserDB takes eight variables by reference, as
// text; "true" enables the network. CheckComputer: -1 for an empty name, -2
// for a listed one (in its letter case), -4 for an empty computer, -8 for
// one that does not answer, asked in its UNC form.
TEST_F(Users, AddUserAppendsTheUserItCannotWriteAndCheckComputerFindsIt)
{
    Folders(L"A1", {L"C$/windows", L"C$/Documents and Settings/jdoe.CORP"});
    Reachable(L"A1");
    Domain(nullptr, L"CORP");
    Load();
    Steps(LR"(AddUser|jdoe|box|A1|1 => !E_FAIL
              AddUserDB|&u|&PC|&c|&d|&o|&f|&true|&s => !E_FAIL
              AddUserDB|&a|b|&c|&c|&c|&c|&c|&c => !E_INVALIDARG
              GetCount => 2
              CheckComputer|Jdoe|//A1 => 0
              CheckComputer|jdoe|Q1 => -10
              CheckComputer|| => -5)");
    EXPECT_EQ(L"\\\\A1\\C$\\Documents and Settings\\jdoe.CORP\\Desktop|\\\\A1|box|1|standard",
              Of(L"jdoe", L"MyDesktop Computer Mailbox IsNetwork SecurityLevel"));
    EXPECT_EQ(L"1|PC|c|d|o|f|s|", Of(L"u", L"IsNetwork Computer MyComputer MyDesktop MyDocuments MyFavorites "
                                           L"SecurityLevel MyRecent"));
    ExpectEvents({Written(L"jdoe"), L"C000000B Add User. (jdoe), allready exists"});
}

// ImportFile: field 6 (the name) and field 8 (the computer) of each line
// after the heading, one byte a character; a line ends at a line feed (a
// carriage return before it goes with it), the file at a Ctrl-Z. The count:
// records added, -1 for an empty file, -2 when the path names no file.
TEST_F(Users, ImportFileAddsARecordPerLineAfterTheHeading)
{
    const std::wstring path = TempFile(L"in.csv", "h\r\n,,,,,a,,PC1,\r\n,,,,,\xE9,,c\r,\x1A\n,,,,,y,,d,\n");
    const std::wstring empty = TempFile(L"empty.csv", "");
    Load();
    Steps(L"ImportFile|" + path + L" => 2\nImportFile|" + empty + L" => -1\nImportFile|C:\\none.csv => -2\n" +
          L"GetCount => 2\nNextUser => a\nNextUser => \u00E9");
    EXPECT_EQ(L"\\\\PC1|\\\\c\r", Of(L"a", L"Computer") + L"|" + Of(L"\u00E9", L"Computer"));
    ExpectEvents({Written(L"a"), Written(L"\u00E9")});
    DeleteFileW(path.c_str());
    DeleteFileW(empty.c_str());
}

// The 256 KB of stack below the caller's frame, painted.
constexpr size_t kPainted = 256 * 1024;
__attribute__((noinline)) void PaintStack(volatile char** bottom)
{
    volatile char* area = static_cast<char*>(__builtin_alloca(kPainted));
    for (size_t i = 0; i < kPainted; ++i)
        area[i] = '\xA5';
    *bottom = area;
}

// The import reads into a buffer of its own, not on the caller's stack,
// which a host's thread may keep small: it takes under 32 KB of stack.
TEST_F(Users, ImportFileTakesLittleStack)
{
    const BStr file = B(TempFile(L"small.csv", "h\n"));
    Load();
    LONG check = -9;
    volatile char* area = nullptr;
    PaintStack(&area);
    EXPECT_EQ(S_OK, users_->ImportFile(file.Get(), &check));
    size_t untouched = 0;
    while (untouched < kPainted && area[untouched] == '\xA5')
        ++untouched;
    EXPECT_LT(kPainted - untouched, 32u * 1024) << "bytes of stack taken";
    EXPECT_EQ(0, check);
    DeleteFileW(file.Get());
}

// Out of memory ends the import, with the records handed to AddUser so far
// in Check: never fewer than the users it added, never -1 for a file that
// has its heading. The n-th allocation fails, for every n the import makes.
TEST_F(Users, ImportFileCountsTheRecordsItHandledWhenMemoryRunsOut)
{
    const std::wstring file = TempFile(L"oom.csv", "h\n,,,,,a,,PC,\n,,,,,b,,PC,\n");
    const auto failCall = FailCall();
    const auto calls = Calls();
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
        EXPECT_TRUE(count <= check && check <= 2) << n << ": " << check << " for " << count;
        TakeEvents();
    }
    EXPECT_EQ(2, check) << "without a failure";
    DeleteFileW(file.c_str());
}

// The directory lists bind paths made of the domain's DNS name and the unit
// asked for: user accounts with a text account name that are no groups,
// units with a text name. A failure gives 0 and keeps the last lists.
TEST_F(Users, DirectoryListsOfTheDomain)
{
    Load();
    Domain(L"a.b", L"A", "support/directory.txt");
    Steps(L"GetDomainUserCount|Sales => 1\nGetDomainUserName|0 => erin\nGetDomainUserCount| => 3\n"
          L"GetUserGroupCount => 2\nGetDomainUserCount|Filter => 0");
    SetRaw(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KalvoraTest\\ADSystemInfo", L"CreateResult", REG_DWORD, "\x05\x00\x07\x80",
           4);
    Steps(LR"(GetDomainUserCount| => 0
              GetUserGroupCount => 0
              GetDomainUserName|2 => dave
              GetDomainUserName|3 => !E_INVALIDARG
              GetUserGroupName|1 => East)");
}

}  // namespace
