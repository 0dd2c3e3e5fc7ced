// The user collection: its load from the registry, its list protocol, the removal
// of user keys, and the failures it reports. Every test starts and ends without a users key.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/TestSupport.h"


namespace kalvora::test {
namespace {

const std::wstring kUsersPath = L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users";
std::wstring UserPath(const std::wstring& name) { return kUsersPath + L"\\" + name; }
using Names = std::vector<std::wstring>;

const wchar_t* const kValueNames[] = {L"Computer",     L"My Computer", L"My Desktop",     L"My Documents",
                                      L"My Favorites", L"My Network",  L"Security Level", L"NetWork Enable"};

// A user as its properties show it: the name, one entry per value above (in
// that order), then MyRecent and Mailbox ("<null>" for a null string).
using View = std::vector<std::wstring>;
enum Field { kName, kSecurityLevel = 7, kIsNetwork, kMyRecent, kMailbox, kFieldCount };

View ViewOf(IKalvoraUser* user)
{
    if (!user)
        return {L"<no user>"};
    View v;
    using U = IKalvoraUser;
    for (auto get : {&U::get_Name, &U::get_Computer, &U::get_MyComputer, &U::get_MyDesktop,
                     &U::get_MyDocuments, &U::get_MyFavorites, &U::get_MyNetwork, &U::get_SecurityLevel,
                     &U::get_MyRecent, &U::get_Mailbox}) {
        Bstr text;
        EXPECT_EQ(S_OK, (user->*get)(text.put()));
        v.push_back(text.isNull() ? L"<null>" : text.str());
    }
    LONG network = -99;
    EXPECT_EQ(S_OK, user->get_IsNetwork(&network));
    v.insert(v.begin() + kIsNetwork, std::to_wstring(network));
    return v;
}

// A user with its name and nothing else loaded, or with everything that
// SeedFullUser writes: every value distinct and derived from the name.
View UserView(const std::wstring& name, bool full)
{
    View v(kFieldCount);
    v[kName] = name;
    for (int f = 0; full && f < 7; ++f)
        v[f + 1] = kValueNames[f] + (L" of " + name);
    v[kIsNetwork] = full ? std::to_wstring(name.size()) : L"0";
    v[kMailbox] = L"<null>";
    return v;
}
View BlankUser(const std::wstring& name) { return UserView(name, false); }
View FullUser(const std::wstring& name) { return UserView(name, true); }

ULONG RefCount(IUnknown* object) { object->AddRef(); return object->Release(); }

// Access lists: read but not write, write but not read.
const wchar_t kReadOnly[] = L"D:P(A;;KRWDRCSD;;;WD)";
const wchar_t kWriteOnly[] = L"D:P(A;;KWWDRCSD;;;WD)";

// Removes the user class's whole CLSID key while it lives, so that creating a
// user fails at once (with only InprocServer32 gone, Wine would start
// surrogate processes that never end), then restores it. failure is the
// result that creating a user gives meanwhile.
struct UserClassHidden {
    UserClassHidden()
    {
        wchar_t clsid[64];
        StringFromGUID2(CLSID_KalvoraUser, clsid, 64);
        path += clsid;
        Copy(HKEY_CLASSES_ROOT, path, HKEY_CURRENT_USER, kBackup);
        DeleteTree(HKEY_CLASSES_ROOT, path);
        ComPtr<IKalvoraUser> probe;
        failure = CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_ALL, IID_IKalvoraUser, &probe);
        EXPECT_TRUE(FAILED(failure));
    }
    ~UserClassHidden()
    {
        Copy(HKEY_CURRENT_USER, kBackup, HKEY_CLASSES_ROOT, path);
        DeleteTree(HKEY_CURRENT_USER, kBackup);
    }
    static void Copy(HKEY fromRoot, const std::wstring& from, HKEY toRoot, const std::wstring& to)
    {
        HKEY target;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(toRoot, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &target, nullptr));
        const LONG err = RegCopyTreeW(fromRoot, from.c_str(), target);
        RegCloseKey(target);
        ASSERT_EQ(ERROR_SUCCESS, err) << "copying " << Narrow(from);
    }
    static constexpr const wchar_t* kBackup = L"Software\\KalvoraTests\\HiddenUserClass";
    std::wstring path = L"CLSID\\";
    HRESULT failure = S_OK;
};

std::wstring ItemMiss(const std::wstring& name)
{
    return L"Item.  Tried to get user object: (" + name + L"), which dose not exist";
}
std::wstring RemoveMiss(const std::wstring& name) { return L"Remove. User (" + name + L") does not exist"; }

// Stands in for an out value that a failing call must leave alone.
const BSTR kUntouched = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x5A5A5A5A));

// The helpers work on m_users, the collection that Load made last. Every
// event must have been checked by the end of a test.
class UserStoreTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteTree(HKEY_LOCAL_MACHINE, kUsersPath); }
    void TearDown() override
    {
        ExpectEvents({});
        DeleteTree(HKEY_LOCAL_MACHINE, kUsersPath);
    }

    // A user key with the given REG_SZ values (none: a key without values).
    static void SeedUser(const std::wstring& name,
                         const std::vector<std::pair<const wchar_t*, std::wstring>>& values = {})
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, UserPath(name).c_str(), 0, nullptr, 0,
                                                 KEY_WRITE | kStoreView, nullptr, &key, nullptr));
        RegCloseKey(key);
        for (const auto& [valueName, text] : values)
            SetString(HKEY_LOCAL_MACHINE, UserPath(name), valueName, text);
    }
    static void SeedFullUser(const std::wstring& name)
    {
        const View v = FullUser(name);
        for (int f = 0; f < 8; ++f)
            SetString(HKEY_LOCAL_MACHINE, UserPath(name), kValueNames[f], v[f + 1]);
    }
    static Names Keys() { return SubkeyNames(HKEY_LOCAL_MACHINE, kUsersPath); }

    // Creates the collection into m_users, expecting this result.
    void Load(HRESULT expected = S_OK)
    {
        EXPECT_EQ(expected, CoCreateInstance(CLSID_EnumKalvoraUser, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IEnumKalvoraUser, &m_users));
        if (SUCCEEDED(expected) != (m_users != nullptr))
            throw std::runtime_error("the collection was not created as expected");
    }
    LONG Count()
    {
        LONG n = -1;
        EXPECT_EQ(S_OK, m_users->GetCount(&n));
        return n;
    }
    // One NextUser call: the name, or "<E_FAIL>" for a failure that left the out value alone.
    std::wstring Next()
    {
        BSTR out = kUntouched;
        const HRESULT hr = m_users->get_NextUser(&out);
        if (hr != S_OK) {
            EXPECT_EQ(kUntouched, out);
            return hr == E_FAIL ? L"<E_FAIL>" : L"<unexpected result>";
        }
        Bstr name;
        *name.put() = out;
        return name.str();
    }
    // Reset, then as many NextUser calls as GetCount reports.
    Names Walk()
    {
        Names names;
        EXPECT_EQ(S_OK, m_users->Reset());
        for (LONG i = 0, n = Count(); i < n; ++i)
            names.push_back(Next());
        return names;
    }
    ComPtr<IKalvoraUser> Find(const std::wstring& name)
    {
        ComPtr<IKalvoraUser> user;
        const HRESULT hr = m_users->Item(Bstr(name.c_str()).get(), &user);
        EXPECT_EQ(user ? S_OK : E_FAIL, hr) << Narrow(name);
        return user;
    }
    HRESULT Remove(const wchar_t* name) { return m_users->Remove(Bstr(name).get()); }

    // Checks that the events since the last check are failures of the
    // collection with these texts, in this order. Returns their lines.
    std::vector<int> ExpectEvents(const Names& texts)
    {
        const std::vector<EventRecord> events = m_events.Read();
        m_events.Clear();
        Names got;
        std::vector<int> lines;
        for (const EventRecord& e : events) {
            EXPECT_EQ(std::make_tuple(1, 0xC000000BUL, std::wstring(L"collection/EnumKalvoraUser.cpp"), true),
                      std::make_tuple(e.type, e.id, e.file, e.hasText));
            EXPECT_GT(e.line, 0);
            got.push_back(e.text);
            lines.push_back(e.line);
        }
        EXPECT_EQ(texts, got);
        return lines;
    }
    int ExpectEvent(const std::wstring& text) { return ExpectEvents({text}).at(0); }

    EventCapture m_events;
    ComPtr<IEnumKalvoraUser> m_users;
};

TEST_F(UserStoreTest, UsersLoadInRegistryOrderWithTheirValues)
{
    std::map<std::wstring, View> expected;
    // The 99-character name is the longest that fits the name buffer.
    for (const std::wstring& name : Names{L"carol", L"alice", L"bob", L"%s%n", std::wstring(99, L'k')}) {
        SeedFullUser(name);
        expected[name] = FullUser(name);
    }
    // A key without values, and one whose other values and subkeys are ignored.
    SeedUser(L"empty");
    SeedUser(L"dave", {{L"My Recent", L"\\\\PC\\C$\\Recent"}, {L"Mailbox", L"dave@x"}, {L"computer ", L"x"}});
    SeedFullUser(L"dave\\child");
    for (const wchar_t* name : {L"empty", L"dave"})
        expected[name] = BlankUser(name);
    ASSERT_EQ(expected.size(), Keys().size());

    Load();
    EXPECT_EQ(Keys(), Walk());
    for (const auto& [name, view] : expected)
        EXPECT_EQ(view, ViewOf(Find(name).Get()));
}

// Each row is one user key holding the value, and "after" in Security Level,
// which is read after the values of the other rows.
TEST_F(UserStoreTest, ValuesAreReadAsTextWithinTheBuffer)
{
    // The index in kValueNames, the type, the data and its size (0: the text with its terminator).
    struct Case { int value; DWORD type; std::wstring data; DWORD bytes; std::wstring expected; };
    const std::wstring fits(519, L'd'), full(520, L'f');
    const Case cases[] = {
        // NetWork Enable converts like the wide-string-to-integer conversion.
        {7, REG_SZ, L"1", 0, L"1"},
        {7, REG_SZ, L" 12abc", 0, L"12"},
        {7, REG_SZ, L"true", 0, L"0"},
        {7, REG_SZ, L"-1", 0, L"-1"},
        {7, REG_SZ, L"\t+7", 0, L"7"},
        {7, REG_SZ, L"", 0, L"0"},
        {7, REG_SZ, L"2147483647", 0, L"2147483647"},
        {7, REG_DWORD, std::wstring(L"\x7\0", 2), 4, L"0"},  // the DWORD's bytes hold no digit
        // Any type is read as text, up to the first NUL.
        {2, REG_EXPAND_SZ, L"%SystemRoot%\\x", 0, L"%SystemRoot%\\x"},
        {5, REG_SZ, std::wstring(L"ab\0cd", 5), 0, L"ab"},
        // 1040 bytes fit, with or without a terminator; a larger value is skipped. (The
        // registry would count a NUL right after the data in, hence the "!".)
        {2, REG_SZ, fits, 0, fits},
        {4, REG_SZ, full + L"!", 1040, full},
        {3, REG_SZ, std::wstring(520, L'e'), 0, L""},
        {0, REG_SZ, std::wstring(32768, L'h'), 0, L""},
    };
    const size_t n = std::size(cases);
    for (size_t i = 0; i < n; ++i) {
        const Case& c = cases[i];
        const std::wstring name = L"v" + std::to_wstring(i);
        SeedUser(name, {{L"Security Level", L"after"}});
        const DWORD bytes = c.bytes ? c.bytes : static_cast<DWORD>((c.data.size() + 1) * sizeof(wchar_t));
        SetRaw(HKEY_LOCAL_MACHINE, UserPath(name), kValueNames[c.value], c.type, c.data.c_str(), bytes);
    }

    Load();
    EXPECT_EQ(static_cast<LONG>(n), Count());
    for (size_t i = 0; i < n; ++i) {
        View expected = BlankUser(L"v" + std::to_wstring(i));
        expected[kSecurityLevel] = L"after";
        expected[cases[i].value + 1] = cases[i].expected;
        EXPECT_EQ(expected, ViewOf(Find(expected[kName]).Get())) << "row " << i;
    }
}

// A 100-character name does not fit the name buffer; it sorts into the middle.
TEST_F(UserStoreTest, LongNameStopsTheLoadAndLeavesEmptyEntries)
{
    const std::wstring longName = L"m" + std::wstring(99, L'x');
    for (const std::wstring& name : Names{L"a", L"b", longName, L"n", L"z"})
        SeedFullUser(name);
    ASSERT_EQ(longName, Keys()[2]);

    Load();
    ExpectEvent(L"Error using RegEnumKeyEx");
    EXPECT_EQ(5, Count());
    // NextUser fails on an empty entry, leaving its out value alone, and wraps after them.
    EXPECT_EQ((Names{L"a", L"b", L"<E_FAIL>", L"<E_FAIL>", L"<E_FAIL>"}), Walk());
    EXPECT_EQ(L"a", Next());
    EXPECT_EQ(FullUser(L"a"), ViewOf(Find(L"a").Get()));
    EXPECT_EQ(FullUser(L"b"), ViewOf(Find(L"b").Get()));

    // Lookups pass empty entries over; they stay counted.
    EXPECT_FALSE(Find(L"n"));
    ExpectEvent(ItemMiss(L"n"));
    EXPECT_EQ(S_OK, Remove(L"b"));
    EXPECT_EQ((Names{L"a", longName, L"n", L"z"}), Keys());
    EXPECT_EQ(4, Count());

    // ClearKeys deletes a's key, fails for the empty entries and names the last user visited.
    EXPECT_EQ(E_FAIL, m_users->ClearKeys());
    ExpectEvent(RemoveMiss(L"a"));
    EXPECT_EQ((Names{longName, L"n", L"z"}), Keys());
    EXPECT_EQ(4, Count());
}

TEST_F(UserStoreTest, EmptyStoreGivesAnEmptyCollectionWithDefinedResults)
{
    UserClassHidden hidden;  // without keys no user is created
    Load();
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUsersPath));
    EXPECT_EQ(0, Count());
    EXPECT_EQ(L"<E_FAIL>", Next());
    EXPECT_EQ(S_OK, m_users->ClearKeys());

    Bstr x(L"x");
    IKalvoraUser* user = reinterpret_cast<IKalvoraUser*>(kUntouched);
    EXPECT_EQ(E_FAIL, m_users->Item(x.get(), &user));
    EXPECT_EQ(nullptr, user);
    ExpectEvent(ItemMiss(L"x"));
    EXPECT_EQ(E_POINTER, m_users->GetCount(nullptr));
    EXPECT_EQ(E_POINTER, m_users->New(nullptr));
    EXPECT_EQ(E_POINTER, m_users->Item(x.get(), nullptr));
}

// Each failure, with the state it leaves. Every reporting statement is told
// apart by its own line, and the same statement always gives the same line.
TEST_F(UserStoreTest, FailuresReportFromTheirOwnStatements)
{
    std::set<int> lines;
    for (const wchar_t* name : {L"a", L"b", L"c"})
        SeedFullUser(name);

    // Access lists make the platform refuse a step of the load.
    struct Case { std::wstring key; const wchar_t* sddl; const wchar_t* text; Names walk; };
    const Case cases[] = {
        {kUsersPath, kReadOnly, L"Error creating registry key", {}},
        {kUsersPath, kWriteOnly, L"Error opening registry key", {}},
        // The user keeps its name and the load ends there.
        {UserPath(L"b"), kWriteOnly, L"RegOpenKeyEx Failed", {L"a", L"b", L"<E_FAIL>"}},
    };
    for (const Case& c : cases) {
        KeyAccess denied(HKEY_LOCAL_MACHINE, c.key, c.sddl);
        Load();
        lines.insert(ExpectEvent(c.text));
        EXPECT_EQ(c.walk, Walk()) << Narrow(c.text);
    }
    EXPECT_EQ(FullUser(L"a"), ViewOf(Find(L"a").Get()));
    EXPECT_EQ(BlankUser(L"b"), ViewOf(Find(L"b").Get()));

    Load();
    {
        // New fails, and so does the creation of the collection, with the user's result.
        UserClassHidden hidden;
        IKalvoraUser* none = reinterpret_cast<IKalvoraUser*>(kUntouched);
        EXPECT_EQ(hidden.failure, m_users->New(&none));
        EXPECT_EQ(nullptr, none);
        lines.insert(ExpectEvent(L"CoCreateInstace of IKalvoraUser failed"));
        ComPtr<IEnumKalvoraUser> loaded = m_users;
        Load(hidden.failure);
        lines.insert(ExpectEvent(L"Could not CoCreateInstace of IKalvoraUser"));
        m_users = loaded;
    }
    for (const wchar_t* name : {L"q", L"r"}) {
        EXPECT_FALSE(Find(name));
        lines.insert(ExpectEvent(ItemMiss(name)));
    }
    EXPECT_EQ(E_FAIL, Remove(L"q"));
    lines.insert(ExpectEvent(RemoveMiss(L"q")));
    DeleteTree(HKEY_LOCAL_MACHINE, UserPath(L"a"));
    EXPECT_EQ(E_FAIL, Remove(L"a"));
    lines.insert(ExpectEvent(L"RegDeleteKey failed"));
    EXPECT_EQ(E_FAIL, m_users->ClearKeys());
    lines.insert(ExpectEvent(RemoveMiss(L"c")));
    SeedFullUser(std::wstring(100, L'y'));
    Load();
    lines.insert(ExpectEvent(L"Error using RegEnumKeyEx"));
    EXPECT_EQ(10u, lines.size()) << "eleven events from ten statements";
}

class ListTest : public UserStoreTest {
protected:
    void SetUp() override
    {
        UserStoreTest::SetUp();
        for (const wchar_t* name : {L"Carol", L"Alice", L"Bob"})
            SeedFullUser(name);
        Load();
        ASSERT_EQ((Names{L"Alice", L"Bob", L"Carol"}), Walk());
    }
};

TEST_F(ListTest, NamesMustMatchExactlyOverTheirWholeLength)
{
    std::vector<std::pair<Bstr, std::wstring>> cases;  // the name, and how the event shows it: literally
    for (auto text : {L"alice", L"ALICE", L"Alic", L"Alicee", L" Alice", L"", L"%n%s%x", L"1%%s", L"%"})
        cases.emplace_back(Bstr(text), text);
    cases.emplace_back(Bstr(L"Alice\0x", 7), L"Alice");
    cases.emplace_back(Bstr(), L"(null)");
    for (const auto& [name, shown] : cases) {
        ComPtr<IKalvoraUser> user;
        EXPECT_EQ(E_FAIL, m_users->Item(name.get(), user.GetAddressOf())) << Narrow(shown);
        EXPECT_FALSE(user);
        ExpectEvent(ItemMiss(shown));
        EXPECT_EQ(E_FAIL, m_users->Remove(name.get())) << Narrow(shown);
        ExpectEvent(RemoveMiss(shown));
    }
    // The registry ignores case; no miss may have deleted a key.
    EXPECT_EQ(3u, Keys().size());
    EXPECT_EQ(3, Count());
}

TEST_F(ListTest, RemoveDeletesTheKeyAndDropsTheEntryButNotTheCursor)
{
    EXPECT_EQ(L"Alice", Next());
    ComPtr<IKalvoraUser> alice = Find(L"Alice");
    EXPECT_EQ(2u, RefCount(alice.Get()));
    EXPECT_EQ(S_OK, Remove(L"Alice"));
    EXPECT_EQ((Names{L"Bob", L"Carol"}), Keys());
    EXPECT_EQ(2, Count());
    EXPECT_EQ(1u, RefCount(alice.Get()));  // the collection let go, the caller did not
    // Bob moved into the place the cursor has passed; then the walk wraps.
    EXPECT_EQ(L"Carol", Next());
    EXPECT_EQ(L"Bob", Next());
    EXPECT_FALSE(Find(L"Alice"));
    ExpectEvent(ItemMiss(L"Alice"));
    EXPECT_EQ((Names{L"Bob", L"Carol"}), Walk());
}

TEST_F(ListTest, EntriesWithoutAKeyOfTheirOwnDeleteNothing)
{
    // An empty name would address the users key itself, a backslash a key further down.
    SetString(HKEY_LOCAL_MACHINE, UserPath(L"Alice\\sub"), L"x", L"x");
    for (const wchar_t* name : {L"", L"Alice\\sub", L"%s%n"}) {
        ComPtr<IKalvoraUser> user;
        ASSERT_EQ(S_OK, m_users->New(&user));
        EXPECT_EQ(S_OK, user->put_Name(Bstr(name).get()));
        ASSERT_EQ(S_OK, m_users->Add(user.Get()));
        EXPECT_EQ(E_FAIL, Remove(name));
        ExpectEvent(L"RegDeleteKey failed");
    }
    EXPECT_EQ(S_OK, m_users->Add(nullptr));
    EXPECT_EQ((Names{L"Alice", L"Bob", L"Carol", L"", L"Alice\\sub", L"%s%n", L"<E_FAIL>"}), Walk());

    // ClearKeys names the last user visited, literally.
    EXPECT_EQ(E_FAIL, m_users->ClearKeys());
    ExpectEvent(RemoveMiss(L"%s%n"));
    // Alice's key keeps its subkey, so the platform refuses to delete it.
    EXPECT_EQ((Names{L"Alice"}), Keys());
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserPath(L"Alice\\sub")));
}

TEST_F(ListTest, NewAndAddAppendWithoutChecksOrKeys)
{
    ComPtr<IKalvoraUser> dup;
    ASSERT_EQ(S_OK, m_users->New(&dup));
    EXPECT_EQ(BlankUser(L""), ViewOf(dup.Get()));
    EXPECT_EQ(1u, RefCount(dup.Get()));
    EXPECT_EQ(3, Count());

    // The same object twice, named like a loaded user.
    EXPECT_EQ(S_OK, dup->put_Name(Bstr(L"Alice").get()));
    EXPECT_EQ(L"Alice", Next());
    EXPECT_EQ(S_OK, m_users->Add(dup.Get()));
    EXPECT_EQ(S_OK, m_users->Add(dup.Get()));
    EXPECT_EQ(3u, RefCount(dup.Get()));
    EXPECT_EQ(L"Bob", Next());  // the cursor stayed
    EXPECT_EQ((Names{L"Alice", L"Bob", L"Carol", L"Alice", L"Alice"}), Walk());
    EXPECT_EQ(3u, Keys().size());

    // Lookups find the loaded Alice first; Remove drops that entry only.
    EXPECT_NE(dup.Get(), Find(L"Alice").Get());
    EXPECT_EQ(S_OK, Remove(L"Alice"));
    EXPECT_EQ(4, Count());
    EXPECT_EQ(dup.Get(), Find(L"Alice").Get());
    EXPECT_EQ(3u, RefCount(dup.Get()));
    // The collection holds each entry once, and its users outlive it.
    m_users.Reset();
    EXPECT_EQ(1u, RefCount(dup.Get()));
}

TEST_F(ListTest, ClearKeysDeletesTheListedKeysOnlyAndKeepsTheList)
{
    EXPECT_EQ(L"Alice", Next());
    SeedFullUser(L"Dave");  // not listed
    EXPECT_EQ(S_OK, m_users->ClearKeys());
    EXPECT_EQ((Names{L"Dave"}), Keys());
    EXPECT_EQ(3, Count());
    EXPECT_EQ(L"Bob", Next());
    EXPECT_EQ(FullUser(L"Carol"), ViewOf(Find(L"Carol").Get()));

    // Again, with every key missing: one report, naming the last user.
    EXPECT_EQ(E_FAIL, m_users->ClearKeys());
    ExpectEvent(RemoveMiss(L"Carol"));
    // Remove with the key missing keeps the user listed.
    EXPECT_EQ(E_FAIL, Remove(L"Bob"));
    ExpectEvent(L"RegDeleteKey failed");
    EXPECT_EQ(3, Count());
    EXPECT_TRUE(Find(L"Bob"));
    EXPECT_EQ((Names{L"Dave"}), Keys());
}

}  // namespace
}  // namespace kalvora::test
