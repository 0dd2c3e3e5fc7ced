// Listing the share store: the shares of a group (display texts, buffer
// edges) and the groups themselves.
#include "shares/ShareFixture.h"

using namespace kalvora::test;

namespace {

using ShareList = ShareStoreTest;
using GroupList = ShareStoreTest;

using Texts = std::vector<std::wstring>;

// Raw data that is stored exactly as given: the character after the counted
// ones is not null, so the registry adds no terminator.
void SetExact(const std::wstring& group, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ)
{
    std::wstring buffer = text + L"#";
    SetRaw(HKEY_LOCAL_MACHINE, GroupKey(group), name, type, buffer.c_str(),
           static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

// ---- shares of a group ----------------------------------------------------------

TEST_F(ShareList, GroupWithoutValuesHasNoShares)
{
    SetString(HKEY_LOCAL_MACHINE, GroupKey(L"Sales"), L"x", L"y");
    ASSERT_EQ(1u, List(L"Sales").size());

    // Emptied group: the count is 0 and the earlier list is gone.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, GroupKey(L"Sales").c_str(), 0, KEY_ALL_ACCESS, &key));
    RegDeleteValueW(key, L"x");
    RegCloseKey(key);
    LONG count = -1;
    EXPECT_EQ(S_OK, shares->GetShareCount(B(L"Sales").get(), &count));
    EXPECT_EQ(0, count);
    Bstr name(L"sentinel");
    EXPECT_EQ(E_INVALIDARG, shares->GetShareName(0, name.put()));
    EXPECT_TRUE(name.isNull());
    EXPECT_TRUE(events.Read().empty());
}

TEST_F(ShareList, MissingGroupIsCreatedEmpty)
{
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, GroupKey(L"Nowhere")));
    EXPECT_EQ(Texts{}, List(L"Nowhere"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, GroupKey(L"Nowhere")));
    EXPECT_TRUE(ValueNames(HKEY_LOCAL_MACHINE, GroupKey(L"Nowhere")).empty());
    EXPECT_TRUE(events.Read().empty());
}

TEST_F(ShareList, EmptyDataAgainstOneEmptyString)
{
    SetRaw(HKEY_LOCAL_MACHINE, GroupKey(L"G"), L"bare", REG_SZ, nullptr, 0);
    const wchar_t nul = L'\0';
    SetRaw(HKEY_LOCAL_MACHINE, GroupKey(L"G"), L"empty", REG_SZ, &nul, sizeof nul);
    EXPECT_EQ((Texts{L"bare", L"empty - []"}), List(L"G"));
}

TEST_F(ShareList, DataIsTextOfItsStoredLengthWhateverItsType)
{
    SetExact(L"G", L"a-unterminated", L"\\\\srv\\docs");
    SetString(HKEY_LOCAL_MACHINE, GroupKey(L"G"), L"b-terminated", L"\\\\srv\\pub");
    const DWORD number = 0x00420041;  // "AB" in UTF-16
    SetRaw(HKEY_LOCAL_MACHINE, GroupKey(L"G"), L"c-dword", REG_DWORD, &number, sizeof number);
    const wchar_t inner[] = {L'x', L'\0', L'y'};
    SetRaw(HKEY_LOCAL_MACHINE, GroupKey(L"G"), L"d-inner-null", REG_BINARY, inner, sizeof inner);
    const BYTE odd[] = {'Q', 0, 'R'};  // the half character at the end is dropped
    SetRaw(HKEY_LOCAL_MACHINE, GroupKey(L"G"), L"e-odd", REG_BINARY, odd, sizeof odd);

    EXPECT_EQ((Texts{L"a-unterminated - [\\\\srv\\docs]", L"b-terminated - [\\\\srv\\pub]", L"c-dword - [AB]",
                     L"d-inner-null - [x]", L"e-odd - [Q]"}),
              List(L"G"));
}

TEST_F(ShareList, DataOverTheBufferEndsTheListing)
{
    const std::wstring fits(260, L'f');    // 520 bytes
    const std::wstring tooLong(261, L't'); // 522 bytes
    SetExact(L"G", L"a", L"first");
    SetExact(L"G", L"b", fits);
    SetExact(L"G", L"c", tooLong);
    SetExact(L"G", L"d", L"after");

    EXPECT_EQ((Texts{L"a - [first]", L"b - [" + fits + L"]"}), List(L"G"));
    EXPECT_TRUE(events.Read().empty());

    // With the long value gone the rest is listed again.
    ASSERT_EQ(S_OK, Remove(L"G", L"c"));
    EXPECT_EQ(3u, List(L"G").size());
}

TEST_F(ShareList, TerminatedDataOfTheFullBufferEndsTheListing)
{
    // 259 characters and a terminator fill the 520 bytes; one more does not fit.
    SetString(HKEY_LOCAL_MACHINE, GroupKey(L"G"), L"a", std::wstring(259, L'x'));
    SetString(HKEY_LOCAL_MACHINE, GroupKey(L"G"), L"b", std::wstring(260, L'y'));
    EXPECT_EQ((Texts{L"a - [" + std::wstring(259, L'x') + L"]"}), List(L"G"));
}

TEST_F(ShareList, NameOverTheBufferEndsTheListing)
{
    const std::wstring fits(519, L'b');     // 519 characters and the terminator
    const std::wstring tooLong(520, L'c');
    SetExact(L"G", L"a", L"1");
    SetExact(L"G", fits.c_str(), L"2");
    SetExact(L"G", tooLong.c_str(), L"3");
    SetExact(L"G", L"d", L"4");

    EXPECT_EQ((Texts{L"a - [1]", fits + L" - [2]"}), List(L"G"));
}

TEST_F(ShareList, OnHttpPrefixIsHiddenOnce)
{
    SetExact(L"G", L"a", L"onhttp://web/,&agent=&AppType=");
    SetExact(L"G", L"b", L"onhttp://one/ [onhttp://two/");
    SetExact(L"G", L"c[onhttp", L"onhttp://three/");
    SetExact(L"G", L"d", L"ONHTTP://upper/");
    SetExact(L"G", L"e", L"on http://spaced/");
    SetExact(L"G", L"f", L"onhttps://secure/");

    EXPECT_EQ((Texts{L"a - [http://web/,&agent=&AppType=]",
                     L"b - [http://one/ [onhttp://two/]",
                     L"c[http - [onhttp://three/]",  // the first occurrence is in the name
                     L"d - [ONHTTP://upper/]",
                     L"e - [on http://spaced/]",
                     L"f - [https://secure/]"}),
              List(L"G"));
}

TEST_F(ShareList, EachCountReplacesTheList)
{
    SetExact(L"One", L"a", L"1");
    SetExact(L"One", L"b", L"2");
    SetExact(L"Two", L"z", L"9");
    ASSERT_EQ(2u, List(L"One").size());
    EXPECT_EQ(Texts{L"z - [9]"}, List(L"Two"));
    Bstr name;
    EXPECT_EQ(E_INVALIDARG, shares->GetShareName(1, name.put()));
    EXPECT_EQ(E_INVALIDARG, shares->GetShareName(-1, name.put()));
    EXPECT_TRUE(name.isNull());
    EXPECT_EQ(E_POINTER, shares->GetShareName(0, nullptr));
    EXPECT_EQ(E_POINTER, shares->GetShareCount(B(L"Two").get(), nullptr));
}

TEST_F(ShareList, GroupNamesWithBackslashesAddressNestedKeys)
{
    SetExact(L"Outer\\Inner", L"deep", L"\\\\srv\\deep");
    SetExact(L"Outer", L"top", L"\\\\srv\\top");

    EXPECT_EQ(Texts{L"deep - [\\\\srv\\deep]"}, List(L"Outer\\Inner"));
    EXPECT_EQ(Texts{L"top - [\\\\srv\\top]"}, List(L"Outer"));
    // A trailing separator names the same key.
    EXPECT_EQ(Texts{L"deep - [\\\\srv\\deep]"}, List(L"Outer\\Inner\\"));
    // A new nested group creates the whole path.
    EXPECT_EQ(Texts{}, List(L"New\\Sub\\Leaf"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, GroupKey(L"New\\Sub\\Leaf")));

    // Only the first level counts as a group.
    LONG count = -1;
    ASSERT_EQ(S_OK, shares->GetRegGroupCount(&count));
    EXPECT_EQ(2, count);
    std::vector<std::wstring> names;
    for (LONG i = 0; i < count; ++i) {
        Bstr name;
        ASSERT_EQ(S_OK, shares->GetRegGroupName(i, name.put()));
        names.push_back(name.str());
    }
    EXPECT_EQ((Texts{L"New", L"Outer"}), names);
}

TEST_F(ShareList, EmptyOrNullGroupListsTheGroupListKeyItself)
{
    SetExact(L"", L"loose", L"\\\\srv\\loose");  // a value directly under "shares"
    SetExact(L"G", L"inner", L"\\\\srv\\inner");
    EXPECT_EQ(Texts{L"loose - [\\\\srv\\loose]"}, List(L""));
    EXPECT_EQ(Texts{L"loose - [\\\\srv\\loose]"}, List(nullptr));
}

TEST_F(ShareList, KeyWithoutFullAccessCannotBeListed)
{
    SetExact(L"Locked", L"a", L"1");
    SetExact(L"Open", L"b", L"2");
    SetExact(L"Open", L"c", L"3");
    ASSERT_EQ(2u, List(L"Open").size());
    events.Clear();

    ReadOnlyKey lock(GroupKey(L"Locked"));
    LONG count = 77;
    EXPECT_EQ(E_FAIL, shares->GetShareCount(B(L"Locked").get(), &count));
    EXPECT_EQ(77, count);
    // The list of the last successful count is kept.
    Bstr name;
    ASSERT_EQ(S_OK, shares->GetShareName(1, name.put()));
    EXPECT_EQ(L"c - [3]", name.str());

    auto got = events.Read();
    ASSERT_EQ(1u, got.size());
    ExpectEvent(got[0], 0xC000000B, L"Error getting share key");
}

// ---- groups ----------------------------------------------------------------------

TEST_F(GroupList, NoGroups)
{
    LONG count = -1;
    ASSERT_EQ(S_OK, shares->GetRegGroupCount(&count));
    EXPECT_EQ(0, count);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kGroupList));

    Bstr name(L"sentinel");
    EXPECT_EQ(static_cast<HRESULT>(0x80070103), shares->GetRegGroupName(0, name.put()));
    EXPECT_TRUE(name.isNull());
    EXPECT_TRUE(events.Read().empty());
}

TEST_F(GroupList, CountsAndNamesSubkeys)
{
    const std::wstring longest(255, L'L');  // the longest key name the registry takes
    for (const std::wstring& g : {std::wstring(L"alpha"), std::wstring(L"Beta Group"), longest})
        ASSERT_EQ(Texts{}, List(g.c_str()));
    SetString(HKEY_LOCAL_MACHINE, kGroupList, L"not-a-group", L"values do not count");

    LONG count = -1;
    ASSERT_EQ(S_OK, shares->GetRegGroupCount(&count));
    ASSERT_EQ(3, count);
    std::vector<std::wstring> names;
    for (LONG i = 0; i < count; ++i) {
        Bstr name;
        ASSERT_EQ(S_OK, shares->GetRegGroupName(i, name.put()));
        names.push_back(name.str());
    }
    std::sort(names.begin(), names.end());
    std::vector<std::wstring> expected{L"Beta Group", longest, L"alpha"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, names);

    // Past the end, below 0 (an index the registry takes as huge): no more items.
    Bstr name;
    EXPECT_EQ(static_cast<HRESULT>(0x80070103), shares->GetRegGroupName(3, name.put()));
    EXPECT_EQ(static_cast<HRESULT>(0x80070103), shares->GetRegGroupName(-1, name.put()));
    EXPECT_TRUE(events.Read().empty());
    EXPECT_EQ(E_POINTER, shares->GetRegGroupCount(nullptr));
    EXPECT_EQ(E_POINTER, shares->GetRegGroupName(0, nullptr));
}

TEST_F(GroupList, GroupListKeyWithoutFullAccess)
{
    ASSERT_EQ(Texts{}, List(L"G"));
    events.Clear();
    ReadOnlyKey lock(kGroupList);

    // No key: the first enumeration step fails on the missing handle.
    LONG count = 55;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), shares->GetRegGroupCount(&count));
    EXPECT_EQ(55, count);
    auto countEvents = events.Read();
    ASSERT_EQ(2u, countEvents.size());
    ExpectEvent(countEvents[0], 0xC000000B, L"Error getting share key");
    ExpectEvent(countEvents[1], 0xC0001102, nullptr);
    events.Clear();

    BSTR untouched = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x1234));
    BSTR name = untouched;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), shares->GetRegGroupName(0, &name));
    EXPECT_EQ(untouched, name);
    auto nameEvents = events.Read();
    ASSERT_EQ(2u, nameEvents.size());
    ExpectEvent(nameEvents[0], 0xC000000B, L"Error getting share key");
    ExpectEvent(nameEvents[1], 0xC0001102, nullptr);
    // Each method reports from its own lines.
    EXPECT_EQ(countEvents[0].line, nameEvents[0].line);  // both from the key opener
    EXPECT_NE(countEvents[1].line, nameEvents[1].line);
}

}  // namespace
