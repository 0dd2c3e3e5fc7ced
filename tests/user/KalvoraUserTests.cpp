// The user object: property rules, null against empty strings, pointer checks.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

// The validated string properties, and Mailbox last, which is not validated.
#define KALVORA_PROPERTY(P) {#P, &IKalvoraUser::get_##P, &IKalvoraUser::put_##P}
const struct StringProperty {
    const char* name;
    HRESULT (STDMETHODCALLTYPE IKalvoraUser::*get)(BSTR*);
    HRESULT (STDMETHODCALLTYPE IKalvoraUser::*put)(BSTR);
} kProperties[] = {
    KALVORA_PROPERTY(Computer),    KALVORA_PROPERTY(MyComputer), KALVORA_PROPERTY(MyDesktop),
    KALVORA_PROPERTY(MyDocuments), KALVORA_PROPERTY(MyFavorites), KALVORA_PROPERTY(MyNetwork),
    KALVORA_PROPERTY(MyRecent),    KALVORA_PROPERTY(Name),       KALVORA_PROPERTY(SecurityLevel),
    KALVORA_PROPERTY(Mailbox),
};
const StringProperty& kMailbox = kProperties[9];
const std::vector<StringProperty> kChecked(std::begin(kProperties), std::end(kProperties) - 1);

class User : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_ALL, IID_IKalvoraUser, &user_));
    }
    Bstr Get(const StringProperty& p)
    {
        Bstr out;
        EXPECT_EQ(S_OK, (user_.Get()->*p.get)(out.put())) << p.name;
        return out;
    }
    HRESULT Put(const StringProperty& p, BSTR value) { return (user_.Get()->*p.put)(value); }
    ComPtr<IKalvoraUser> user_;
};

TEST_F(User, NewObjectHoldsEmptyStringsAndNullMailbox)
{
    for (const auto& p : kProperties) {
        Bstr v = Get(p);
        EXPECT_EQ(&p == &kMailbox, v.isNull()) << p.name;  // the others are allocated empty strings
        EXPECT_EQ(0u, v.length()) << p.name;
    }
    LONG net = 123;
    EXPECT_EQ(S_OK, user_->get_IsNetwork(&net));
    EXPECT_EQ(0, net);
}

TEST_F(User, StringPropertiesCopyUpToTheFirstNulIntoNewStrings)
{
    const wchar_t text[] = {L'a', L'b', L'\0', L'c', L'd'};
    Bstr withNul(text, 5), empty(L"");
    for (const auto& p : kProperties) {
        ASSERT_EQ(S_OK, Put(p, withNul.get())) << p.name;
        Bstr a = Get(p), b = Get(p);
        EXPECT_EQ(L"ab", a.str()) << p.name;
        EXPECT_NE(a.get(), b.get()) << p.name;  // each get returns a new string
        EXPECT_EQ(S_OK, Put(p, empty.get())) << p.name;
        EXPECT_FALSE(Get(p).isNull()) << p.name;
        EXPECT_EQ(0u, Get(p).length()) << p.name;
    }
    // Each property keeps its own value.
    for (const auto& p : kProperties)
        ASSERT_EQ(S_OK, Put(p, Bstr(std::wstring(p.name, p.name + strlen(p.name)).c_str()).get()));
    for (const auto& p : kProperties)
        EXPECT_EQ(Narrow(Get(p).str()), p.name);
    // Only Mailbox takes null.
    EXPECT_EQ(S_OK, Put(kMailbox, nullptr));
    EXPECT_TRUE(Get(kMailbox).isNull());
}

TEST_F(User, CheckedAccessorsRefuseBadPointersAndKeepTheValue)
{
    // Unreadable strings: null, an unmapped page, a small integer.
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    // An unwritable slot for a get.
    auto* slot = static_cast<BSTR*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_TRUE(page && slot);
    const BSTR junk = reinterpret_cast<BSTR>(static_cast<INT_PTR>(0x5A5A5A5A));
    *slot = junk;
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(slot, 4096, PAGE_READONLY, &old));
    Bstr kept(L"kept");
    for (const auto& p : kChecked) {
        ASSERT_EQ(S_OK, Put(p, kept.get()));
        for (BSTR bad : {BSTR(nullptr), static_cast<BSTR>(page), reinterpret_cast<BSTR>(INT_PTR(16))})
            EXPECT_EQ(E_INVALIDARG, Put(p, bad)) << p.name;
        EXPECT_EQ(E_INVALIDARG, (user_.Get()->*p.get)(slot)) << p.name;
        EXPECT_EQ(E_INVALIDARG, (user_.Get()->*p.get)(nullptr)) << p.name;
        EXPECT_EQ(L"kept", Get(p).str()) << p.name;
    }
    EXPECT_EQ(junk, *slot);
    VirtualFree(page, 0, MEM_RELEASE);
    VirtualFree(slot, 0, MEM_RELEASE);
}

TEST_F(User, WriteToRegistryFailsAndPopulateWithoutComputerChangesNothing)
{
    const std::wstring users = L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users";
    const auto before = SubkeyNames(HKEY_LOCAL_MACHINE, users);
    for (int i = 1; i < 9; ++i)  // all but Computer and Mailbox
        ASSERT_EQ(S_OK, Put(kProperties[i], Bstr(L"value").get()));
    EXPECT_EQ(E_FAIL, user_->WriteToRegistry());
    EXPECT_EQ(E_FAIL, user_->WriteToRegistry());
    EXPECT_EQ(before, SubkeyNames(HKEY_LOCAL_MACHINE, users));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, users + L"\\value"));

    EXPECT_EQ(S_OK, user_->PopulateMyComputer());  // Computer is empty
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(i == 0 || i == 9 ? L"" : L"value", Get(kProperties[i]).str()) << kProperties[i].name;
    EXPECT_TRUE(Get(kMailbox).isNull());
}

}  // namespace
