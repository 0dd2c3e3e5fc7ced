// Publishing and removing shares: validation codes, the duplicate search,
// the stored configuration text, removal by display text, and the events.
#include "shares/ShareFixture.h"

using namespace kalvora::test;

namespace {

using PutShare = ShareStoreTest;
using RemoveShare = ShareStoreTest;

using Texts = std::vector<std::wstring>;

// ---- validation ------------------------------------------------------------------

TEST_F(PutShare, BlankArgumentsInCheckOrder)
{
    struct Case {
        const wchar_t* group;
        const wchar_t* name;
        const wchar_t* pass;
        const wchar_t* path;
        LONG expected;
    };
    const Case cases[] = {
        {L"", L"", L"", L"", -2},              // the name is checked first
        {nullptr, nullptr, nullptr, nullptr, -2},
        {L"G", L" ", L"", L"\\\\s\\x", -2},
        {L"G", L"  ", L"", L"\\\\s\\x", -2},
        {L"", L"n", L"", L"", -3},             // then the group
        {L" ", L"n", L"", L"\\\\s\\x", -3},
        {L"  ", L"n", L"", L"\\\\s\\x", -3},
        {nullptr, L"n", L"", L"\\\\s\\x", -3},
        {L"G", L"n", L"", L"", -4},            // then prefix and path together
        {L"G", L"n", nullptr, nullptr, -4},
        {L"G", L"n", L" ", L"", -4},
        {L"G", L"n", L"", L" ", -4},
        {L"G", L"n", L" ", L" ", -4},
        {L"G", L"n", L"", L"  ", -4},
    };
    for (const Case& c : cases) {
        LONG error = 0;
        EXPECT_EQ(S_OK, Put(error, c.group, c.name, c.path, c.pass));
        EXPECT_EQ(c.expected, error) << "group '" << Narrow(c.group ? c.group : L"(null)") << "' name '"
                                     << Narrow(c.name ? c.name : L"(null)") << "' pass '"
                                     << Narrow(c.pass ? c.pass : L"(null)") << "' path '"
                                     << Narrow(c.path ? c.path : L"(null)") << "'";
    }
    // Nothing was opened or created, nothing reported.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kStoreRoot));
    EXPECT_TRUE(events.Read().empty());
    EXPECT_EQ(E_POINTER, shares->PutShare(B(L"G").get(), B(L"n").get(), B(L"\\\\s\\x").get(), nullptr, nullptr,
                                          nullptr, nullptr));
}

TEST_F(PutShare, LongerRunsOfSpaceAreNotBlank)
{
    PutOk(L"G", L"   ", L"\\\\srv\\three");
    PutOk(L"G", L"\t", L"\\\\srv\\tab");
    PutOk(L"   ", L"n", L"\\\\srv\\x");
    PutOk(L"G", L"spaces", L"   ");
    PutOk(L"G", L"tabs", L"\t");

    EXPECT_EQ(L"\\\\srv\\three", StoredData(L"G", L"   "));
    EXPECT_EQ(L"\\\\srv\\tab", StoredData(L"G", L"\t"));
    EXPECT_EQ(L"\\\\srv\\x", StoredData(L"   ", L"n"));
    EXPECT_EQ(L"   ,&agent=&AppType=", StoredData(L"G", L"spaces"));
    EXPECT_EQ(L"\t,&agent=&AppType=", StoredData(L"G", L"tabs"));
    Texts shown = List(L"G");
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ((Texts{L"\t - [\\\\srv\\tab]", L"    - [\\\\srv\\three]", L"spaces - [   ,&agent=&AppType=]",
                     L"tabs - [\t,&agent=&AppType=]"}),
              shown);
}

TEST_F(PutShare, OneSpacePrefixAgainstOnPrefixWithEmptyPath)
{
    LONG error = 0;
    ASSERT_EQ(S_OK, Put(error, L"G", L"space", L"", L" "));
    EXPECT_EQ(-4, error);
    PutOk(L"G", L"on", L"", L"on");
    EXPECT_EQ(L"on,&agent=&AppType=", StoredData(L"G", L"on"));
    EXPECT_EQ(Texts{L"on - [on,&agent=&AppType=]"}, List(L"G"));
}

// ---- duplicates ------------------------------------------------------------------

TEST_F(PutShare, ExactDuplicateIsRefused)
{
    PutOk(L"G", L"Docs", L"\\\\srv\\docs");
    PutOk(L"G", L"Other", L"\\\\srv\\other");
    LONG error = 0;
    ASSERT_EQ(S_OK, Put(error, L"G", L"Other", L"\\\\srv\\changed"));
    EXPECT_EQ(-1, error);
    ASSERT_EQ(S_OK, Put(error, L"G", L"Docs", L"\\\\srv\\changed"));
    EXPECT_EQ(-1, error);
    EXPECT_EQ(L"\\\\srv\\docs", StoredData(L"G", L"Docs"));
    EXPECT_EQ(L"\\\\srv\\other", StoredData(L"G", L"Other"));

    // Only the same group counts.
    PutOk(L"H", L"Docs", L"\\\\srv\\elsewhere");
    // A name that is only a prefix or an extension is no duplicate.
    PutOk(L"G", L"Doc", L"\\\\srv\\doc");
    PutOk(L"G", L"Docs2", L"\\\\srv\\docs2");
    EXPECT_EQ(4u, ValueNames(HKEY_LOCAL_MACHINE, GroupKey(L"G")).size());
    EXPECT_TRUE(events.Read().empty());
}

TEST_F(PutShare, CaseDifferentNameReplacesTheShare)
{
    PutOk(L"G", L"Docs", L"\\\\srv\\old");
    PutOk(L"G", L"DOCS", L"\\\\srv\\new");
    auto names = ValueNames(HKEY_LOCAL_MACHINE, GroupKey(L"G"));
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(L"\\\\srv\\new", StoredData(L"G", names[0].c_str()));
    EXPECT_EQ(1u, List(L"G").size());
}

// ---- configuration text ------------------------------------------------------------

TEST_F(PutShare, UncPathIsStoredUnchangedWithoutTerminator)
{
    PutOk(L"G", L"unc", L"\\\\server\\share\\dir", L"", L"agent", L"app");
    DWORD type = 0;
    auto raw = GetRaw(HKEY_LOCAL_MACHINE, GroupKey(L"G"), L"unc", &type);
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    const std::wstring expected = L"\\\\server\\share\\dir";
    ASSERT_EQ(expected.size() * sizeof(wchar_t), raw->size());  // no terminator
    EXPECT_EQ(expected, std::wstring(reinterpret_cast<const wchar_t*>(raw->data()), expected.size()));

    // The prefix stands in front of the path and is part of the UNC test.
    PutOk(L"G", L"split", L"server\\share", L"\\\\");
    EXPECT_EQ(L"\\\\server\\share", StoredData(L"G", L"split"));
    // One backslash is no UNC path.
    PutOk(L"G", L"local", L"\\dir");
    EXPECT_EQ(L"\\dir,&agent=&AppType=", StoredData(L"G", L"local"));
}

TEST_F(PutShare, TsTargetsInAnyCaseAreStoredUnchanged)
{
    PutOk(L"G", L"lower", L"ts://host1", L"", L"agent", L"app");
    PutOk(L"G", L"upper", L"TS://host2", L"", L"agent", L"app");
    PutOk(L"G", L"mixed1", L"Ts://host3", L"", L"agent", L"app");
    PutOk(L"G", L"mixed2", L"tS://host4", L"", L"agent", L"app");
    PutOk(L"G", L"joined", L"s-host5", L"t", L"agent", L"app");  // "t" + "s-host5"
    PutOk(L"G", L"bare", L"ts");
    PutOk(L"G", L"onlyT", L"t", L"", L"agent", L"app");
    PutOk(L"G", L"later", L"xts://host6", L"", L"agent", L"app");

    EXPECT_EQ(L"ts://host1", StoredData(L"G", L"lower"));
    EXPECT_EQ(L"TS://host2", StoredData(L"G", L"upper"));
    EXPECT_EQ(L"Ts://host3", StoredData(L"G", L"mixed1"));
    EXPECT_EQ(L"tS://host4", StoredData(L"G", L"mixed2"));
    EXPECT_EQ(L"ts-host5", StoredData(L"G", L"joined"));
    EXPECT_EQ(L"ts", StoredData(L"G", L"bare"));
    EXPECT_EQ(L"t,&agent=agent&AppType=app", StoredData(L"G", L"onlyT"));
    EXPECT_EQ(L"xts://host6,&agent=agent&AppType=app", StoredData(L"G", L"later"));
}

TEST_F(PutShare, WebAddressCarriesAgentAndAppType)
{
    PutOk(L"G", L"empty", L"http://web/", L"", L"", L"");
    PutOk(L"G", L"null", L"http://web/", L"", nullptr, nullptr);
    PutOk(L"G", L"full", L"http://web/app", L"", L"IE", L"Portal");
    PutOk(L"G", L"literal", L"http://web/%s", L"", L"a%sb", L"100%%");

    EXPECT_EQ(L"http://web/,&agent=&AppType=", StoredData(L"G", L"empty"));
    EXPECT_EQ(L"http://web/,&agent=&AppType=", StoredData(L"G", L"null"));
    EXPECT_EQ(L"http://web/app,&agent=IE&AppType=Portal", StoredData(L"G", L"full"));
    EXPECT_EQ(L"http://web/%s,&agent=a%sb&AppType=100%%", StoredData(L"G", L"literal"));
}

TEST_F(PutShare, OnPrefixIsStoredAndHiddenInTheListing)
{
    PutOk(L"G", L"web", L"http://portal/", L"on", L"IE", L"X");
    EXPECT_EQ(L"onhttp://portal/,&agent=IE&AppType=X", StoredData(L"G", L"web"));
    EXPECT_EQ(Texts{L"web - [http://portal/,&agent=IE&AppType=X]"}, List(L"G"));
}

TEST_F(PutShare, ConfigurationTextLimit)
{
    // 519 characters are written; 520 are refused before anything is written.
    const std::wstring unc519 = L"\\\\" + std::wstring(517, L'u');
    PutOk(L"Big", L"unc519", unc519.c_str());
    EXPECT_EQ(unc519, StoredData(L"Big", L"unc519"));

    const std::wstring unc520 = L"\\\\" + std::wstring(518, L'u');
    LONG error = 7;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), Put(error, L"G", L"unc520", unc520.c_str()));
    EXPECT_EQ(0, error);

    // The formatted text counts: 500 + 17 + 2 characters fit, one more does not.
    const std::wstring path(500, L'p');
    PutOk(L"Web", L"web519", path.c_str(), L"", L"a", L"b");
    EXPECT_EQ(519u, StoredData(L"Web", L"web519").size());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
              Put(error, L"G", L"web520", path.c_str(), L"", L"ab", L"c"));
    EXPECT_EQ(0, error);

    // Far beyond the limit.
    const std::wstring huge(100000, L'h');
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), Put(error, L"G", L"huge", huge.c_str(), L"ts"));
    EXPECT_TRUE(ValueNames(HKEY_LOCAL_MACHINE, GroupKey(L"G")).empty());
    EXPECT_TRUE(events.Read().empty());
}

// ---- failures --------------------------------------------------------------------

TEST_F(PutShare, OversizedValueBlocksLaterShares)
{
    // A value over 520 bytes first in its group: the first enumeration call fails.
    PutOk(L"First", L"big", (L"\\\\" + std::wstring(259, L'b')).c_str());  // 261 characters
    EXPECT_EQ(Texts{}, List(L"First"));
    events.Clear();
    LONG error = 9;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MORE_DATA), Put(error, L"First", L"next", L"\\\\srv\\next"));
    EXPECT_EQ(0, error);
    EXPECT_FALSE(GetRaw(HKEY_LOCAL_MACHINE, GroupKey(L"First"), L"next").has_value());
    auto first = events.Read();
    ASSERT_EQ(1u, first.size());
    ExpectEvent(first[0], 0xC0001102, nullptr);
    events.Clear();

    // Behind a small value: a later enumeration call fails, from another line.
    PutOk(L"Later", L"a", L"\\\\srv\\a");
    PutOk(L"Later", L"big", (L"\\\\" + std::wstring(259, L'b')).c_str());
    EXPECT_EQ(Texts{L"a - [\\\\srv\\a]"}, List(L"Later"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MORE_DATA), Put(error, L"Later", L"next", L"\\\\srv\\next"));
    EXPECT_EQ(0, error);
    // A duplicate in front of the long value is still found.
    EXPECT_EQ(S_OK, Put(error, L"Later", L"a", L"\\\\srv\\again"));
    EXPECT_EQ(-1, error);
    auto later = events.Read();
    ASSERT_EQ(1u, later.size());
    ExpectEvent(later[0], 0xC0001102, nullptr);
    EXPECT_NE(first[0].line, later[0].line);

    // Removing the long value unblocks the group.
    ASSERT_EQ(S_OK, Remove(L"Later", L"big"));
    PutOk(L"Later", L"next", L"\\\\srv\\next");
}

TEST_F(PutShare, WriteFailureIsReportedAsAccessDenied)
{
    // The registry refuses value names over 16,383 characters.
    const std::wstring name(16384, L'n');
    LONG error = 3;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), Put(error, L"G", name.c_str(), L"\\\\srv\\x"));
    EXPECT_EQ(0, error);
    auto got = events.Read();
    ASSERT_EQ(1u, got.size());
    ExpectEvent(got[0], 0xC000000B, (L"Error Writing Share Configuration: (" + name + L"), Access Denied").c_str());
    EXPECT_TRUE(ValueNames(HKEY_LOCAL_MACHINE, GroupKey(L"G")).empty());
}

TEST_F(PutShare, GroupKeyWithoutFullAccess)
{
    PutOk(L"Locked", L"a", L"\\\\srv\\a");
    events.Clear();
    ReadOnlyKey lock(GroupKey(L"Locked"));
    LONG error = 4;
    EXPECT_EQ(E_FAIL, Put(error, L"Locked", L"b", L"\\\\srv\\b"));
    EXPECT_EQ(0, error);
    auto got = events.Read();
    ASSERT_EQ(1u, got.size());
    ExpectEvent(got[0], 0xC000000B, L"Error getting share key");
}

// ---- removing --------------------------------------------------------------------

TEST_F(RemoveShare, ByDisplayText)
{
    PutOk(L"G", L"docs", L"\\\\srv\\docs");
    PutOk(L"G", L"web", L"http://portal/", L"on", L"IE", L"X");
    PutOk(L"G", L"zz", L"ts://host");
    auto before = List(L"G");
    ASSERT_EQ(3u, before.size());

    // The web share is shown without its "on" prefix; the cut keeps the name.
    EXPECT_EQ(S_OK, Remove(L"G", before[1].c_str()));
    EXPECT_EQ(S_OK, Remove(L"G", before[0].c_str()));
    EXPECT_EQ(Texts{L"zz - [ts://host]"}, List(L"G"));
    EXPECT_EQ(S_OK, Remove(L"G", L"zz - [ts://host]"));
    EXPECT_EQ(Texts{}, List(L"G"));
    EXPECT_TRUE(events.Read().empty());

    // The emptied group stays a group.
    LONG count = 0;
    ASSERT_EQ(S_OK, shares->GetRegGroupCount(&count));
    EXPECT_EQ(1, count);
}

TEST_F(RemoveShare, TextWithoutSeparatorIsTheValueName)
{
    SetRaw(HKEY_LOCAL_MACHINE, GroupKey(L"G"), L"bare", REG_SZ, nullptr, 0);
    PutOk(L"G", L"docs", L"\\\\srv\\docs");
    auto shown = List(L"G");
    ASSERT_EQ((Texts{L"bare", L"docs - [\\\\srv\\docs]"}), shown);
    EXPECT_EQ(S_OK, Remove(L"G", shown[0].c_str()));
    EXPECT_EQ(S_OK, Remove(L"G", L"docs"));
    EXPECT_TRUE(ValueNames(HKEY_LOCAL_MACHINE, GroupKey(L"G")).empty());
}

TEST_F(RemoveShare, MissingGroupIsCreatedAndReturnsTheRawCode)
{
    EXPECT_EQ(static_cast<HRESULT>(ERROR_FILE_NOT_FOUND), Remove(L"Ghost", L"docs - [\\\\srv\\docs]"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, GroupKey(L"Ghost")));
    auto got = events.Read();
    ASSERT_EQ(1u, got.size());
    ExpectEvent(got[0], 0xC000000B, L"Error Deleting key: (docs), Access Denied");
}

TEST_F(RemoveShare, NameContainingTheSeparatorIsCutShort)
{
    PutOk(L"G", L"a - [b", L"\\\\srv\\x");
    auto shown = List(L"G");
    ASSERT_EQ(Texts{L"a - [b - [\\\\srv\\x]"}, shown);

    EXPECT_EQ(static_cast<HRESULT>(ERROR_FILE_NOT_FOUND), Remove(L"G", shown[0].c_str()));
    EXPECT_EQ(L"\\\\srv\\x", StoredData(L"G", L"a - [b"));
    auto got = events.Read();
    ASSERT_EQ(1u, got.size());
    ExpectEvent(got[0], 0xC000000B, L"Error Deleting key: (a), Access Denied");

    // With a share named by the text in front, that one goes instead.
    PutOk(L"G", L"a", L"\\\\srv\\a");
    EXPECT_EQ(S_OK, Remove(L"G", shown[0].c_str()));
    EXPECT_EQ(Texts{L"a - [b - [\\\\srv\\x]"}, List(L"G"));
}

TEST_F(RemoveShare, EmptyGroupAddressesTheGroupListKey)
{
    SetString(HKEY_LOCAL_MACHINE, kGroupList, L"loose", L"x");
    PutOk(L"G", L"loose", L"\\\\srv\\kept");
    EXPECT_EQ(S_OK, Remove(nullptr, L"loose - [x]"));
    EXPECT_FALSE(GetRaw(HKEY_LOCAL_MACHINE, kGroupList, L"loose").has_value());
    EXPECT_EQ(L"\\\\srv\\kept", StoredData(L"G", L"loose"));
    EXPECT_EQ(static_cast<HRESULT>(ERROR_FILE_NOT_FOUND), Remove(L"", L"loose"));
}

TEST_F(RemoveShare, GroupKeyWithoutFullAccess)
{
    PutOk(L"Locked", L"a", L"\\\\srv\\a");
    events.Clear();
    {
        ReadOnlyKey lock(GroupKey(L"Locked"));
        EXPECT_EQ(E_FAIL, Remove(L"Locked", L"a - [\\\\srv\\a]"));
    }
    EXPECT_EQ(L"\\\\srv\\a", StoredData(L"Locked", L"a"));
    auto got = events.Read();
    ASSERT_EQ(1u, got.size());
    ExpectEvent(got[0], 0xC000000B, L"Error getting share key");
}

}  // namespace
