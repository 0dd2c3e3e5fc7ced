// The share store: publishing, listing and removing the shares of groups,
// their display texts, and the domain's groups. Steps are calls as Expect
// (tests/support) makes them: "call => outcome".
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

const std::wstring kNoText = L"C0001102 \\0";  // a failure reported without a text
const std::wstring kNoKey = L"C000000B Error getting share key", kEnd(1, L'\0');
std::wstring Denied(const std::wstring& name) { return L"C000000B Error Deleting key: (" + name + L"), Access Denied"; }

class Shares : public ModuleTest {
protected:
    Shares() { file_ = L"shares/KalvoraShares.cpp"; }
    void Steps(const std::wstring& steps) { Expect(shares_.Get(), steps); }
    // A value of a group's key, stored without a terminator.
    void Raw(const std::wstring& group, const std::wstring& name, const std::wstring& data, DWORD type = REG_SZ)
    {
        SetRaw(HKEY_LOCAL_MACHINE, kShares + group, name.c_str(), type, (data + L"#").c_str(), DWORD(data.size() * 2));
    }
    ComPtr<IKalvoraShares> shares_ = Create<IKalvoraShares>(CLSID_KalvoraShares);
};

// Blank arguments (empty, or one or two spaces) are refused in check order,
// the name, the group, the path, before any key is opened. UNC paths and
// "ts" targets are stored as they are, anything else with the agent and the
// application type; texts are taken literally, up to a NUL. The same name
// again is refused; in other letter case it replaces the share.
TEST_F(Shares, PutShareChecksItsArgumentsAndStoresTheConfigurationText)
{
    Steps(
        LR"(PutShare|||||| => -2
              PutShare|G|  |\\s\x||| => -2
              PutShare||n|||| => -3
              PutShare|  |n|\\s\x||| => -3
              PutShare|G|n|||| => -4
              PutShare|G|n| | || => -4
              PutShare|G|n|||a|b => -4)");
    LONG error = 0;
    EXPECT_EQ(S_OK, shares_->PutShare(B(L"G").Get(), B(L"n").Get(), nullptr, nullptr, nullptr, nullptr, &error));
    EXPECT_EQ(-4, error);
    EXPECT_EQ(Texts{}, Store());
    Steps(
        LR"(PutShare|G|   |\\srv\three||| => 0
              PutShare|G|spaces|   ||| => 0
              PutShare|G|split|server\share|\\|a|b => 0
              PutShare|G|local|\dir||| => 0
              PutShare|G|upper|TS://h2||a|b => 0
              PutShare|G|joined|s-h5|t|a|b => 0
              PutShare|G|later|xts://h6||a|b => 0
              PutShare|G|literal|http://w/%s||a%sb|1%% => 0
              PutShare|G|web|http://p/|on|IE|X => 0
              PutShare|G|web|\\srv\x||| => -1
              PutShare|G|WEB|\\srv\new||| => 0
              PutShare|H|web|\\srv\x||| => 0
              PutShare|a\b|n|\\s\x||| => 0
              PutShare|..|n|\\s\x||| => 0
              GetShareCount|G => 9
              PutShare|G|we|\\srv\x||| => 0)");
    EXPECT_EQ(L"0", Call(shares_.Get(), std::wstring(L"PutShare|N\0x|a\0b|\\\\s\\x\0y|||", 27)));
    EXPECT_EQ(S_OK,
              shares_->PutShare(nullptr, B(L"o").Get(), B(L"http://w/").Get(), nullptr, nullptr, nullptr, &error));
    EXPECT_EQ(-3, error);
    EXPECT_EQ(S_OK, shares_->PutShare(B(L"G").Get(), B(L"o").Get(), B(L"http://w/").Get(), nullptr, nullptr, nullptr,
                                      &error));
    EXPECT_EQ(0, error);
    EXPECT_EQ((Texts{LR"(shares\..)",
                     LR"(shares\..:n=\\s\x)",
                     LR"(shares\G)",
                     LR"(shares\G:   =\\srv\three)",
                     LR"(shares\G:joined=ts-h5)",
                     LR"(shares\G:later=xts://h6,&agent=a&AppType=b)",
                     LR"(shares\G:literal=http://w/%s,&agent=a%sb&AppType=1%%)",
                     LR"(shares\G:local=\dir,&agent=&AppType=)",
                     LR"(shares\G:o=http://w/,&agent=&AppType=)",
                     LR"(shares\G:spaces=   ,&agent=&AppType=)",
                     LR"(shares\G:split=\\server\share)",
                     LR"(shares\G:upper=TS://h2)",
                     LR"(shares\G:we=\\srv\x)",
                     LR"(shares\G:web=\\srv\new)",
                     LR"(shares\H)",
                     LR"(shares\H:web=\\srv\x)",
                     LR"(shares\N)",
                     LR"(shares\N:a=\\s\x)",
                     LR"(shares\a)",
                     LR"(shares\a\b)",
                     LR"(shares\a\b:n=\\s\x)"}),
              Store());
}

// 519 characters are the most that is written: one more is refused and
// nothing is written (the group's key is made on the way). A value over 520
// bytes makes the duplicate search fail; a name the registry refuses is
// reported as access denied.
TEST_F(Shares, PutShareLimits)
{
    const std::wstring u517(517, L'u'), n16384(16384, L'n');
    Steps(L"PutShare|L1|n|\\\\" + u517 + L"||| => 0\nPutShare|L2|n|" + std::wstring(500, L'w') +
          L"||ab|c => !0x8007007A\nPutShare|L3|n|" + std::wstring(100000, L'h') +
          L"|ts|| => !0x8007007A\nPutShare|L1|m|\\\\s\\x||| => !0x800700EA\nGetShareCount|L1 => 0\nPutShare|G|" +
          n16384 + L"|\\\\s\\x||| => !E_INVALIDARG");
    ExpectEvents({kNoText, L"C000000B Error Writing Share Configuration: (" + n16384 + L"), Access Denied"});
    EXPECT_EQ((Texts{L"shares\\G", L"shares\\L1", L"shares\\L1:n=\\\\" + u517, L"shares\\L2", L"shares\\L3"}), Store());
}

// A group's shares are listed as "name - [data]", the data of its stored
// length up to a NUL, an "on" before a web address hidden once after the
// first "["; no data: the name alone. The listing ends at the first value
// whose name (520 characters) or data (over 520 bytes) does not fit.
TEST_F(Shares, DisplayTextsOfTheStoredValues)
{
    const std::pair<std::wstring, std::wstring> rows[] = {
        {LR"(\\srv\docs)", LR"(s - [\\srv\docs])"},
        {std::wstring(L"x\0y", 3), L"s - [x]"},
        {L"onhttp://w/,&agent=&AppType=", L"s - [http://w/,&agent=&AppType=]"},
        {L"onhttp://1/ [onhttp://2/", L"s - [http://1/ [onhttp://2/]"},
        {L"ONHTTP://u/", L"s - [ONHTTP://u/]"},
        {L"", L"s"},
        {std::wstring(260, L'f'), L"s - [" + std::wstring(260, L'f') + L"]"}};
    for (const auto& [data, shown] : rows) {
        Raw(L"\\G", L"s", data);
        Raw(L"\\G", L"t", std::wstring(261, L'o'));
        Steps(L"GetShareCount|G => 1\nGetShareName|0 => " + shown);
    }
    SetRaw(HKEY_LOCAL_MACHINE, kShares + L"\\H", L"a", REG_DWORD, "A\0\0\0", 4);
    SetRaw(HKEY_LOCAL_MACHINE, kShares + L"\\H", L"b", REG_BINARY, "\x51\x00\x52", 3);
    Raw(L"\\H", L"c[onhttp", L"onhttp://3/");
    Raw(L"\\H", std::wstring(519, L'n'), L"2");
    Raw(L"\\H", std::wstring(520, L'o'), L"3");
    Steps(
        LR"(GetShareCount|H => 4
              GetShareName|0 => a - [A]
              GetShareName|1 => b - [Q]
              GetShareName|2 => c[http - [onhttp://3/]
              GetShareName|4 => !E_INVALIDARG
              PutShare|G|d|\\s\x||| => !0x800700EA
              GetShareName|3 => )" +
        std::wstring(519, L'n') + L" - [2]");
    ExpectEvents({kNoText});
}

// Groups are the keys one level down, in registry order; listing a group
// makes its key; a name over 255 characters has none. Indices outside a list
// give E_INVALIDARG, and 0x80070103 past the last group, with a null string.
TEST_F(Shares, GroupsAndIndicesOutsideTheLists)
{
    for (const wchar_t* g : {L"\\Two", L"\\One", L"\\Outer\\Inner"})
        Raw(g, L"a", L"1");
    BSTR out = reinterpret_cast<BSTR>(INT_PTR(8));
    EXPECT_EQ(E_INVALIDARG, shares_->GetShareName(0, &out));
    EXPECT_EQ(nullptr, out);
    out = reinterpret_cast<BSTR>(INT_PTR(8));
    EXPECT_EQ(HRESULT(0x80070103), shares_->GetRegGroupName(3, &out));
    EXPECT_EQ(nullptr, out);
    const std::wstring l255(255, L'L'), l300(300, L'L');
    Steps(
        LR"(GetGroupName|0 => !E_INVALIDARG
              GetShareCount|Outer => 0
              GetShareCount|Two => 1
              GetShareName|1 => !E_INVALIDARG
              GetShareName|-1 => !E_INVALIDARG
              GetShareName|2147483648 => !0x8002000A
              GetShareName|0 => a - [1]
              GetShareCount|Outer\Inner\ => 1
              GetShareCount|New\Leaf => 0)");
    Steps(L"GetShareCount|" + l255 + L" => 0\nGetShareCount|" + l300 + L" => !E_FAIL\nPutShare|" + l300 +
          L"|n|\\\\s\\x||| => !E_FAIL\nGetRegGroupCount => 5\nGetRegGroupName|0 => " + l255 +
          L"\nGetRegGroupName|4 => Two\nGetRegGroupName|5 => !0x80070103\nGetRegGroupName|-1 => !0x80070103");
    ExpectEvents({kNoKey, kNoKey});
}

// RemoveShare takes the display text, cut at its first " - [", or a name
// alone; a failed deletion is reported, and its raw Win32 code returned (a
// success code to IDispatch). The group's key stays, or is made.
TEST_F(Shares, RemoveShareTakesTheDisplayTextOrTheName)
{
    Steps(
        LR"(PutShare|G|docs|\\srv\docs||| => 0
              PutShare|G|web|http://p/|on|IE|X => 0
              PutShare|G|a - [b|\\srv\x||| => 0
              PutShare|G|%s|\\srv\x||| => 0
              RemoveShare|G|web - [http://p/,&agent=IE&AppType=X]
              RemoveShare|G|docs - [\\srv\docs]
              RemoveShare|G|%s
              RemoveShare|G|a - [b - [\\srv\x]
              RemoveShare|Ghost|docs
              GetShareCount|G => 1)");
    EXPECT_EQ(HRESULT(ERROR_FILE_NOT_FOUND), shares_->RemoveShare(B(L"G").Get(), B(L"docs").Get()));
    Raw(L"", L"loose", L"x");
    EXPECT_EQ(S_OK, shares_->RemoveShare(nullptr, B(L"loose - [x]").Get()));
    EXPECT_EQ((Texts{LR"(shares\G)", LR"(shares\G:a - [b=\\srv\x)", LR"(shares\Ghost)"}), Store());
    ExpectEvents({Denied(L"a"), Denied(L"docs"), Denied(L"docs")});
}

// Keys that refuse access, and null out pointers: the call fails, reports
// it, and leaves the out value as it was.
TEST_F(Shares, KeysThatRefuseAccessAndNullOutPointers)
{
    Raw(L"\\Locked", L"a", L"1");
    Raw(L"\\Open", L"c", L"3");
    LONG count = 7;
    {
        auto held = Restrict(HKEY_LOCAL_MACHINE, kShares + L"\\Locked", L"D:P(A;;KR;;;WD)");
        Steps(
            LR"(GetShareCount|Open => 1
                  PutShare|Locked|b|\\srv\b||| => !E_FAIL
                  RemoveShare|Locked|a => !E_FAIL)");
        EXPECT_EQ(E_FAIL, shares_->GetShareCount(B(L"Locked").Get(), &count));
        EXPECT_EQ(7, count);
        Steps(L"GetShareName|0 => c - [3]");
    }
    {
        auto held = Restrict(HKEY_LOCAL_MACHINE, kShares, L"D:P(A;;KR;;;WD)");
        EXPECT_EQ(HRESULT(0x80070006), shares_->GetRegGroupCount(&count));
        EXPECT_EQ(7, count);
        Steps(L"GetRegGroupName|0 => !0x80070006");
    }
    ExpectEvents({kNoKey, kNoKey, kNoKey, kNoKey, kNoText, kNoKey, kNoText});
    LONG* none = nullptr;
    BSTR* noText = nullptr;
    EXPECT_EQ(E_POINTER, shares_->PutShare(B(L"a").Get(), B(L"a").Get(), B(L"\\\\s\\x").Get(), 0, 0, 0, none));
    EXPECT_EQ(E_POINTER, shares_->GetShareName(0, noText));
    EXPECT_EQ(E_POINTER, shares_->GetShareCount(B(L"a").Get(), none));
    EXPECT_EQ(E_POINTER, shares_->GetGroupCount(none));
    EXPECT_EQ(E_POINTER, shares_->GetRegGroupName(0, noText));
    EXPECT_EQ(E_POINTER, shares_->GetRegGroupCount(none));
    EXPECT_EQ(E_POINTER, shares_->GetGroupName(0, noText));
    EXPECT_EQ((Texts{L"shares\\Locked", L"shares\\Locked:a=1", L"shares\\Open", L"shares\\Open:c=3"}), Store());
}

// The domain's groups: its children of class Group, bound without a filter;
// one whose name cannot be read is listed with an empty name. Failures come
// back unchanged, and the last list stays.
TEST_F(Shares, TheDomainsGroups)
{
    Steps(L"GetGroupCount => !0x80070035");
    Domain(L"corp.example", L"CORP", "support/directory.txt");
    Steps(L"GetGroupCount => 3");
    wchar_t temp[MAX_PATH];
    EXPECT_EQ(Texts{L"bind WinNT://CORP"},
              TakeLines(std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"directory.log"));
    Domain(nullptr, L"BAD", "support/directory.txt");
    Steps(L"GetGroupCount => !0x8007203A");
    SetRaw(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KalvoraTest\\ADSystemInfo", L"CreateResult", REG_DWORD, "\x05\x00\x07\x80",
           4);
    Steps(
        LR"(GetGroupCount => !0x80070005
              GetGroupName|-1 => !E_INVALIDARG
              GetGroupName|0 => Admins
              GetGroupName|1 =>
              GetGroupName|2 => Sales
              GetGroupName|3 => !E_INVALIDARG)");
}

}  // namespace
