// The user object: property rules, null against empty strings, pointer checks.
#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

using Getter = HRESULT (STDMETHODCALLTYPE IKalvoraUser::*)(BSTR*);
using Setter = HRESULT (STDMETHODCALLTYPE IKalvoraUser::*)(BSTR);

struct StringProperty {
    const char* name;
    Getter get;
    Setter put;
};

// The validated string properties.
const StringProperty kChecked[] = {
    {"Computer", &IKalvoraUser::get_Computer, &IKalvoraUser::put_Computer},
    {"MyComputer", &IKalvoraUser::get_MyComputer, &IKalvoraUser::put_MyComputer},
    {"MyDesktop", &IKalvoraUser::get_MyDesktop, &IKalvoraUser::put_MyDesktop},
    {"MyDocuments", &IKalvoraUser::get_MyDocuments, &IKalvoraUser::put_MyDocuments},
    {"MyFavorites", &IKalvoraUser::get_MyFavorites, &IKalvoraUser::put_MyFavorites},
    {"MyNetwork", &IKalvoraUser::get_MyNetwork, &IKalvoraUser::put_MyNetwork},
    {"MyRecent", &IKalvoraUser::get_MyRecent, &IKalvoraUser::put_MyRecent},
    {"Name", &IKalvoraUser::get_Name, &IKalvoraUser::put_Name},
    {"SecurityLevel", &IKalvoraUser::get_SecurityLevel, &IKalvoraUser::put_SecurityLevel},
};

class User : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser,
                                         reinterpret_cast<void**>(user_.GetAddressOf())));
    }
    Bstr Get(Getter get)
    {
        Bstr out;
        EXPECT_EQ(S_OK, (user_.Get()->*get)(out.put()));
        return out;
    }
    ComPtr<IKalvoraUser> user_;
};

TEST_F(User, NewObjectHoldsEmptyStringsAndNullMailbox)
{
    for (const auto& p : kChecked) {
        Bstr v = Get(p.get);
        EXPECT_FALSE(v.isNull()) << p.name;  // an allocated empty string
        EXPECT_EQ(0u, v.length()) << p.name;
    }
    Bstr mailbox = Get(&IKalvoraUser::get_Mailbox);
    EXPECT_TRUE(mailbox.isNull());
    LONG net = 123;
    EXPECT_EQ(S_OK, user_->get_IsNetwork(&net));
    EXPECT_EQ(0, net);
}

TEST_F(User, CheckedPutsRefuseNullAndKeepTheOldValue)
{
    for (const auto& p : kChecked) {
        Bstr value(L"before");
        ASSERT_EQ(S_OK, (user_.Get()->*p.put)(value.get())) << p.name;
        EXPECT_EQ(E_INVALIDARG, (user_.Get()->*p.put)(nullptr)) << p.name;
        EXPECT_EQ(L"before", Get(p.get).str()) << p.name;

        Bstr empty(L"");
        EXPECT_EQ(S_OK, (user_.Get()->*p.put)(empty.get())) << p.name;
        Bstr now = Get(p.get);
        EXPECT_FALSE(now.isNull()) << p.name;
        EXPECT_EQ(0u, now.length()) << p.name;
    }
}

TEST_F(User, CheckedPutsRefuseUnreadableStrings)
{
    // A string pointer into memory that cannot be read.
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(nullptr, page);
    for (const auto& p : kChecked) {
        Bstr value(L"kept");
        ASSERT_EQ(S_OK, (user_.Get()->*p.put)(value.get()));
        EXPECT_EQ(E_INVALIDARG, (user_.Get()->*p.put)(static_cast<BSTR>(page))) << p.name;
        EXPECT_EQ(E_INVALIDARG, (user_.Get()->*p.put)(reinterpret_cast<BSTR>(static_cast<INT_PTR>(16)))) << p.name;
        EXPECT_EQ(L"kept", Get(p.get).str()) << p.name;
    }
    VirtualFree(page, 0, MEM_RELEASE);
}

TEST_F(User, PutCopiesUpToTheFirstNul)
{
    const wchar_t text[] = {L'a', L'b', L'\0', L'c', L'd'};
    Bstr withNul(text, 5);
    ASSERT_EQ(5u, withNul.length());
    for (const auto& p : kChecked) {
        ASSERT_EQ(S_OK, (user_.Get()->*p.put)(withNul.get())) << p.name;
        Bstr v = Get(p.get);
        EXPECT_EQ(2u, v.length()) << p.name;
        EXPECT_EQ(L"ab", v.str()) << p.name;
    }
    ASSERT_EQ(S_OK, user_->put_Mailbox(withNul.get()));
    EXPECT_EQ(L"ab", Get(&IKalvoraUser::get_Mailbox).str());
    EXPECT_EQ(2u, Get(&IKalvoraUser::get_Mailbox).length());
}

TEST_F(User, CheckedGetsRefuseUnwritablePointers)
{
    Bstr value(L"x");
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(nullptr, page);
    auto* slot = static_cast<BSTR*>(page);
    *slot = reinterpret_cast<BSTR>(static_cast<INT_PTR>(0x5A5A5A5A));
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(page, 4096, PAGE_READONLY, &old));
    for (const auto& p : kChecked) {
        ASSERT_EQ(S_OK, (user_.Get()->*p.put)(value.get()));
        EXPECT_EQ(E_INVALIDARG, (user_.Get()->*p.get)(slot)) << p.name;
        EXPECT_EQ(E_INVALIDARG, (user_.Get()->*p.get)(nullptr)) << p.name;
    }
    EXPECT_EQ(reinterpret_cast<BSTR>(static_cast<INT_PTR>(0x5A5A5A5A)), *slot);  // nothing written
    VirtualFree(page, 0, MEM_RELEASE);
}

TEST_F(User, MailboxAcceptsNull)
{
    Bstr box(L"jdoe@example.org");
    ASSERT_EQ(S_OK, user_->put_Mailbox(box.get()));
    EXPECT_EQ(L"jdoe@example.org", Get(&IKalvoraUser::get_Mailbox).str());
    EXPECT_EQ(S_OK, user_->put_Mailbox(nullptr));
    EXPECT_TRUE(Get(&IKalvoraUser::get_Mailbox).isNull());
    Bstr empty(L"");
    EXPECT_EQ(S_OK, user_->put_Mailbox(empty.get()));
    Bstr now = Get(&IKalvoraUser::get_Mailbox);
    EXPECT_FALSE(now.isNull());
    EXPECT_EQ(0u, now.length());
}

TEST_F(User, IsNetworkStoresAnyValue)
{
    for (LONG v : {1L, 0L, -1L, 12L, static_cast<LONG>(INT_MIN), static_cast<LONG>(INT_MAX)}) {
        EXPECT_EQ(S_OK, user_->put_IsNetwork(v));
        LONG got = 0;
        EXPECT_EQ(S_OK, user_->get_IsNetwork(&got));
        EXPECT_EQ(v, got);
    }
}

TEST_F(User, PropertiesAreIndependent)
{
    // Each property keeps its own value.
    int i = 0;
    for (const auto& p : kChecked) {
        Bstr v((L"value" + std::to_wstring(i++)).c_str());
        ASSERT_EQ(S_OK, (user_.Get()->*p.put)(v.get()));
    }
    i = 0;
    for (const auto& p : kChecked)
        EXPECT_EQ(L"value" + std::to_wstring(i++), Get(p.get).str()) << p.name;
}

TEST_F(User, EachGetReturnsANewString)
{
    Bstr v(L"same");
    for (const auto& p : kChecked) {
        ASSERT_EQ(S_OK, (user_.Get()->*p.put)(v.get()));
        Bstr a = Get(p.get), b = Get(p.get);
        EXPECT_NE(a.get(), b.get()) << p.name;
        EXPECT_NE(v.get(), a.get()) << p.name;
        EXPECT_EQ(a.str(), b.str()) << p.name;
    }
    ASSERT_EQ(S_OK, user_->put_Mailbox(v.get()));
    Bstr a = Get(&IKalvoraUser::get_Mailbox), b = Get(&IKalvoraUser::get_Mailbox);
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(a.str(), b.str());
}

// Every key and value name under HKLM\SOFTWARE, to show that nothing changed.
std::set<std::wstring> SoftwareSnapshot()
{
    std::set<std::wstring> out;
    for (const auto& k : SubkeyNames(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users")) {
        out.insert(k);
        for (const auto& v : ValueNames(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users\\" + k))
            out.insert(k + L"|" + v);
    }
    for (const auto& k : SubkeyNames(HKEY_LOCAL_MACHINE, L"SOFTWARE"))
        out.insert(L"SOFTWARE\\" + k);
    return out;
}

TEST_F(User, WriteToRegistryAlwaysFailsAndWritesNothing)
{
    Bstr name(L"writer");
    ASSERT_EQ(S_OK, user_->put_Name(name.get()));
    Bstr computer(L"PC1");
    ASSERT_EQ(S_OK, user_->put_Computer(computer.get()));
    auto before = SoftwareSnapshot();
    EXPECT_EQ(E_FAIL, user_->WriteToRegistry());
    EXPECT_EQ(E_FAIL, user_->WriteToRegistry());
    EXPECT_EQ(before, SoftwareSnapshot());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users\\writer"));
}

TEST_F(User, PopulateWithEmptyComputerChangesNothing)
{
    int i = 0;
    for (const auto& p : kChecked) {
        if (std::string(p.name) == "Computer")
            continue;
        Bstr v((L"v" + std::to_wstring(i++)).c_str());
        ASSERT_EQ(S_OK, (user_.Get()->*p.put)(v.get()));
    }
    EXPECT_EQ(S_OK, user_->PopulateMyComputer());
    i = 0;
    for (const auto& p : kChecked) {
        if (std::string(p.name) == "Computer") {
            EXPECT_EQ(0u, Get(p.get).length());
            continue;
        }
        EXPECT_EQ(L"v" + std::to_wstring(i++), Get(p.get).str()) << p.name;
    }
    EXPECT_TRUE(Get(&IKalvoraUser::get_Mailbox).isNull());
}

TEST_F(User, ObjectsDoNotShareState)
{
    ComPtr<IKalvoraUser> other;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser,
                                     reinterpret_cast<void**>(other.GetAddressOf())));
    Bstr a(L"first");
    ASSERT_EQ(S_OK, user_->put_Name(a.get()));
    Bstr b;
    ASSERT_EQ(S_OK, other->get_Name(b.put()));
    EXPECT_EQ(0u, b.length());
}

}  // namespace
