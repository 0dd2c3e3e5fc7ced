// The share store: listing groups and shares, publishing and removing shares,
// and the events. Every test starts without a store, and ends with every
// event checked and nothing leaked.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace kalvora::test {
namespace {

using namespace std::string_literals;
const HKEY kHklm = HKEY_LOCAL_MACHINE;
const std::wstring kStoreRoot = L"Software\\Kalvora\\Ostrel\\2.0", kGroupList = kStoreRoot + L"\\shares";
const std::wstring kKeyError = L"C000000B Error getting share key", kEnumError = L"C0001102 \\0";  // no text
std::wstring GroupKey(const std::wstring& group) { return kGroupList + L"\\" + group; }

// Stores text exactly: a non-null character follows the counted ones, so the
// registry adds no terminator.
void SetExact(const std::wstring& group, const std::wstring& name, const std::wstring& text)
{
    SetRaw(kHklm, GroupKey(group), name.c_str(), REG_SZ, (text + L"#").c_str(), DWORD(text.size() * 2));
}
// A stored value as text of its whole length, and its type.
std::wstring Stored(const std::wstring& group, const std::wstring& name)
{
    DWORD type = 0;
    std::wstring text = GetStored(kHklm, GroupKey(group), name.c_str(), &type);
    return text + (type == REG_SZ || text == L"<missing>" ? L"" : L" of type " + std::to_wstring(type));
}

class ShareStore : public ModuleTest {
protected:
    ShareStore() { file_ = L"shares/KalvoraShares.cpp"; }
    void SetUp() override { DeleteTree(kHklm, kStoreRoot); }
    void TearDown() override
    {
        ModuleTest::TearDown();
        shares_.Reset();
        DeleteTree(kHklm, kStoreRoot);
    }
    std::wstring Do(const std::wstring& call) { return Call(shares_.Get(), call); }
    // The display texts of a group, through GetShareCount and GetShareName, each followed by ';'.
    std::wstring List(const std::wstring& group)
    {
        std::wstring texts = Do(L"GetShareCount|" + group) + L":";
        for (int i = 0, n = _wtoi(texts.c_str()); i < n; ++i)
            texts += Do(L"GetShareName|" + std::to_wstring(i)) + L";";
        return texts;
    }

    ComPtr<IKalvoraShares> shares_ = Create<IKalvoraShares>(CLSID_KalvoraShares);
};

TEST_F(ShareStore, DisplayTextIsTheNameAndTheDataOfItsStoredLength)
{
    const std::pair<std::wstring, std::wstring> cases[] = {  // a share's data, and how it is shown
        {L"\\\\srv\\docs", L"[\\\\srv\\docs]"}, {L"\0"s, L"[]"}, {L"x\0y"s, L"[x]"},
        // "on" in front of a web address is hidden, once, after the first "[".
        {L"onhttp://w/,&agent=&AppType=", L"[http://w/,&agent=&AppType=]"},
        {L"onhttp://1/ [onhttp://2/", L"[http://1/ [onhttp://2/]"}, {L"ONHTTP://u/", L"[ONHTTP://u/]"}};
    for (const auto& [data, shown] : cases) {
        SetExact(L"G", L"s", data);
        EXPECT_EQ(L"1:s - " + shown + L";", List(L"G"));
    }
    SetRaw(kHklm, GroupKey(L"G"), L"s", REG_BINARY, "Q\0R", 3);  // a half character goes
    EXPECT_EQ(L"1:s - [Q];", List(L"G"));
    SetRaw(kHklm, GroupKey(L"G"), L"s", REG_SZ, nullptr, 0);  // no data: the name alone
    SetExact(L"G", L"c[onhttp", L"onhttp://3/");
    EXPECT_EQ(L"2:c[http - [onhttp://3/];s;", List(L"G"));
    // Per group: a value, the largest that fits the buffers, the smallest that does not,
    // a value: the listing ends at the one that does not fit.
    const std::wstring limits[][4] = {
        {L"b", std::wstring(260, L'f'), L"c", std::wstring(261, L'o')},                  // 520 / 522 bytes
        {L"b", std::wstring(259, L'f') + L"\0"s, L"c", std::wstring(260, L'o') + L"\0"s},  // with terminator
        {std::wstring(519, L'b'), L"2", std::wstring(520, L'c'), L"3"},                  // name characters
    };
    for (size_t i = 0; i < std::size(limits); ++i) {
        const std::wstring group = L"limit" + std::to_wstring(i), *l = limits[i];
        SetExact(group, L"a", L"1");
        SetExact(group, l[0], l[1]);
        SetExact(group, l[2], l[3]);
        SetExact(group, L"d", L"4");
        EXPECT_EQ(L"2:a - [1];" + l[0] + L" - [" + l[1].c_str() + L"];", List(group));
    }
}

TEST_F(ShareStore, CountsReplaceTheListAndGroupsAreFirstLevelKeys)
{
    SetExact(L"Two", L"a", L"1");
    SetExact(L"Two", L"b", L"2");
    SetExact(L"One", L"z", L"9");
    SetExact(L"Outer\\Inner", L"deep", L"x");
    SetExact(L"", L"loose", L"x");  // an empty or null group is the key "shares\" itself
    const std::wstring longest(255, L'L');  // the longest key name the registry takes
    ExpectCalls(shares_.Get(), {
        {L"GetShareName|0", L"!E_INVALIDARG"}, {L"GetShareCount|Two", L"2"}, {L"GetShareCount|One", L"1"},
        {L"GetShareName|0", L"z - [9]"}, {L"GetShareName|1", L"!E_INVALIDARG"}, {L"GetShareName|-1", L"!E_INVALIDARG"},
        {L"GetShareCount|Outer", L"0"}, {L"GetShareCount|Outer\\Inner\\", L"1"}, {L"GetShareCount|Nowhere", L"0"},
        {L"GetShareCount|New\\Sub\\Leaf", L"0"}, {L"GetShareCount|" + longest, L"0"},
        {L"GetShareCount|<null>", L"1"}, {L"GetShareName|0", L"loose - [x]"}, {L"GetShareCount|", L"1"},
        {L"RemoveShare||loose - [x]", L""}, {L"GetShareCount|<null>", L"0"},
        // Groups: the keys one level down (created by the listings), in registry order.
        {L"GetRegGroupCount", L"6"}, {L"GetRegGroupName|0", longest}, {L"GetRegGroupName|5", L"Two"},
        {L"GetRegGroupName|6", L"!0x80070103"}, {L"GetRegGroupName|-1", L"!0x80070103"},  // -1: a huge index
    });
    EXPECT_EQ(L"<missing>", Stored(L"", L"loose"));
}

TEST_F(ShareStore, BlankArgumentsAreRefusedInCheckOrder)
{
    // Blank is empty, one space or two spaces: the name first, then the group, then prefix and path.
    ExpectCalls(shares_.Get(), {
        {L"PutShare||||||", L"-2"}, {L"PutShare|<null>|<null>|<null>|<null>|<null>|<null>", L"-2"},
        {L"PutShare|G| |\\\\s\\x|||", L"-2"}, {L"PutShare|G|  |\\\\s\\x|||", L"-2"},
        {L"PutShare||n||||", L"-3"}, {L"PutShare| |n|\\\\s\\x|||", L"-3"}, {L"PutShare|  |n|\\\\s\\x|||", L"-3"},
        {L"PutShare|<null>|n|\\\\s\\x|||", L"-3"}, {L"PutShare|G|n|<null>|<null>||", L"-4"},
        {L"PutShare|G|n|| ||", L"-4"}, {L"PutShare|G|n| |||", L"-4"}, {L"PutShare|G|n| | ||", L"-4"},
    });
    EXPECT_FALSE(KeyExists(kHklm, kStoreRoot));  // nothing opened or created
}

TEST_F(ShareStore, StoredConfigurationText)
{
    // Group, name, path, prefix, agent, application type; and what is stored. UNC
    // paths and "ts" targets as they are, anything else with agent and application type.
    const std::wstring unc519 = L"\\\\" + std::wstring(517, L'u'), web500(500, L'w');
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"G|   |\\\\srv\\three|||", L"\\\\srv\\three"},  // longer runs of blanks are not blank
        {L"   |n|\\\\srv\\x|||", L"\\\\srv\\x"}, {L"G|spaces|   |||", L"   ,&agent=&AppType="},
        {L"G|on||on||", L"on,&agent=&AppType="}, {L"G|split|server\\share|\\\\|a|b", L"\\\\server\\share"},
        {L"G|local|\\dir|||", L"\\dir,&agent=&AppType="}, {L"G|lower|ts://h1||a|b", L"ts://h1"},
        {L"G|upper|TS://h2||a|b", L"TS://h2"}, {L"G|mixed|tS://h3||a|b", L"tS://h3"},
        {L"G|joined|s-h5|t|a|b", L"ts-h5"}, {L"G|onlyT|t||a|b", L"t,&agent=a&AppType=b"},
        {L"G|later|xts://h6||a|b", L"xts://h6,&agent=a&AppType=b"},
        {L"G|null|http://w/||<null>|<null>", L"http://w/,&agent=&AppType="},
        {L"G|literal|http://w/%s||a%sb|1%%", L"http://w/%s,&agent=a%sb&AppType=1%%"},
        {L"G|web|http://p/|on|IE|X", L"onhttp://p/,&agent=IE&AppType=X"},
        {L"L1|n|" + unc519 + L"|||", unc519}, {L"L2|n|" + web500 + L"||a|b", web500 + L",&agent=a&AppType=b"},
    };
    for (const auto& [args, stored] : cases) {
        EXPECT_EQ(L"0", Do(L"PutShare|" + args)) << args;
        const std::wstring group = args.substr(0, args.find(L'|')), rest = args.substr(group.size() + 1);
        EXPECT_EQ(stored, Stored(group, rest.substr(0, rest.find(L'|'))));  // its length exactly: no terminator
    }
    // 519 characters are the most that is written: one more is refused, and nothing is written.
    ExpectCalls(shares_.Get(), {{L"PutShare|L3|n|" + unc519 + L"u|||", L"!0x8007007A"},
                                {L"PutShare|L4|n|" + web500 + L"||ab|c", L"!0x8007007A"},
                                {L"PutShare|L5|n|" + std::wstring(100000, L'h') + L"|ts||", L"!0x8007007A"}});
    for (const wchar_t* group : {L"L3", L"L4", L"L5"})
        EXPECT_EQ(Texts{}, Names(kHklm, GroupKey(group), true));
    // A share of exactly this name, in this group, is refused; a name in other letter
    // case replaces it (the registry ignores case).
    ExpectCalls(shares_.Get(), {{L"PutShare|G|web|\\\\srv\\x|||", L"-1"}, {L"PutShare|G|spaces|\\\\srv\\x|||", L"-1"},
                                {L"PutShare|H|web|\\\\srv\\x|||", L"0"}, {L"PutShare|G|we|\\\\srv\\x|||", L"0"},
                                {L"PutShare|G|webs|\\\\srv\\x|||", L"0"}, {L"PutShare|G|WEB|\\\\srv\\new|||", L"0"}});
    EXPECT_EQ(L"\\\\srv\\new", Stored(L"G", L"web"));
}

TEST_F(ShareStore, WriteFailures)
{
    const std::wstring big = L"\\\\" + std::wstring(259, L'b');  // 522 bytes
    ExpectCalls(shares_.Get(), {
        // First in its group: the first enumeration call fails.
        {L"PutShare|First|big|" + big + L"|||", L"0"}, {L"PutShare|First|next|\\\\srv\\next|||", L"!0x800700EA"},
        // Behind a small value: a later call fails; the small value is still found.
        {L"PutShare|Later|a|\\\\srv\\a|||", L"0"}, {L"PutShare|Later|big|" + big + L"|||", L"0"},
        {L"PutShare|Later|next|\\\\srv\\next|||", L"!0x800700EA"}, {L"PutShare|Later|a|\\\\srv\\again|||", L"-1"},
        {L"RemoveShare|Later|big", L""}, {L"PutShare|Later|next|\\\\srv\\next|||", L"0"}});
    EXPECT_EQ(L"<missing>", Stored(L"First", L"next"));
    // A value the registry refuses (its name is over 16,383 characters) is reported as access denied.
    const std::wstring name(16384, L'n');
    EXPECT_EQ(L"!E_INVALIDARG", Do(L"PutShare|G|" + name + L"|\\\\s\\x|||"));
    EXPECT_EQ(Texts{}, Names(kHklm, GroupKey(L"G"), true));
    ExpectEvents({kEnumError, kEnumError, L"C000000B Error Writing Share Configuration: (" + name + L"), Access Denied"});
}

TEST_F(ShareStore, RemoveTakesTheDisplayTextAndReturnsRawCodes)
{
    SetRaw(kHklm, GroupKey(L"G"), L"bare", REG_SZ, nullptr, 0);  // shown by its name alone
    ExpectCalls(shares_.Get(), {{L"PutShare|G|docs|\\\\srv\\docs|||", L"0"}, {L"PutShare|G|web|http://p/|on|IE|X", L"0"},
                                {L"PutShare|G|a - [b|\\\\srv\\x|||", L"0"}});
    EXPECT_EQ(L"4:a - [b - [\\\\srv\\x];bare;docs - [\\\\srv\\docs];web - [http://p/,&agent=IE&AppType=X];", List(L"G"));
    for (int i = 3; i > 0; --i)
        EXPECT_EQ(S_OK, shares_->RemoveShare(B(L"G").Get(), B(Do(L"GetShareName|" + std::to_wstring(i))).Get()));
    EXPECT_EQ((Texts{L"a - [b"}), Names(kHklm, GroupKey(L"G"), true));
    // A name holding " - [" is cut at its first one; a failure returns the raw Win32 code.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, shares_->RemoveShare(B(L"G").Get(), B(L"a - [b - [\\\\srv\\x]").Get()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, shares_->RemoveShare(B(L"Ghost").Get(), B(L"docs - [x]").Get()));
    EXPECT_TRUE(KeyExists(kHklm, GroupKey(L"Ghost")));  // created on the way
    EXPECT_EQ(L"2", Do(L"GetRegGroupCount"));           // the emptied group stays
    ExpectEvents({L"C000000B Error Deleting key: (a), Access Denied", L"C000000B Error Deleting key: (docs), Access Denied"});
}

TEST_F(ShareStore, KeysWithoutFullAccess)
{
    SetExact(L"Locked", L"a", L"1");
    SetExact(L"Open", L"c", L"3");
    const wchar_t kReadOnly[] = L"D:P(A;;KR;;;WD)";
    {
        auto locked = Restrict(kHklm, GroupKey(L"Locked"), kReadOnly);
        LONG count = 77;
        ExpectCalls(shares_.Get(), {{L"GetShareCount|Open", L"1"}, {L"GetShareCount|Locked", L"!E_FAIL"},
                                    {L"GetShareName|0", L"c - [3]"},  // the list of the last count stays
                                    {L"PutShare|Locked|b|\\\\srv\\b|||", L"!E_FAIL"}, {L"RemoveShare|Locked|a", L"!E_FAIL"}});
        EXPECT_EQ(E_FAIL, shares_->GetShareCount(B(L"Locked").Get(), &count));
        EXPECT_EQ(77, count);
        EXPECT_EQ(Texts{L"a"}, Names(kHklm, GroupKey(L"Locked"), true));
        ExpectEvents({kKeyError, kKeyError, kKeyError, kKeyError});
    }
    // No group list key: the first enumeration step fails on the missing handle.
    auto locked = Restrict(kHklm, kGroupList, kReadOnly);
    LONG count = 77;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), shares_->GetRegGroupCount(&count));
    EXPECT_EQ(77, count);
    BSTR untouched = reinterpret_cast<BSTR>(INT_PTR(0x1234)), raw = untouched;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), shares_->GetRegGroupName(0, &raw));
    EXPECT_EQ(untouched, raw);
    ExpectEvents({kKeyError, kEnumError, kKeyError, kEnumError});
}

}  // namespace
}  // namespace kalvora::test
