// The user object: its properties, and the profile folders found on its
// computer.
#include <gtest/gtest.h>

#include <set>

#include "support/FaultHook.h"
#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

class User : public ModuleTest {
protected:
    ComPtr<IKalvoraUser> user_ = Create<IKalvoraUser>(CLSID_KalvoraUser);
    // A new user u of that computer whose three profile folders are "old".
    void Make(const std::wstring& computer)
    {
        user_ = Create<IKalvoraUser>(CLSID_KalvoraUser);
        Expect(user_.Get(), L"Name=u\nMyDesktop=old\nMyDocuments=old\nMyFavorites=old\nComputer=" + computer);
    }
    // MyDesktop, MyDocuments and MyFavorites, joined by "|".
    std::wstring Shown()
    {
        return Join({Call(user_.Get(), L"MyDesktop"), Call(user_.Get(), L"MyDocuments"),
                     Call(user_.Get(), L"MyFavorites")},
                    L"|");
    }
};

// Each text property keeps its own value up to its first NUL; only Mailbox
// takes a null string, the others keep their value. A get refuses a null out
// pointer.
TEST_F(User, EachTextPropertyKeepsItsOwnValue)
{
    const Texts texts = Split(L"Computer MyComputer MyDesktop MyDocuments MyFavorites MyNetwork MyRecent Name "
                              L"SecurityLevel Mailbox",
                              L' ');
    for (const std::wstring& p : texts)
        Call(user_.Get(), p + L"=" + p + L'\0' + L"x");
    for (const std::wstring& p : texts)
        EXPECT_EQ(p, Call(user_.Get(), p));
    Expect(user_.Get(), L"Name=<null> => !E_INVALIDARG\nName => Name\nMailbox=<null>");
    EXPECT_EQ(E_INVALIDARG, user_->get_Name(nullptr));
}

// PopulateMyComputer sets the three folders from the first drive share of
// the computer with a Windows folder (winnt before windows) and the user's
// profile, the one with the domain's name first, named as given; a computer
// that does not answer keeps them.
TEST_F(User, ProfileFoldersComeFromTheComputersDriveShares)
{
    Domain(nullptr, L"CORP");
    Folders(L"P1", {L"C$/windows", L"C$/Documents and Settings/u", L"C$/Documents and Settings/u.CORP"});
    Folders(L"P4", {L"C$/windows", L"D$/winnt/Profiles/u"});
    Folders(L"Q1", {L"C$/winnt"});
    Reachable(L"P1");
    Reachable(L"P4");
    // The three folders below a profile directory.
    auto in = [](const std::wstring& p) { return p + L"\\Desktop|" + p + L"\\My Documents|" + p + L"\\Favorites"; };
    const std::pair<std::wstring, std::wstring> rows[] = {{L"//P1", in(L"//P1\\C$\\Documents and Settings\\u.CORP")},
                                                          {L"P4", in(L"\\\\P4\\D$\\Winnt\\Profiles\\u")},
                                                          {L"Q1", L"old|old|old"}};
    for (const auto& [computer, expected] : rows) {
        Make(computer);
        Expect(user_.Get(), L"PopulateMyComputer\nComputer => " + computer);
        EXPECT_EQ(expected, Shown());
    }
}

// Out of memory while one folder resolves leaves that folder as it was and
// does not stop the ones after it. The n-th allocation fails, for every n
// the resolution makes. With a windows folder (winnt is not looked for on
// drive A) and no profile, the folders are the shared ones.
TEST_F(User, EachProfileFolderResolvesEvenWhenAnotherRunsOutOfMemory)
{
    Reachable(L"PC1");
    Folders(L"PC1", {L"A$/winnt", L"A$/windows"});
    const auto failCall = FailCall();
    const auto calls = Calls();
    ASSERT_TRUE(failCall && calls);
    leaks_.IgnoreHandles();  // the handles of each failure: tests/load
    std::set<std::wstring> seen;
    for (LONG n = 1, reached = 1; reached >= n - 1; ++n) {  // until a run reaches no n-th allocation
        Make(L"PC1");
        failCall(kFaultAlloc, n, 0);
        EXPECT_EQ(S_OK, user_->PopulateMyComputer());
        reached = calls(kFaultAlloc, nullptr);
        failCall(kFaultAlloc, 0, 0);
        seen.insert(Shown());
    }
    const std::wstring d = L"\\\\PC1\\A$\\Windows\\Desktop", m = L"\\\\PC1\\A$\\My Documents",
                       f = L"\\\\PC1\\A$\\Windows\\Favorites";
    EXPECT_EQ((std::set<std::wstring>{L"old|" + m + L"|" + f, d + L"|old|" + f, d + L"|" + m + L"|old",
                                      d + L"|" + m + L"|" + f}),
              seen);
}

}  // namespace
