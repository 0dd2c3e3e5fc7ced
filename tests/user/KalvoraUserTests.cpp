// The user object: its properties through IDispatch and through the
// function table, and the profile folders found on its computer.
#include <gtest/gtest.h>

#include <set>

#include "support/FaultHook.h"
#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

const wchar_t* const kTexts[] = {L"Computer",  L"MyComputer", L"MyDesktop", L"MyDocuments",   L"MyFavorites",
                                 L"MyNetwork", L"MyRecent",   L"Name",      L"SecurityLevel", L"Mailbox"};

class User : public ModuleTest {
protected:
    ComPtr<IKalvoraUser> user_ = Create<IKalvoraUser>(CLSID_KalvoraUser);
};

TEST_F(User, EachTextPropertyKeepsItsOwnValueUpToItsFirstNul)
{
    for (const wchar_t* p : kTexts)
        EXPECT_EQ(L"", Call(user_.Get(), p)) << Narrow(p) << " starts empty";
    EXPECT_EQ(L"0", Call(user_.Get(), L"IsNetwork"));
    for (const wchar_t* p : kTexts)
        ASSERT_EQ(L"",
                  Call(user_.Get(), p + (L"=" + std::wstring(300, p[2])) + L"<" + p + std::wstring(1, 0) + L"tail"));
    for (const wchar_t* p : kTexts)
        EXPECT_EQ(std::wstring(300, p[2]) + L"<" + p, Call(user_.Get(), p));
    EXPECT_EQ(L"", Call(user_.Get(), L"Name="));
    EXPECT_EQ(L"", Call(user_.Get(), L"Name"));
    EXPECT_EQ(L"!E_FAIL", Call(user_.Get(), L"WriteToRegistry")) << "the user object persists nothing";
}

// Values of other types are converted as Automation converts them.
TEST_F(User, ValuesOfOtherTypes)
{
    Expect(user_.Get(),
           LR"(IsNetwork=2147483648 => !0x8002000A
                            IsNetwork=abc => !0x80020005
                            IsNetwork=-7
                            IsNetwork => -7
                            Name=#i4
                            Name => 7
                            Name=#nothing => !0x80020008
                            NoSuchMember => !0x80020006)");
}

// Through the function table: only Mailbox starts null and takes null; the
// other texts refuse a null string and keep their value, and every get
// refuses a null out pointer.
TEST_F(User, NullStringsAndNullOutPointers)
{
    BSTR out = nullptr;
    ASSERT_EQ(S_OK, user_->get_Mailbox(&out));
    EXPECT_EQ(nullptr, out);
    ASSERT_EQ(S_OK, user_->put_Name(B(L"kept").Get()));
    EXPECT_EQ(E_INVALIDARG, user_->put_Name(nullptr));
    EXPECT_EQ(E_INVALIDARG, user_->put_Computer(nullptr));
    ASSERT_EQ(S_OK, user_->get_Name(&out));
    EXPECT_EQ(L"kept", Str(BStr(out).Get()));
    ASSERT_EQ(S_OK, user_->put_Mailbox(B(L"m").Get()));
    ASSERT_EQ(S_OK, user_->put_Mailbox(nullptr));
    ASSERT_EQ(S_OK, user_->get_Mailbox(&out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_INVALIDARG, user_->get_MyRecent(nullptr));
    EXPECT_EQ(E_INVALIDARG, user_->get_SecurityLevel(nullptr));
    EXPECT_EQ(E_POINTER, user_->get_IsNetwork(nullptr));
    EXPECT_EQ(E_POINTER, user_->get_Mailbox(nullptr));
    // An unreadable string, a small integer, a read-only slot for a get.
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    auto* slot = static_cast<BSTR*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY));
    ASSERT_TRUE(page && slot);
    for (BSTR bad : {static_cast<BSTR>(page), reinterpret_cast<BSTR>(INT_PTR(16))})
        EXPECT_EQ(E_INVALIDARG, user_->put_SecurityLevel(bad));
    EXPECT_EQ(E_INVALIDARG, user_->get_Name(slot));
    VirtualFree(page, 0, MEM_RELEASE);
    VirtualFree(slot, 0, MEM_RELEASE);
    EXPECT_EQ(L"kept", Call(user_.Get(), L"Name"));
}

// PopulateMyComputer sets MyDesktop, MyDocuments and MyFavorites from the
// first drive share of the computer that holds a Windows folder and the
// user's profile; a computer that is unreachable or has neither keeps them.
TEST_F(User, ProfileFoldersComeFromTheComputersDriveShares)
{
    struct Row {
        const wchar_t* computer;  // as given; the folders are made below its name without slashes
        Texts folders;
        const wchar_t* desktop;  // then My Documents and Favorites beside it, unless given
        const wchar_t* documents = nullptr;
        const wchar_t* favorites = nullptr;
    };
    static const std::wstring kLong(520, L'x');
    const Row rows[] = {
        {L"P1",
         {L"C$/windows", L"C$/Documents and Settings/u", L"C$/Documents and Settings/u.CORP"},
         L"\\\\P1\\C$\\Documents and Settings\\u.CORP\\"},
        {L"\\\\P2", {L"C$/windows", L"C$/Documents and Settings/u"}, L"\\\\P2\\C$\\Documents and Settings\\u\\"},
        {L"//P3",
         {L"D$/windows", L"D$/Documents and Settings"},
         L"//P3\\D$\\Documents and Settings\\u",
         L"//P3\\D$\\Documents and Settings\\u",
         L"//P3\\D$\\Documents and Settings\\u"},
        {L"P4", {L"D$/winnt/Profiles/u"}, L"\\\\P4\\D$\\Winnt\\Profiles\\u\\"},
        {L"P6", {L"A$/winnt"}, L"old", L"old", L"old"},
        {L"P7",
         {L"A$/winnt", L"A$/windows"},
         L"\\\\P7\\A$\\Windows\\Desktop",
         L"\\\\P7\\A$\\My Documents",
         L"\\\\P7\\A$\\Windows\\Favorites"},
        {L"P8", {L"C$/windows", L"E$/winnt/Profiles/u"}, L"\\\\P8\\E$\\Winnt\\Profiles\\u\\"},
        {L"Q1", {L"C$/windows", L"C$/Documents and Settings/u"}, L"old", L"old", L"old"},  // does not answer
        {L"\\", {}, L"old", L"old", L"old"},
        {kLong.c_str(), {}, L"old", L"old", L"old"},  // too long for a path
    };
    Domain(nullptr, L"CORP");
    for (const Row& r : rows) {
        const std::wstring given = r.computer,
                           name = given.substr(std::min(given.find_first_not_of(L"\\/"), given.size()));
        Folders(name, r.folders);
        if (name[0] == L'P')
            Reachable(name);
        ComPtr<IKalvoraUser> user = Create<IKalvoraUser>(CLSID_KalvoraUser);
        for (const std::wstring put :
             {L"Name=u", L"MyDesktop=old", L"MyDocuments=old", L"MyFavorites=old", L"MyRecent=r"})
            Call(user.Get(), put);
        Call(user.Get(), L"Computer=" + std::wstring(r.computer));
        EXPECT_EQ(L"", Call(user.Get(), L"PopulateMyComputer"));
        const std::wstring d = r.desktop;
        EXPECT_EQ(
            (Texts{r.documents ? d : d + L"Desktop", r.documents ? r.documents : d + L"My Documents",
                   r.favorites ? r.favorites : d + L"Favorites", L"r", r.computer}),
            (Texts{Call(user.Get(), L"MyDesktop"), Call(user.Get(), L"MyDocuments"), Call(user.Get(), L"MyFavorites"),
                   Call(user.Get(), L"MyRecent"), Call(user.Get(), L"Computer")}))
            << Narrow(r.computer);
    }
}

// Out of memory while one folder resolves leaves that folder as it was and
// does not stop the ones after it; a failure before the first leaves all
// three. The n-th allocation fails, for every n the resolution makes.
TEST_F(User, EachProfileFolderResolvesEvenWhenAnotherRunsOutOfMemory)
{
    Reachable(L"PC1");
    Folders(L"PC1", {L"C$/winnt", L"C$/Documents and Settings/u.CORP"});
    Domain(L"corp.example.com", L"CORP");
    const HMODULE module = GetModuleHandleW(L"KalvoraAdminUser.dll");
    const auto failCall = Export<FailCallFn>(module, "KalvoraTestFailCall");
    const auto calls = Export<CallsFn>(module, "KalvoraTestCalls");
    ASSERT_TRUE(failCall && calls);
    // For MyDesktop, MyDocuments and MyFavorites: "1" when left as it was;
    // after "last " when the resolution made fewer than n allocations.
    auto resolve = [&](LONG n) {
        ComPtr<IKalvoraUser> user = Create<IKalvoraUser>(CLSID_KalvoraUser);
        for (const wchar_t* put :
             {L"Name=u", L"Computer=PC1", L"MyDesktop=old", L"MyDocuments=old", L"MyFavorites=old"})
            EXPECT_EQ(L"", Call(user.Get(), put));
        failCall(kFaultAlloc, n, 0);
        EXPECT_EQ(S_OK, user->PopulateMyComputer()) << "allocation " << n;
        std::wstring left = calls(kFaultAlloc, nullptr) >= n ? L"" : L"last ";
        failCall(kFaultAlloc, 0, 0);
        for (const wchar_t* folder : {L"MyDesktop", L"MyDocuments", L"MyFavorites"})
            left += Call(user.Get(), folder) == L"old" ? L'1' : L'0';
        return left;
    };
    leaks_.IgnoreHandles();  // the handles of each failure: tests/load
    std::set<std::wstring> seen;
    std::wstring left;
    for (LONG n = 1; (left = resolve(n)).size() == 3; ++n)
        seen.insert(left);
    EXPECT_EQ(L"last 000", left) << "without a failure every folder resolves";
    seen.erase(L"000");
    seen.erase(L"111");
    EXPECT_EQ((std::set<std::wstring>{L"001", L"010", L"100"}), seen) << "each folder is once the only one left";
}

}  // namespace
