// The share store: publishing, listing and removing the shares of groups,
// and the domain's groups. Steps are calls as Expect (tests/support) makes
// them: "call => outcome".
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

class Shares : public ModuleTest {
protected:
    Shares() { file_ = L"shares/KalvoraShares.cpp"; }
    void Steps(const std::wstring& steps) { Expect(shares_.Get(), steps); }
    // A value of a group's key, stored without a terminator.
    void Raw(const std::wstring& group, const std::wstring& name, const std::wstring& data)
    {
        SetRaw(HKEY_LOCAL_MACHINE, kShares + group, name.c_str(), REG_SZ, (data + L"#").c_str(),
               DWORD(data.size() * 2));
    }
    ComPtr<IKalvoraShares> shares_ = Create<IKalvoraShares>(CLSID_KalvoraShares);
};

// Blank arguments are refused in the order name, group, target (the
// password and the path joined). UNC paths and "ts" targets are stored as
// they are, anything else with the agent and the application type, taken
// literally; 519 characters at most. The same name again is refused; in
// other letter case it replaces the share. RemoveShare takes the display
// text, cut at its first " - [", or a name; a failed deletion is reported,
// and its Win32 code returned.
TEST_F(Shares, PutShareStoresTheConfigurationTextAndRemoveShareDeletesIt)
{
    const std::wstring u517(517, L'u');
    Steps(L"PutShare|||||| => -2\nPutShare||n|||| => -3\nPutShare|G|n| | || => -4\nPutShare|L|n|\\\\" + u517 +
          L"||| => 0\nPutShare|M|m|\\\\" + u517 + LR"(u||| => !0x8007007A
              PutShare|G|ts|Ts://h||a|b => 0
              PutShare|G|w|http://w/%s|on|a%sb|X => 0
              PutShare|G|web|\\s\x||| => 0
              PutShare|G|web|\\s\y||| => -1
              PutShare|G|WEB|\\s\new||| => 0
              PutShare|G|we|\\s\z||| => 0
              RemoveShare|G|we
              RemoveShare|G|ts - [Ts://h]
              RemoveShare|G|web)");
    EXPECT_EQ(HRESULT(ERROR_FILE_NOT_FOUND), shares_->RemoveShare(B(L"G").Get(), B(L"web").Get()));
    EXPECT_EQ((Texts{LR"(shares\G)",
                     LR"(shares\G:w=onhttp://w/%s,&agent=a%sb&AppType=X)",
                     LR"(shares\L)",
                     L"shares\\L:n=\\\\" + u517,
                     LR"(shares\M)"}),
              Store());
    ExpectEvents({L"C000000B Error Deleting key: (web), Access Denied"});
}

// A group's shares are listed as "name - [data]" ("on" before "http" hidden),
// a share without data by its name; the list ends at the first value whose
// name does not fit 520 characters. An index outside it gives E_INVALIDARG
// and a null string.
TEST_F(Shares, AGroupsSharesAreListedAsDisplayTexts)
{
    BSTR out = reinterpret_cast<BSTR>(INT_PTR(8));
    EXPECT_EQ(E_INVALIDARG, shares_->GetShareName(0, &out));
    EXPECT_EQ(nullptr, out);
    Raw(L"\\G", L"a", L"\\\\s\\x");
    Raw(L"\\G", L"b", L"onhttp://w/");
    Raw(L"\\G", L"c", L"");
    Raw(L"\\G", std::wstring(520, L'd'), L"x");  // listed in order of their names
    Raw(L"\\G", L"e", L"x");
    Steps(LR"(GetShareCount|G => 3
              GetShareName|0 => a - [\\s\x]
              GetShareName|1 => b - [http://w/]
              GetShareName|2 => c
              GetShareName|3 => !E_INVALIDARG)");
}

// Groups are the keys one level down; listing a group makes its key. Past
// the last group: 0x80070103 and a null string.
TEST_F(Shares, GroupsAreTheKeysOfTheShareStore)
{
    Raw(L"\\Two", L"a", L"1");
    Raw(L"\\One\\Inner", L"a", L"1");
    Steps(LR"(GetRegGroupCount => 2
              GetShareCount|New => 0
              GetShareCount|One\Inner => 1
              GetRegGroupCount => 3
              GetRegGroupName|0 => New
              GetRegGroupName|2 => Two)");
    BSTR out = reinterpret_cast<BSTR>(INT_PTR(8));
    EXPECT_EQ(HRESULT(0x80070103), shares_->GetRegGroupName(3, &out));
    EXPECT_EQ(nullptr, out);
}

// The domain's groups: its children of class Group with a readable path, a
// name that cannot be read as an empty one. A failure comes back unchanged,
// and the last list stays.
TEST_F(Shares, TheDomainsGroups)
{
    Domain(L"corp.example", L"CORP", "support/directory.txt");
    Steps(L"GetGroupCount => 3");
    SetRaw(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KalvoraTest\\ADSystemInfo", L"CreateResult", REG_DWORD, "\x05\x00\x07\x80",
           4);
    Steps(LR"(GetGroupCount => !0x80070005
              GetGroupName|0 => Admins
              GetGroupName|1 =>
              GetGroupName|2 => Sales
              GetGroupName|3 => !E_INVALIDARG)");
}

}  // namespace
