// The share store: listing groups and shares, publishing and removing shares, and the events.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

using Texts = std::vector<std::wstring>;
using Result = std::pair<HRESULT, LONG>;  // PutShare's result and error code
const HKEY kHklm = HKEY_LOCAL_MACHINE;
const std::wstring kStoreRoot = L"Software\\Kalvora\\Ostrel\\2.0";
const std::wstring kGroupList = kStoreRoot + L"\\shares";
const unsigned long kError = 0xC000000B, kEnumError = 0xC0001102;
const wchar_t kKeyError[] = L"Error getting share key";
const HRESULT kNoMoreItems = static_cast<HRESULT>(0x80070103), kMoreData = static_cast<HRESULT>(0x800700EA);
const HRESULT kNotFound = static_cast<HRESULT>(ERROR_FILE_NOT_FOUND);  // raw, not converted
const Result kOk{S_OK, 0};

std::wstring GroupKey(const std::wstring& group) { return kGroupList + L"\\" + group; }
Bstr B(const wchar_t* text) { return Bstr(text); }  // nullptr gives a null BSTR

// UTF-16 bytes of a text, without a terminator unless the text holds one.
std::vector<BYTE> W(const std::wstring& text)
{
    auto p = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(p, p + text.size() * sizeof(wchar_t));
}

// Stores text exactly: a non-null character follows the counted ones, so no terminator is added.
void SetExact(const std::wstring& group, const std::wstring& name, const std::wstring& text)
{
    const std::wstring buffer = text + L"#";
    SetRaw(kHklm, GroupKey(group), name.c_str(), REG_SZ, buffer.c_str(), DWORD(text.size() * 2));
}

// Everyone may only read the key while the result lives; full access must
// really be refused, or the cases prove nothing.
std::unique_ptr<KeyAccess> ReadOnly(const std::wstring& path)
{
    auto access = std::make_unique<KeyAccess>(kHklm, path, L"D:P(A;;KR;;;WD)");
    HKEY probe = nullptr;
    if (RegOpenKeyExW(kHklm, path.c_str(), 0, KEY_ALL_ACCESS | View(kHklm), &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        throw std::runtime_error("cannot make the key read-only");
    }
    return access;
}

class ShareStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteTree(kHklm, kStoreRoot);
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KalvoraShares, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IKalvoraShares, reinterpret_cast<void**>(shares.GetAddressOf())));
    }
    void TearDown() override
    {
        shares.Reset();
        DeleteTree(kHklm, kStoreRoot);
    }

    Result Put(const wchar_t* group, const wchar_t* name, const wchar_t* path, const wchar_t* pass = L"",
               const wchar_t* agent = L"", const wchar_t* app = L"")
    {
        LONG error = 12345;  // shows when it is left untouched
        HRESULT hr = shares->PutShare(B(group).get(), B(name).get(), B(path).get(), B(pass).get(),
                                      B(agent).get(), B(app).get(), &error);
        return {hr, error};
    }
    HRESULT Remove(const wchar_t* group, const wchar_t* text) 
    {
        return shares->RemoveShare(B(group).get(), B(text).get());
    }
    // The display texts of a group, through GetShareCount and GetShareName.
    Texts List(const wchar_t* group)
    {
        LONG count = -1;
        EXPECT_EQ(S_OK, shares->GetShareCount(B(group).get(), &count));
        Texts texts(std::max(count, 0L));
        for (LONG i = 0; i < count; ++i) {
            Bstr text;
            EXPECT_EQ(S_OK, shares->GetShareName(i, text.put()));
            texts[i] = text.str();
        }
        return texts;
    }
    Texts Groups()  // sorted
    {
        LONG count = -1;
        EXPECT_EQ(S_OK, shares->GetRegGroupCount(&count));
        Texts names(std::max(count, 0L));
        for (LONG i = 0; i < count; ++i) {
            Bstr name;
            EXPECT_EQ(S_OK, shares->GetRegGroupName(i, name.put()));
            names[i] = name.str();
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // A stored REG_SZ value as text of its full byte length (so a terminator would show).
    static std::wstring Stored(const std::wstring& group, const wchar_t* name)
    {
        DWORD type = 0;
        auto raw = GetRaw(kHklm, GroupKey(group), name, &type);
        if (!raw)
            return L"<missing>";
        EXPECT_EQ(DWORD(REG_SZ), type);
        return std::wstring(reinterpret_cast<const wchar_t*>(raw->data()), raw->size() / sizeof(wchar_t));
    }
    // Checks the events reported since the last check (text nullptr: an event without text); the
    // result holds at least the wanted number of records.
    using Want = std::pair<unsigned long, const wchar_t*>;
    std::vector<EventRecord> ExpectEvents(std::initializer_list<Want> want)
    {
        auto got = events.Read();
        events.Clear();
        EXPECT_EQ(want.size(), got.size());
        got.resize(std::max(got.size(), want.size()));
        auto e = got.begin();
        for (auto w = want.begin(); w != want.end(); ++w, ++e) {
            EXPECT_EQ(std::make_tuple(1, w->first, std::wstring(L"shares/KalvoraShares.cpp"), !!w->second,
                                      std::wstring(w->second ? w->second : L"")),
                      std::tie(e->type, e->id, e->file, e->hasText, e->text));
        }
        return got;
    }

    EventCapture events;
    ComPtr<IKalvoraShares> shares;
};

TEST_F(ShareStore, DisplayTextIsNameAndDataOfItsStoredLength)
{
    struct Case { const wchar_t* name; DWORD type; std::vector<BYTE> data; const wchar_t* shown; };
    const Case cases[] = {
        {L"bare", REG_SZ, {}, L"bare"},
        {L"empty", REG_SZ, W(std::wstring(1, L'\0')), L"empty - []"},
        {L"open", REG_SZ, W(L"\\\\srv\\docs"), L"open - [\\\\srv\\docs]"},
        {L"inner", REG_BINARY, W(std::wstring(L"x\0y", 3)), L"inner - [x]"},
        {L"odd", REG_BINARY, {'Q', 0, 'R'}, L"odd - [Q]"},  // the half character goes
        // "on" in front of a web address is hidden, once, after the first "[".
        {L"web", REG_SZ, W(L"onhttp://w/,&agent=&AppType="), L"web - [http://w/,&agent=&AppType=]"},
        {L"twice", REG_SZ, W(L"onhttp://1/ [onhttp://2/"), L"twice - [http://1/ [onhttp://2/]"},
        {L"c[onhttp", REG_SZ, W(L"onhttp://3/"), L"c[http - [onhttp://3/]"},
        {L"upper", REG_SZ, W(L"ONHTTP://u/"), L"upper - [ONHTTP://u/]"},
        {L"secure", REG_SZ, W(L"onhttps://s/"), L"secure - [https://s/]"},
    };
    for (const Case& c : cases) {
        SetRaw(kHklm, GroupKey(c.name), c.name, c.type, c.data.data(), DWORD(c.data.size()));
        EXPECT_EQ(Texts{c.shown}, List(c.name));
    }
}

TEST_F(ShareStore, ValueOverTheBuffersEndsTheListing)
{
    // Per group: a small value, the largest that fits, the smallest that does not, a small value.
    struct Case { std::wstring fitName, fitData, overName, overData; };
    const std::wstring nul(1, L'\0');
    const Case cases[] = {
        {L"b", std::wstring(260, L'f'), L"c", std::wstring(261, L'o')},              // 520 and 522 bytes
        {L"b", std::wstring(259, L'f') + nul, L"c", std::wstring(260, L'o') + nul},  // with terminator
        {std::wstring(519, L'b'), L"2", std::wstring(520, L'c'), L"3"},              // name characters
    };
    for (const Case& c : cases) {
        const std::wstring group = std::to_wstring(c.fitName.size() + c.fitData.size());
        using Value = std::pair<std::wstring, std::wstring>;
        for (const Value& v : {Value(L"a", L"1"), Value(c.fitName, c.fitData), Value(c.overName, c.overData),
                               Value(L"d", L"4")})
            SetExact(group, v.first, v.second);
        const std::wstring fit = c.fitName + L" - [" + c.fitData.c_str() + L"]";
        EXPECT_EQ((Texts{L"a - [1]", fit}), List(group.c_str()));
    }
    ExpectEvents({});
}

TEST_F(ShareStore, EachCountReplacesTheList)
{
    SetExact(L"Two", L"a", L"1");
    SetExact(L"Two", L"b", L"2");
    SetExact(L"One", L"z", L"9");
    SetExact(L"Bare\\Sub", L"x", L"y");
    ASSERT_EQ(2u, List(L"Two").size());
    EXPECT_EQ(Texts{}, List(L"Bare"));  // a group with a subkey but no values
    Bstr name;
    EXPECT_EQ(E_INVALIDARG, shares->GetShareName(0, name.put()));
    ASSERT_FALSE(KeyExists(kHklm, GroupKey(L"Nowhere")));
    EXPECT_EQ(Texts{}, List(L"Nowhere"));  // a missing group is created, empty
    EXPECT_TRUE(KeyExists(kHklm, GroupKey(L"Nowhere")));

    EXPECT_EQ(Texts{L"z - [9]"}, List(L"One"));
    EXPECT_EQ(E_INVALIDARG, shares->GetShareName(1, name.put()));
    EXPECT_EQ(E_INVALIDARG, shares->GetShareName(-1, name.put()));
    EXPECT_EQ(E_POINTER, shares->GetShareName(0, nullptr));
    EXPECT_EQ(E_POINTER, shares->GetShareCount(B(L"One").get(), nullptr));
    ExpectEvents({});
}

TEST_F(ShareStore, GroupsAreFirstLevelKeysAndBackslashesNestThem)
{
    EXPECT_EQ(Texts{}, Groups());
    EXPECT_TRUE(KeyExists(kHklm, kGroupList));
    Bstr name;
    EXPECT_EQ(kNoMoreItems, shares->GetRegGroupName(0, name.put()));

    const std::wstring longest(255, L'L');  // the longest key name the registry takes
    SetExact(L"Outer\\Inner", L"deep", L"\\\\srv\\deep");
    SetExact(L"Outer", L"top", L"\\\\srv\\top");
    SetString(kHklm, kGroupList, L"not-a-group", L"values do not count");
    EXPECT_EQ(Texts{}, List(longest.c_str()));
    EXPECT_EQ(Texts{}, List(L"New\\Sub\\Leaf"));  // creates the whole path
    EXPECT_TRUE(KeyExists(kHklm, GroupKey(L"New\\Sub\\Leaf")));
    EXPECT_EQ(Texts{L"deep - [\\\\srv\\deep]"}, List(L"Outer\\Inner"));
    EXPECT_EQ(Texts{L"deep - [\\\\srv\\deep]"}, List(L"Outer\\Inner\\"));
    EXPECT_EQ(Texts{L"top - [\\\\srv\\top]"}, List(L"Outer"));

    EXPECT_EQ((Texts{longest, L"New", L"Outer"}), Groups());
    EXPECT_EQ(kNoMoreItems, shares->GetRegGroupName(3, name.put()));
    EXPECT_EQ(kNoMoreItems, shares->GetRegGroupName(-1, name.put()));  // taken as a huge index
    EXPECT_EQ(E_POINTER, shares->GetRegGroupCount(nullptr));
    EXPECT_EQ(E_POINTER, shares->GetRegGroupName(0, nullptr));
    ExpectEvents({});
}

TEST_F(ShareStore, EmptyOrNullGroupIsTheGroupListKey)
{
    SetExact(L"", L"loose", L"x");
    SetExact(L"G", L"loose", L"kept");
    EXPECT_EQ(Texts{L"loose - [x]"}, List(L""));
    EXPECT_EQ(Texts{L"loose - [x]"}, List(nullptr));
    EXPECT_EQ(S_OK, Remove(nullptr, L"loose - [x]"));
    EXPECT_EQ(L"<missing>", Stored(L"", L"loose"));
    EXPECT_EQ(L"kept", Stored(L"G", L"loose"));
    EXPECT_EQ(kNotFound, Remove(L"", L"loose"));
    ExpectEvents({{kError, L"Error Deleting key: (loose), Access Denied"}});
}

TEST_F(ShareStore, BlankArgumentsInCheckOrder)
{
    // Blank is empty, one space or two spaces: the name first, then the group, then prefix and path.
    struct Case { const wchar_t *group, *name, *pass, *path; LONG expected; };
    const Case cases[] = {
        {L"", L"", L"", L"", -2},           {nullptr, nullptr, nullptr, nullptr, -2},
        {L"G", L" ", L"", L"\\\\s\\x", -2}, {L"G", L"  ", L"", L"\\\\s\\x", -2},
        {L"", L"n", L"", L"", -3},          {L" ", L"n", L"", L"\\\\s\\x", -3},
        {L"  ", L"n", L"", L"\\\\s\\x", -3}, {nullptr, L"n", L"", L"\\\\s\\x", -3},
        {L"G", L"n", L"", L"", -4},         {L"G", L"n", nullptr, nullptr, -4},
        {L"G", L"n", L" ", L"", -4},        {L"G", L"n", L"", L" ", -4},
        {L"G", L"n", L" ", L" ", -4},       {L"G", L"n", L"", L"  ", -4},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Result(S_OK, cases[i].expected), Put(cases[i].group, cases[i].name, cases[i].path,
                                                       cases[i].pass)) << "case " << i;
    EXPECT_FALSE(KeyExists(kHklm, kStoreRoot));  // nothing opened or created
    EXPECT_EQ(E_POINTER, shares->PutShare(B(L"G").get(), B(L"n").get(), B(L"\\\\s\\x").get(), nullptr,
                                          nullptr, nullptr, nullptr));
    ExpectEvents({});
}

TEST_F(ShareStore, StoredConfigurationText)
{
    // UNC paths and "ts" targets as they are, anything else with agent and application type.
    struct Case { const wchar_t *group, *name, *pass, *path, *agent, *app, *stored; };
    const Case cases[] = {
        {L"G", L"   ", L"", L"\\\\srv\\three", L"", L"", L"\\\\srv\\three"},  // longer runs are not blank
        {L"   ", L"n", L"", L"\\\\srv\\x", L"", L"", L"\\\\srv\\x"},
        {L"G", L"spaces", L"", L"   ", L"", L"", L"   ,&agent=&AppType="},
        {L"G", L"on", L"on", L"", L"", L"", L"on,&agent=&AppType="},
        {L"G", L"unc", L"", L"\\\\server\\share\\dir", L"a", L"b", L"\\\\server\\share\\dir"},
        {L"G", L"split", L"\\\\", L"server\\share", L"a", L"b", L"\\\\server\\share"},  // the prefix counts
        {L"G", L"local", L"", L"\\dir", L"", L"", L"\\dir,&agent=&AppType="},
        {L"G", L"lower", L"", L"ts://h1", L"a", L"b", L"ts://h1"},
        {L"G", L"upper", L"", L"TS://h2", L"a", L"b", L"TS://h2"},
        {L"G", L"mixed1", L"", L"Ts://h3", L"a", L"b", L"Ts://h3"},
        {L"G", L"mixed2", L"", L"tS://h4", L"a", L"b", L"tS://h4"},
        {L"G", L"joined", L"t", L"s-h5", L"a", L"b", L"ts-h5"},
        {L"G", L"bare", L"", L"ts", L"", L"", L"ts"},
        {L"G", L"onlyT", L"", L"t", L"a", L"b", L"t,&agent=a&AppType=b"},
        {L"G", L"later", L"", L"xts://h6", L"a", L"b", L"xts://h6,&agent=a&AppType=b"},
        {L"G", L"empty", L"", L"http://w/", L"", L"", L"http://w/,&agent=&AppType="},
        {L"G", L"null", L"", L"http://w/", nullptr, nullptr, L"http://w/,&agent=&AppType="},
        {L"G", L"full", L"", L"http://w/a", L"IE", L"Portal", L"http://w/a,&agent=IE&AppType=Portal"},
        {L"G", L"literal", L"", L"http://w/%s", L"a%sb", L"1%%", L"http://w/%s,&agent=a%sb&AppType=1%%"},
        {L"G", L"web", L"on", L"http://p/", L"IE", L"X", L"onhttp://p/,&agent=IE&AppType=X"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kOk, Put(c.group, c.name, c.path, c.pass, c.agent, c.app)) << Narrow(c.name);
        EXPECT_EQ(c.stored, Stored(c.group, c.name));  // exactly its length: no terminator
    }
    ExpectEvents({});
}

TEST_F(ShareStore, ConfigurationTextOver519CharactersIsRefused)
{
    const std::wstring unc = L"\\\\" + std::wstring(517, L'u'), web(500, L'w');  // web: 500 + 17 + 2
    struct Case { std::wstring path; const wchar_t *pass, *agent, *app; bool written; };
    const Case cases[] = {
        {unc, L"", L"", L"", true}, {unc + L"u", L"", L"", L"", false},
        {web, L"", L"a", L"b", true}, {web, L"", L"ab", L"c", false},
        {std::wstring(100000, L'h'), L"ts", L"", L"", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::wstring n = std::to_wstring(i);  // a group each: a written value blocks its group
        EXPECT_EQ(Result(c.written ? S_OK : HRESULT(0x8007007A), 0),
                  Put(n.c_str(), n.c_str(), c.path.c_str(), c.pass, c.agent, c.app)) << "case " << i;
        const std::wstring stored = Stored(n, n.c_str());
        EXPECT_EQ(c.written, stored.size() == 519) << "case " << i;
        EXPECT_EQ(c.written, stored != L"<missing>") << "case " << i;
    }
    ExpectEvents({});
}

TEST_F(ShareStore, DuplicateNameIsRefusedOnlyWhenExactlyEqual)
{
    EXPECT_EQ(kOk, Put(L"G", L"Docs", L"\\\\srv\\docs"));
    EXPECT_EQ(kOk, Put(L"G", L"Other", L"\\\\srv\\other"));
    EXPECT_EQ(Result(S_OK, -1), Put(L"G", L"Docs", L"\\\\srv\\changed"));  // the first value
    EXPECT_EQ(Result(S_OK, -1), Put(L"G", L"Other", L"\\\\srv\\changed"));  // a later one
    EXPECT_EQ(L"\\\\srv\\docs", Stored(L"G", L"Docs"));
    EXPECT_EQ(L"\\\\srv\\other", Stored(L"G", L"Other"));
    // Another group, a prefix, an extension; a case-different name replaces the share.
    EXPECT_EQ(kOk, Put(L"H", L"Docs", L"\\\\srv\\elsewhere"));
    EXPECT_EQ(kOk, Put(L"G", L"Doc", L"\\\\srv\\doc"));
    EXPECT_EQ(kOk, Put(L"G", L"Docs2", L"\\\\srv\\docs2"));
    EXPECT_EQ(kOk, Put(L"G", L"OTHER", L"\\\\srv\\new"));
    EXPECT_EQ(L"\\\\srv\\new", Stored(L"G", L"other"));
    EXPECT_EQ(4u, List(L"G").size());
    ExpectEvents({});
}

TEST_F(ShareStore, OversizedValueBlocksLaterShares)
{
    const std::wstring big = L"\\\\" + std::wstring(259, L'b');  // 522 bytes
    // First in its group: the first enumeration call fails.
    EXPECT_EQ(kOk, Put(L"First", L"big", big.c_str()));
    EXPECT_EQ(Texts{}, List(L"First"));
    EXPECT_EQ(Result(kMoreData, 0), Put(L"First", L"next", L"\\\\srv\\next"));
    EXPECT_EQ(L"<missing>", Stored(L"First", L"next"));
    auto first = ExpectEvents({{kEnumError, nullptr}});

    // Behind a small value: a later call fails, reported from another line.
    EXPECT_EQ(kOk, Put(L"Later", L"a", L"\\\\srv\\a"));
    EXPECT_EQ(kOk, Put(L"Later", L"big", big.c_str()));
    EXPECT_EQ(Texts{L"a - [\\\\srv\\a]"}, List(L"Later"));
    EXPECT_EQ(Result(kMoreData, 0), Put(L"Later", L"next", L"\\\\srv\\next"));
    EXPECT_EQ(Result(S_OK, -1), Put(L"Later", L"a", L"\\\\srv\\again"));  // found before the long value
    auto later = ExpectEvents({{kEnumError, nullptr}});
    EXPECT_NE(first[0].line, later[0].line);

    ASSERT_EQ(S_OK, Remove(L"Later", L"big"));
    EXPECT_EQ(kOk, Put(L"Later", L"next", L"\\\\srv\\next"));
}

TEST_F(ShareStore, WriteFailureIsReportedAsAccessDenied)
{
    const std::wstring name(16384, L'n');  // the registry refuses value names over 16,383 characters
    EXPECT_EQ(Result(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), 0), Put(L"G", name.c_str(), L"\\\\s\\x"));
    const std::wstring text = L"Error Writing Share Configuration: (" + name + L"), Access Denied";
    ExpectEvents({{kError, text.c_str()}});
    EXPECT_TRUE(ValueNames(kHklm, GroupKey(L"G")).empty());
}

TEST_F(ShareStore, RemoveByDisplayText)
{
    SetRaw(kHklm, GroupKey(L"G"), L"bare", REG_SZ, nullptr, 0);  // shown by its name alone
    EXPECT_EQ(kOk, Put(L"G", L"docs", L"\\\\srv\\docs"));
    EXPECT_EQ(kOk, Put(L"G", L"web", L"http://portal/", L"on", L"IE", L"X"));
    EXPECT_EQ(kOk, Put(L"G", L"zz", L"ts://host"));
    const Texts shown = List(L"G");
    ASSERT_EQ((Texts{L"bare", L"docs - [\\\\srv\\docs]", L"web - [http://portal/,&agent=IE&AppType=X]",
                     L"zz - [ts://host]"}), shown);
    for (const std::wstring& text : shown)
        EXPECT_EQ(S_OK, Remove(L"G", text.c_str())) << Narrow(text);
    EXPECT_TRUE(ValueNames(kHklm, GroupKey(L"G")).empty());
    EXPECT_TRUE(KeyExists(kHklm, GroupKey(L"G")));  // the emptied group stays
    ExpectEvents({});
}

TEST_F(ShareStore, FailedRemovalReturnsTheRawCode)
{
    EXPECT_EQ(kNotFound, Remove(L"Ghost", L"docs - [\\\\srv\\docs]"));
    EXPECT_TRUE(KeyExists(kHklm, GroupKey(L"Ghost")));  // created on the way
    // A name holding " - [" is cut at its first one.
    EXPECT_EQ(kOk, Put(L"G", L"a - [b", L"\\\\srv\\x"));
    const Texts shown = List(L"G");
    ASSERT_EQ(Texts{L"a - [b - [\\\\srv\\x]"}, shown);
    EXPECT_EQ(kNotFound, Remove(L"G", shown[0].c_str()));
    EXPECT_EQ(L"\\\\srv\\x", Stored(L"G", L"a - [b"));
    ExpectEvents({{kError, L"Error Deleting key: (docs), Access Denied"},
                  {kError, L"Error Deleting key: (a), Access Denied"}});
    EXPECT_EQ(kOk, Put(L"G", L"a", L"\\\\srv\\a"));
    EXPECT_EQ(S_OK, Remove(L"G", shown[0].c_str()));  // takes the share named by the text in front
    EXPECT_EQ(shown, List(L"G"));
}

TEST_F(ShareStore, KeysWithoutFullAccess)
{
    SetExact(L"Locked", L"a", L"1");
    SetExact(L"Open", L"b", L"2");
    SetExact(L"Open", L"c", L"3");
    ASSERT_EQ(2u, List(L"Open").size());
    auto lockGroup = ReadOnly(GroupKey(L"Locked"));
    LONG count = 77;
    EXPECT_EQ(E_FAIL, shares->GetShareCount(B(L"Locked").get(), &count));
    Bstr name;  // the list of the last successful count is kept
    EXPECT_EQ(S_OK, shares->GetShareName(1, name.put()));
    EXPECT_EQ(L"c - [3]", name.str());
    EXPECT_EQ(Result(E_FAIL, 0), Put(L"Locked", L"b", L"\\\\srv\\b"));
    EXPECT_EQ(E_FAIL, Remove(L"Locked", L"a - [1]"));
    EXPECT_EQ(Texts{L"a"}, ValueNames(kHklm, GroupKey(L"Locked")));
    auto fromGroup = ExpectEvents({{kError, kKeyError}, {kError, kKeyError}, {kError, kKeyError}});

    // No group list key: the first enumeration step fails on the missing handle.
    auto lockList = ReadOnly(kGroupList);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), shares->GetRegGroupCount(&count));
    EXPECT_EQ(77, count);
    auto fromCount = ExpectEvents({{kError, kKeyError}, {kEnumError, nullptr}});
    BSTR untouched = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x1234)), raw = untouched;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), shares->GetRegGroupName(0, &raw));
    EXPECT_EQ(untouched, raw);
    auto fromName = ExpectEvents({{kError, kKeyError}, {kEnumError, nullptr}});
    // The key opener reports from one line, each method from its own.
    for (int line : {fromGroup[1].line, fromGroup[2].line, fromCount[0].line, fromName[0].line})
        EXPECT_EQ(fromGroup[0].line, line);
    EXPECT_NE(fromCount[1].line, fromName[1].line);
}

}  // namespace
