// The collection's list protocol: walking, finding, appending and removing
// users, and clearing the users' keys.
#include <set>

#include "collection/UserStoreFixture.h"

namespace kalvora::test {
namespace {

const BSTR kUntouched = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x5A5A5A5A));

std::wstring ItemMiss(const std::wstring& name)
{
    return L"Item.  Tried to get user object: (" + name + L"), which dose not exist";
}
std::wstring RemoveMiss(const std::wstring& name) { return L"Remove. User (" + name + L") does not exist"; }
const wchar_t kDeleteFailed[] = L"RegDeleteKey failed";

using EmptyCollectionTest = UserStoreTest;

TEST_F(EmptyCollectionTest, EveryOperationHasItsDefinedResult)
{
    auto users = Load();
    EXPECT_EQ(0, Count(users.Get()));

    BSTR out = kUntouched;
    EXPECT_EQ(E_FAIL, users->get_NextUser(&out));
    EXPECT_EQ(kUntouched, out);
    EXPECT_TRUE(m_events.Read().empty());

    ComPtr<IKalvoraUser> user;
    Bstr name(L"x");
    IKalvoraUser* raw = reinterpret_cast<IKalvoraUser*>(static_cast<uintptr_t>(0x5A5A5A5A));
    EXPECT_EQ(E_FAIL, users->Item(name.get(), &raw));
    EXPECT_EQ(nullptr, raw);
    ExpectOneFailure(ItemMiss(L"x"));

    m_events.Clear();
    EXPECT_EQ(E_FAIL, users->Remove(name.get()));
    ExpectOneFailure(RemoveMiss(L"x"));

    m_events.Clear();
    EXPECT_EQ(S_OK, users->ClearKeys());
    EXPECT_TRUE(m_events.Read().empty());
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUsersPath));
}

TEST_F(EmptyCollectionTest, NullOutPointersAreRefused)
{
    auto users = Load();
    EXPECT_EQ(E_POINTER, users->GetCount(nullptr));
    EXPECT_EQ(E_POINTER, users->New(nullptr));
    Bstr name(L"x");
    EXPECT_EQ(E_POINTER, users->Item(name.get(), nullptr));
    EXPECT_TRUE(m_events.Read().empty());
}

class ListTest : public UserStoreTest {
protected:
    void SetUp() override
    {
        UserStoreTest::SetUp();
        for (const wchar_t* name : {L"Carol", L"Alice", L"Bob"})
            SeedFullUser(name);
        m_users = Load();
        ASSERT_EQ((std::vector<std::wstring>{L"Alice", L"Bob", L"Carol"}), Walk(m_users.Get()));
        ASSERT_TRUE(m_events.Read().empty());
        m_users->Reset();
    }

    HRESULT Remove(const wchar_t* name)
    {
        Bstr text(name);
        return m_users->Remove(text.get());
    }

    ComPtr<IEnumKalvoraUser> m_users;
};

TEST_F(ListTest, NextUserWrapsRoundAndResetStartsAgain)
{
    std::vector<std::wstring> names;
    for (int i = 0; i < 4; ++i) {
        auto [hr, name] = Next(m_users.Get());
        EXPECT_EQ(S_OK, hr);
        names.push_back(name);
        EXPECT_EQ(3, Count(m_users.Get()));
    }
    EXPECT_EQ((std::vector<std::wstring>{L"Alice", L"Bob", L"Carol", L"Alice"}), names);
    EXPECT_EQ(S_OK, m_users->Reset());
    EXPECT_EQ(L"Alice", Next(m_users.Get()).second);
    EXPECT_TRUE(m_events.Read().empty());
}

TEST_F(ListTest, ItemReturnsTheListedObjectWithAReferenceForTheCaller)
{
    auto first = Find(m_users.Get(), L"Bob");
    auto second = Find(m_users.Get(), L"Bob");
    ASSERT_TRUE(first);
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(3u, RefCount(first.Get()));
    second.Reset();
    first.Reset();
    // Still listed and usable after the caller let go.
    auto again = Find(m_users.Get(), L"Bob");
    ASSERT_TRUE(again);
    EXPECT_EQ(L"PC-Bob", View(again.Get()).computer);
    EXPECT_TRUE(m_events.Read().empty());
}

TEST_F(ListTest, NamesMustMatchExactlyOverTheirWholeLength)
{
    const wchar_t withNul[] = L"Alice\0x";
    Bstr nulInside(withNul, 7);
    struct Case {
        Bstr name;
        std::wstring shown;
    };
    std::vector<Case> cases;
    for (const wchar_t* text : {L"alice", L"ALICE", L"Alic", L"Alicee", L" Alice", L""})
        cases.push_back({Bstr(text), text});
    cases.push_back({std::move(nulInside), L"Alice"});
    cases.push_back({Bstr(), L"(null)"});

    for (const Case& c : cases) {
        m_events.Clear();
        ComPtr<IKalvoraUser> user;
        EXPECT_EQ(E_FAIL, m_users->Item(c.name.get(), user.GetAddressOf())) << Narrow(c.shown);
        EXPECT_FALSE(user);
        ExpectOneFailure(ItemMiss(c.shown));

        m_events.Clear();
        EXPECT_EQ(E_FAIL, m_users->Remove(c.name.get())) << Narrow(c.shown);
        ExpectOneFailure(RemoveMiss(c.shown));
    }
    // The registry compares names without regard to case; the list does not,
    // so no miss may have deleted a key.
    EXPECT_EQ(3u, SubkeyNames(HKEY_LOCAL_MACHINE, kUsersPath).size());
    EXPECT_EQ(3, Count(m_users.Get()));
}

TEST_F(ListTest, RemoveDeletesTheKeyAndDropsTheEntry)
{
    ComPtr<IKalvoraUser> bob = Find(m_users.Get(), L"Bob");
    ASSERT_TRUE(bob);
    EXPECT_EQ(2u, RefCount(bob.Get()));

    EXPECT_EQ(S_OK, Remove(L"Bob"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"Bob")));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"Alice")));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"Carol")));
    EXPECT_EQ(2, Count(m_users.Get()));
    // The collection's reference is gone; the caller's stays.
    EXPECT_EQ(1u, RefCount(bob.Get()));
    EXPECT_TRUE(m_events.Read().empty());

    EXPECT_FALSE(Find(m_users.Get(), L"Bob"));
    ExpectOneFailure(ItemMiss(L"Bob"));
    EXPECT_EQ((std::vector<std::wstring>{L"Alice", L"Carol"}), Walk(m_users.Get()));
}

TEST_F(ListTest, RemoveWithTheKeyMissingKeepsTheUserListed)
{
    DeleteTree(HKEY_LOCAL_MACHINE, UserPath(L"Carol"));
    EXPECT_EQ(E_FAIL, Remove(L"Carol"));
    ExpectOneFailure(kDeleteFailed);
    EXPECT_EQ(3, Count(m_users.Get()));
    EXPECT_TRUE(Find(m_users.Get(), L"Carol"));
}

TEST_F(ListTest, RemoveDoesNotMoveTheCursor)
{
    EXPECT_EQ(L"Alice", Next(m_users.Get()).second);
    EXPECT_EQ(S_OK, Remove(L"Alice"));
    // Bob moved into the place the cursor has passed.
    EXPECT_EQ(L"Carol", Next(m_users.Get()).second);
    EXPECT_EQ(L"Bob", Next(m_users.Get()).second);
}

TEST_F(ListTest, NamesThatAreNoKeyNameDeleteNothing)
{
    // A user with an empty name would address the users key itself, and a
    // name with a backslash a key further down.
    SeedKey(L"Alice\\sub");
    auto empty = NewUser(m_users.Get(), L"");
    auto nested = NewUser(m_users.Get(), L"Alice\\sub");
    ASSERT_EQ(S_OK, m_users->Add(empty.Get()));
    ASSERT_EQ(S_OK, m_users->Add(nested.Get()));

    EXPECT_EQ(E_FAIL, Remove(L""));
    ExpectOneFailure(kDeleteFailed);
    m_events.Clear();
    EXPECT_EQ(E_FAIL, Remove(L"Alice\\sub"));
    ExpectOneFailure(kDeleteFailed);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"Alice\\sub")));
    EXPECT_EQ(5, Count(m_users.Get()));

    m_events.Clear();
    EXPECT_EQ(E_FAIL, m_users->ClearKeys());
    ExpectOneFailure(RemoveMiss(L"Alice\\sub"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUsersPath));
    // Alice's key keeps its subkey, so the platform refuses to delete it.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"Alice\\sub")));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"Bob")));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"Carol")));
}

TEST_F(ListTest, NewGivesABlankUserThatIsNotListed)
{
    ComPtr<IKalvoraUser> user;
    ASSERT_EQ(S_OK, m_users->New(user.GetAddressOf()));
    ASSERT_TRUE(user);
    EXPECT_EQ(1u, RefCount(user.Get()));
    const UserView v = View(user.Get());
    EXPECT_EQ(L"", v.name);
    EXPECT_EQ(L"", v.computer);
    EXPECT_TRUE(v.mailboxNull);
    EXPECT_EQ(3, Count(m_users.Get()));
    EXPECT_TRUE(m_events.Read().empty());
}

TEST_F(ListTest, AddAppendsWithoutChecksAndHoldsOneReferencePerEntry)
{
    EXPECT_EQ(L"Alice", Next(m_users.Get()).second);
    auto dup = NewUser(m_users.Get(), L"Alice");
    EXPECT_EQ(S_OK, m_users->Add(dup.Get()));
    EXPECT_EQ(S_OK, m_users->Add(dup.Get()));
    EXPECT_EQ(5, Count(m_users.Get()));
    EXPECT_EQ(3u, RefCount(dup.Get()));
    // The cursor stayed where it was.
    EXPECT_EQ(L"Bob", Next(m_users.Get()).second);
    EXPECT_EQ((std::vector<std::wstring>{L"Alice", L"Bob", L"Carol", L"Alice", L"Alice"}),
              Walk(m_users.Get()));

    // Lookups find the loaded Alice first.
    auto found = Find(m_users.Get(), L"Alice");
    ASSERT_TRUE(found);
    EXPECT_NE(dup.Get(), found.Get());
    found.Reset();

    // Removing Alice drops the first entry; the other two stay.
    EXPECT_EQ(S_OK, Remove(L"Alice"));
    EXPECT_EQ(3u, RefCount(dup.Get()));
    EXPECT_EQ(4, Count(m_users.Get()));
    found = Find(m_users.Get(), L"Alice");
    EXPECT_EQ(dup.Get(), found.Get());
    found.Reset();
    EXPECT_TRUE(m_events.Read().empty());

    // Releasing the collection releases both entries.
    m_users.Reset();
    EXPECT_EQ(1u, RefCount(dup.Get()));
}

TEST_F(ListTest, AddingNullListsAnEmptyEntry)
{
    EXPECT_EQ(S_OK, m_users->Add(nullptr));
    EXPECT_EQ(4, Count(m_users.Get()));
    EXPECT_EQ((std::vector<std::wstring>{L"Alice", L"Bob", L"Carol", L"<E_FAIL>"}), Walk(m_users.Get()));
    EXPECT_TRUE(Find(m_users.Get(), L"Carol"));
    EXPECT_TRUE(m_events.Read().empty());

    EXPECT_EQ(E_FAIL, m_users->ClearKeys());
    ExpectOneFailure(RemoveMiss(L"Carol"));
    EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE, kUsersPath).empty());
}

TEST_F(ListTest, ClearKeysDeletesTheListedKeysAndKeepsTheList)
{
    EXPECT_EQ(L"Alice", Next(m_users.Get()).second);
    SeedFullUser(L"Dave");  // created after the load: not listed
    EXPECT_EQ(S_OK, m_users->ClearKeys());
    EXPECT_TRUE(m_events.Read().empty());
    EXPECT_EQ((std::vector<std::wstring>{L"Dave"}), SubkeyNames(HKEY_LOCAL_MACHINE, kUsersPath));
    EXPECT_EQ(3, Count(m_users.Get()));
    // The cursor and the users are as they were.
    EXPECT_EQ(L"Bob", Next(m_users.Get()).second);
    auto carol = Find(m_users.Get(), L"Carol");
    ASSERT_TRUE(carol);
    EXPECT_EQ(L"level-Carol", View(carol.Get()).securityLevel);
}

TEST_F(ListTest, ClearKeysTwiceReportsTheLastListedUserOnce)
{
    EXPECT_EQ(S_OK, m_users->ClearKeys());
    EXPECT_EQ(E_FAIL, m_users->ClearKeys());
    ExpectOneFailure(RemoveMiss(L"Carol"));
    EXPECT_EQ(3, Count(m_users.Get()));
}

TEST_F(ListTest, ClearKeysNamesTheLastUserVisitedEvenWhenItsKeyWasDeleted)
{
    DeleteTree(HKEY_LOCAL_MACHINE, UserPath(L"Alice"));
    EXPECT_EQ(E_FAIL, m_users->ClearKeys());
    ExpectOneFailure(RemoveMiss(L"Carol"));
    EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE, kUsersPath).empty());
}

TEST_F(ListTest, RemoveAfterClearKeysKeepsTheUserListed)
{
    EXPECT_EQ(S_OK, m_users->ClearKeys());
    EXPECT_EQ(E_FAIL, Remove(L"Bob"));
    ExpectOneFailure(kDeleteFailed);
    EXPECT_EQ(3, Count(m_users.Get()));
    EXPECT_TRUE(Find(m_users.Get(), L"Bob"));
}

using FormatTest = UserStoreTest;

TEST_F(FormatTest, NamesWithFormatDirectivesAreReportedLiterally)
{
    SeedFullUser(L"%s%n");
    auto users = Load();
    auto odd = Find(users.Get(), L"%s%n");
    ASSERT_TRUE(odd);
    EXPECT_EQ(L"PC-%s%n", View(odd.Get()).computer);
    EXPECT_TRUE(m_events.Read().empty());

    for (const wchar_t* name : {L"%n%s%x", L"100%%s", L"%"}) {
        m_events.Clear();
        EXPECT_FALSE(Find(users.Get(), name));
        ExpectOneFailure(ItemMiss(name));
        m_events.Clear();
        Bstr text(name);
        EXPECT_EQ(E_FAIL, users->Remove(text.get()));
        ExpectOneFailure(RemoveMiss(name));
    }

    m_events.Clear();
    EXPECT_EQ(S_OK, users->ClearKeys());
    EXPECT_EQ(E_FAIL, users->ClearKeys());
    ExpectOneFailure(RemoveMiss(L"%s%n"));
}

using CreationTest = UserStoreTest;

TEST_F(CreationTest, NewPassesAFailedCreationThrough)
{
    auto users = Load();
    UserClassHidden hidden;
    ComPtr<IKalvoraUser> probe;
    const HRESULT expected = CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_ALL, IID_IKalvoraUser,
                                              reinterpret_cast<void**>(probe.GetAddressOf()));
    ASSERT_TRUE(FAILED(expected));

    IKalvoraUser* user = reinterpret_cast<IKalvoraUser*>(static_cast<uintptr_t>(0x5A5A5A5A));
    EXPECT_EQ(expected, users->New(&user));
    EXPECT_EQ(nullptr, user);
    ExpectOneFailure(L"CoCreateInstace of IKalvoraUser failed");
    EXPECT_EQ(0, Count(users.Get()));
}

// Each reporting statement is told apart by its line; the same statement
// always gives the same line.
TEST_F(CreationTest, EachReportingStatementHasItsOwnLine)
{
    std::vector<std::pair<std::wstring, int>> lines;
    auto take = [&](const std::wstring& text) {
        const std::vector<EventRecord> events = m_events.Read();
        ASSERT_EQ(1u, events.size()) << Narrow(text);
        ExpectFailure(events.front(), text);
        lines.emplace_back(text, events.front().line);
        m_events.Clear();
    };

    SeedFullUser(L"a");
    {
        UserClassHidden hidden;
        ComPtr<IEnumKalvoraUser> failed;
        EXPECT_TRUE(FAILED(Create(failed)));
        take(L"Could not CoCreateInstace of IKalvoraUser");
    }
    {
        KeyAccess readOnly(kUsersPath, L"D:P(A;;KRWDRCSD;;;WD)");
        Load();
        take(L"Error creating registry key");
    }
    {
        KeyAccess writeOnly(kUsersPath, L"D:P(A;;KWWDRCSD;;;WD)");
        Load();
        take(L"Error opening registry key");
    }
    {
        KeyAccess writeOnly(UserPath(L"a"), L"D:P(A;;KWWDRCSD;;;WD)");
        Load();
        take(L"RegOpenKeyEx Failed");
    }
    SeedFullUser(std::wstring(100, L'y'));
    auto users = Load();
    take(L"Error using RegEnumKeyEx");
    {
        UserClassHidden hidden;
        ComPtr<IKalvoraUser> user;
        users->New(user.GetAddressOf());
        take(L"CoCreateInstace of IKalvoraUser failed");
    }
    Bstr q(L"q");
    ComPtr<IKalvoraUser> none;
    users->Item(q.get(), none.GetAddressOf());
    take(ItemMiss(L"q"));
    users->Remove(q.get());
    take(RemoveMiss(L"q"));
    DeleteTree(HKEY_LOCAL_MACHINE, UserPath(L"a"));
    Bstr a(L"a");
    users->Remove(a.get());
    take(kDeleteFailed);
    users->ClearKeys();
    take(L"Remove. User (a) does not exist");

    std::set<int> distinct;
    for (const auto& entry : lines)
        distinct.insert(entry.second);
    EXPECT_EQ(lines.size(), distinct.size()) << "two statements share a line";

    // The same statement again: the same line.
    Bstr r(L"r");
    users->Item(r.get(), none.GetAddressOf());
    const std::vector<EventRecord> again = m_events.Read();
    ASSERT_EQ(1u, again.size());
    EXPECT_EQ(lines[6].second, again.front().line);
}

}  // namespace
}  // namespace kalvora::test
