// Loading the user store when the collection is created.
#include <set>

#include "collection/UserStoreFixture.h"

namespace kalvora::test {
namespace {

void ExpectSameUser(const UserView& expected, const UserView& actual)
{
    EXPECT_EQ(Narrow(expected.name), Narrow(actual.name));
    EXPECT_EQ(Narrow(expected.computer), Narrow(actual.computer));
    EXPECT_EQ(Narrow(expected.myComputer), Narrow(actual.myComputer));
    EXPECT_EQ(Narrow(expected.myDesktop), Narrow(actual.myDesktop));
    EXPECT_EQ(Narrow(expected.myDocuments), Narrow(actual.myDocuments));
    EXPECT_EQ(Narrow(expected.myFavorites), Narrow(actual.myFavorites));
    EXPECT_EQ(Narrow(expected.myNetwork), Narrow(actual.myNetwork));
    EXPECT_EQ(Narrow(expected.myRecent), Narrow(actual.myRecent));
    EXPECT_EQ(Narrow(expected.securityLevel), Narrow(actual.securityLevel));
    EXPECT_EQ(expected.isNetwork, actual.isNetwork);
    EXPECT_EQ(expected.mailboxNull, actual.mailboxNull);
}

// A user with its name and nothing else loaded.
UserView Blank(const std::wstring& name)
{
    UserView v;
    v.name = name;
    v.mailboxNull = true;
    return v;
}

using LoadTest = UserStoreTest;

TEST_F(LoadTest, MissingUsersKeyIsCreatedAndTheCollectionIsEmpty)
{
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUsersPath));
    auto users = Load();
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUsersPath));
    EXPECT_EQ(0, Count(users.Get()));
    EXPECT_TRUE(m_events.Read().empty());
}

TEST_F(LoadTest, UsersAppearInRegistryOrderWithTheirEightValues)
{
    SeedFullUser(L"carol");
    SeedFullUser(L"alice");
    SeedFullUser(L"bob");
    const std::vector<std::wstring> order = SubkeyNames(HKEY_LOCAL_MACHINE, kUsersPath);
    ASSERT_EQ(3u, order.size());

    auto users = Load();
    EXPECT_EQ(order, Walk(users.Get()));
    for (const std::wstring& name : order) {
        auto user = Find(users.Get(), name.c_str());
        ASSERT_TRUE(user) << Narrow(name);
        ExpectSameUser(ExpectedFullUser(name), View(user.Get()));
    }
    EXPECT_TRUE(m_events.Read().empty());
}

TEST_F(LoadTest, KeyWithoutValuesGivesANamedBlankUser)
{
    SeedKey(L"empty");
    auto users = Load();
    ASSERT_EQ(1, Count(users.Get()));
    auto user = Find(users.Get(), L"empty");
    ASSERT_TRUE(user);
    ExpectSameUser(Blank(L"empty"), View(user.Get()));
    EXPECT_TRUE(m_events.Read().empty());
}

TEST_F(LoadTest, FurtherValuesAndSubkeysOfAUserKeyAreIgnored)
{
    SeedUser(L"dave", {{L"My Recent", L"\\\\PC\\C$\\Recent"}, {L"Mailbox", L"dave@example"},
                       {L"computer ", L"not the computer"}});
    SeedFullUser(L"dave\\child");
    auto users = Load();
    ASSERT_EQ(1, Count(users.Get()));
    auto user = Find(users.Get(), L"dave");
    ASSERT_TRUE(user);
    ExpectSameUser(Blank(L"dave"), View(user.Get()));
    EXPECT_TRUE(m_events.Read().empty());
}

TEST_F(LoadTest, NetWorkEnableIsConvertedLikeTheWideStringToIntegerConversion)
{
    const std::vector<std::pair<std::wstring, LONG>> cases = {
        {L"1", 1},   {L" 12abc", 12}, {L"true", 0}, {L"-1", -1}, {L"\t+7", 7},
        {L"", 0},    {L"0", 0},       {L"x5", 0},   {L"2147483647", 2147483647},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        SeedUser(L"u" + std::to_wstring(i), {{L"NetWork Enable", cases[i].first}});

    auto users = Load();
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::wstring name = L"u" + std::to_wstring(i);
        auto user = Find(users.Get(), name.c_str());
        ASSERT_TRUE(user);
        LONG value = 12345;
        EXPECT_EQ(S_OK, user->get_IsNetwork(&value));
        EXPECT_EQ(cases[i].second, value) << "text \"" << Narrow(cases[i].first) << "\"";
    }
}

TEST_F(LoadTest, ValuesAreReadAsTextWhateverTheirRegistryType)
{
    SeedKey(L"typed");
    const DWORD seven = 7;
    SetRaw(HKEY_LOCAL_MACHINE, UserPath(L"typed"), L"NetWork Enable", REG_DWORD, &seven, sizeof seven);
    const wchar_t expand[] = L"%SystemRoot%\\x";
    SetRaw(HKEY_LOCAL_MACHINE, UserPath(L"typed"), L"My Desktop", REG_EXPAND_SZ, expand, sizeof expand);
    const wchar_t embedded[] = L"ab\0cd";
    SetRaw(HKEY_LOCAL_MACHINE, UserPath(L"typed"), L"My Network", REG_SZ, embedded, sizeof embedded);

    auto users = Load();
    auto user = Find(users.Get(), L"typed");
    ASSERT_TRUE(user);
    const UserView v = View(user.Get());
    // The DWORD's bytes read as text hold no digit.
    EXPECT_EQ(0, v.isNetwork);
    EXPECT_EQ("%SystemRoot%\\x", Narrow(v.myDesktop));
    EXPECT_EQ("ab", Narrow(v.myNetwork));
}

TEST_F(LoadTest, ValuesBeyondTheBufferAreSkippedAndTheRestStillLoads)
{
    const std::wstring fits(519, L'd');         // 1040 bytes with the terminator
    const std::wstring tooLong(520, L'e');      // 1042 bytes with the terminator
    const std::wstring huge(32768, L'h');
    SeedUser(L"big", {{L"Computer", huge},
                      {L"My Desktop", fits},
                      {L"My Documents", tooLong},
                      {L"Security Level", L"after"}});
    // Exactly 1040 bytes without a terminator: all 520 units are taken. (The
    // registry adds a terminator that follows the data in the caller's
    // buffer, so the unit after the data is not NUL.)
    const std::wstring full(520, L'f');
    const std::wstring source = full + L"!";
    SetRaw(HKEY_LOCAL_MACHINE, UserPath(L"big"), L"My Favorites", REG_SZ, source.data(), 1040);
    ASSERT_EQ(1040u, GetRaw(HKEY_LOCAL_MACHINE, UserPath(L"big"), L"My Favorites")->size());
    SeedFullUser(L"next");

    auto users = Load();
    ASSERT_EQ(2, Count(users.Get()));
    auto user = Find(users.Get(), L"big");
    ASSERT_TRUE(user);
    const UserView v = View(user.Get());
    EXPECT_EQ(L"", v.computer);
    EXPECT_EQ(fits, v.myDesktop);
    EXPECT_EQ(L"", v.myDocuments);
    EXPECT_EQ(full, v.myFavorites);
    EXPECT_EQ(L"after", v.securityLevel);
    auto next = Find(users.Get(), L"next");
    ASSERT_TRUE(next);
    ExpectSameUser(ExpectedFullUser(L"next"), View(next.Get()));
    EXPECT_TRUE(m_events.Read().empty());
}

TEST_F(LoadTest, NameOf99CharactersLoads)
{
    const std::wstring name = L"k" + std::wstring(98, L'x');
    SeedFullUser(name);
    auto users = Load();
    ASSERT_EQ(1, Count(users.Get()));
    auto user = Find(users.Get(), name.c_str());
    ASSERT_TRUE(user);
    ExpectSameUser(ExpectedFullUser(name), View(user.Get()));
    EXPECT_TRUE(m_events.Read().empty());
}

// The key names sort so that the long one lies in the middle.
class LongNameTest : public UserStoreTest {
protected:
    void SetUp() override
    {
        UserStoreTest::SetUp();
        SeedFullUser(L"a");
        SeedFullUser(L"b");
        SeedFullUser(m_long);
        SeedFullUser(L"n");
        SeedFullUser(L"z");
        const std::vector<std::wstring> order = SubkeyNames(HKEY_LOCAL_MACHINE, kUsersPath);
        ASSERT_EQ((std::vector<std::wstring>{L"a", L"b", m_long, L"n", L"z"}), order);
        m_users = Load();
    }

    const std::wstring m_long = L"m" + std::wstring(99, L'x');
    ComPtr<IEnumKalvoraUser> m_users;
};

TEST_F(LongNameTest, LoadStopsThereWithTheUsersBeforeItLoaded)
{
    const EventRecord event = ExpectOneFailure(L"Error using RegEnumKeyEx");
    EXPECT_EQ(5, Count(m_users.Get()));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"<E_FAIL>", L"<E_FAIL>", L"<E_FAIL>"}),
              Walk(m_users.Get()));
    // The walk wraps after the empty entries.
    EXPECT_EQ(L"a", Next(m_users.Get()).second);
    for (const wchar_t* name : {L"a", L"b"}) {
        auto user = Find(m_users.Get(), name);
        ASSERT_TRUE(user);
        ExpectSameUser(ExpectedFullUser(name), View(user.Get()));
    }
}

TEST_F(LongNameTest, EmptyEntriesArePassedOverButCounted)
{
    m_events.Clear();
    EXPECT_FALSE(Find(m_users.Get(), L"n"));
    ExpectOneFailure(L"Item.  Tried to get user object: (n), which dose not exist");

    m_events.Clear();
    Bstr n(L"n");
    EXPECT_EQ(E_FAIL, m_users->Remove(n.get()));
    ExpectOneFailure(L"Remove. User (n) does not exist");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"n")));

    m_events.Clear();
    Bstr b(L"b");
    EXPECT_EQ(S_OK, m_users->Remove(b.get()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"b")));
    EXPECT_EQ(4, Count(m_users.Get()));
    EXPECT_TRUE(m_events.Read().empty());

    // Only a is left to delete; the empty entries count as failures and the
    // report names the last user visited.
    EXPECT_EQ(E_FAIL, m_users->ClearKeys());
    ExpectOneFailure(L"Remove. User (a) does not exist");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"a")));
    for (const std::wstring& name : {m_long, std::wstring(L"n"), std::wstring(L"z")})
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(name))) << Narrow(name);
    EXPECT_EQ(4, Count(m_users.Get()));
}

TEST_F(LongNameTest, NextUserOnAnEmptyEntryLeavesTheOutValueAlone)
{
    EXPECT_EQ(S_OK, m_users->Reset());
    EXPECT_EQ(S_OK, Next(m_users.Get()).first);
    EXPECT_EQ(S_OK, Next(m_users.Get()).first);
    BSTR untouched = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x5A5A5A5A));
    BSTR out = untouched;
    EXPECT_EQ(E_FAIL, m_users->get_NextUser(&out));
    EXPECT_EQ(untouched, out);
}

// Access lists make the platform refuse a step of the load.
TEST_F(LoadTest, UsersKeyThatCannotBeOpenedForWritingGivesAnEmptyCollection)
{
    SeedFullUser(L"alice");
    KeyAccess readOnly(kUsersPath, L"D:P(A;;KRWDRCSD;;;WD)");
    ComPtr<IEnumKalvoraUser> users;
    ASSERT_EQ(S_OK, Create(users));
    ASSERT_TRUE(users);
    EXPECT_EQ(0, Count(users.Get()));
    ExpectOneFailure(L"Error creating registry key");
}

TEST_F(LoadTest, UsersKeyThatCannotBeOpenedForReadingGivesAnEmptyCollection)
{
    SeedFullUser(L"alice");
    KeyAccess writeOnly(kUsersPath, L"D:P(A;;KWWDRCSD;;;WD)");
    ComPtr<IEnumKalvoraUser> users;
    ASSERT_EQ(S_OK, Create(users));
    ASSERT_TRUE(users);
    EXPECT_EQ(0, Count(users.Get()));
    ExpectOneFailure(L"Error opening registry key");
}

TEST_F(LoadTest, UserKeyThatCannotBeOpenedKeepsItsNameAndEndsTheLoad)
{
    SeedFullUser(L"a");
    SeedFullUser(L"b");
    SeedFullUser(L"c");
    KeyAccess writeOnly(UserPath(L"b"), L"D:P(A;;KWWDRCSD;;;WD)");
    auto users = Load();
    ExpectOneFailure(L"RegOpenKeyEx Failed");
    EXPECT_EQ(3, Count(users.Get()));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"<E_FAIL>"}), Walk(users.Get()));
    auto a = Find(users.Get(), L"a");
    ASSERT_TRUE(a);
    ExpectSameUser(ExpectedFullUser(L"a"), View(a.Get()));
    auto b = Find(users.Get(), L"b");
    ASSERT_TRUE(b);
    ExpectSameUser(Blank(L"b"), View(b.Get()));
}

TEST_F(LoadTest, UserThatCannotBeCreatedMakesTheCreationFail)
{
    SeedFullUser(L"alice");
    UserClassHidden hidden;
    ComPtr<IKalvoraUser> probe;
    const HRESULT expected = CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_ALL, IID_IKalvoraUser,
                                              reinterpret_cast<void**>(probe.GetAddressOf()));
    ASSERT_TRUE(FAILED(expected));

    ComPtr<IEnumKalvoraUser> users;
    EXPECT_EQ(expected, Create(users));
    EXPECT_FALSE(users);
    ExpectOneFailure(L"Could not CoCreateInstace of IKalvoraUser");
}

TEST_F(LoadTest, WithoutUserKeysNoUserIsCreated)
{
    UserClassHidden hidden;
    auto users = Load();
    EXPECT_EQ(0, Count(users.Get()));
    EXPECT_TRUE(m_events.Read().empty());
}

TEST_F(LoadTest, LoadedUsersAreHeldOnceByTheCollection)
{
    SeedFullUser(L"alice");
    auto users = Load();
    auto alice = Find(users.Get(), L"alice");
    ASSERT_TRUE(alice);
    EXPECT_EQ(2u, RefCount(alice.Get()));
    users.Reset();
    EXPECT_EQ(1u, RefCount(alice.Get()));
    // The user outlives the collection.
    EXPECT_EQ("alice", Narrow(View(alice.Get()).name));
}

TEST_F(LoadTest, AddedUsersAreNotWrittenToTheRegistry)
{
    {
        auto users = Load();
        auto zed = NewUser(users.Get(), L"zed");
        EXPECT_EQ(S_OK, users->Add(zed.Get()));
        EXPECT_EQ(1, Count(users.Get()));
    }
    EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE, kUsersPath).empty());
    auto again = Load();
    EXPECT_EQ(0, Count(again.Get()));
}

}  // namespace
}  // namespace kalvora::test
