// The registrar script parser and the registrar that applies scripts.
#include <gtest/gtest.h>

#include "module/Registrar.h"
#include "module/RegistryScript.h"
#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

// A parsed key as one line: rule, name, "=" value, then its named values and subkeys in braces.
std::wstring Show(const rgs::Value& v)
{
    if (v.type == rgs::ValueType::String)
        return L"s'" + v.text + L"'";
    if (v.type == rgs::ValueType::Dword)
        return L"d" + std::to_wstring(v.dword);
    std::wstring s = L"b";
    for (auto byte : v.binary)
        s += std::to_wstring(byte) + L".";
    return s;
}

std::wstring Show(const rgs::Key& k)
{
    const wchar_t* rules[] = {L"", L"NoRemove ", L"ForceRemove ", L"Delete "};
    std::wstring s = rules[static_cast<int>(k.rule)] + k.name;
    if (k.hasDefault)
        s += L"=" + Show(k.defaultValue);
    if (k.values.empty() && k.subkeys.empty())
        return s;
    s += L"{";
    for (const auto& v : k.values)
        s += L"val " + v.name + L"=" + Show(v) + L";";
    for (const auto& sub : k.subkeys)
        s += Show(sub) + L";";
    return s + L"}";
}

rgs::Script MustParse(const std::wstring& text)
{
    rgs::Script script;
    rgs::ParseError error;
    EXPECT_TRUE(rgs::Parse(text, script, &error)) << Narrow(error.message) << " at " << error.offset;
    return script;
}

TEST(RegistryScript, ParsesKeysRulesAndValues)
{
    rgs::Script s = MustParse(
        L"HKCR\r\n{\r\n  NoRemove CLSID\n  {\n    ForceRemove {ABC} = s 'My ''quoted'' Class'\n    {\n"
        L"      InprocServer32 = s 'C:\\dir\\x.dll' { val ThreadingModel = s 'Neutral' }\n"
        L"      'TypeLib' = s '{LIB}'\n      ForceRemove 'Programmable'\n      Counter = d '0x1F'\n"
        L"      Decimal = d 42\n      Blob = b 00FFa0\n      Delete Old\n    }\n  }\n}\n");
    ASSERT_EQ(1u, s.roots.size());
    EXPECT_EQ(L"NoRemove HKCR{NoRemove CLSID{ForceRemove {ABC}=s'My 'quoted' Class'{"
              L"InprocServer32=s'C:\\dir\\x.dll'{val ThreadingModel=s'Neutral';};TypeLib=s'{LIB}';"
              L"ForceRemove Programmable;Counter=d31;Decimal=d42;Blob=b0.255.160.;Delete Old;};};}",
              Show(s.roots[0]));
    EXPECT_TRUE(MustParse(L"").roots.empty());
}

TEST(RegistryScript, RejectsMalformedScripts)
{
    std::wstring deep = L"HKCR {";  // nesting is bounded
    for (int i = 0; i < 100; ++i)
        deep += L" K {";
    for (int i = 0; i < 101; ++i)
        deep += L" }";
    const std::wstring bad[] = {
        L"HKCR { Key = s 'unterminated }", L"HKCR { Key { }", L"HKCR { Key = q 'x' }", L"HKCR { Key = s }",
        L"HKCR { Key = d 4294967296 }", L"HKCR { Key = d 12x }", L"HKCR { Key = b 0 }", L"HKCR { K = b zz }",
        L"HKCR { val X = s 'y' }", L"HKCR { '' }", L"HKCR { NoRemove }", L"HKCR Key", L"{ }", deep,
    };
    for (const auto& text : bad) {
        rgs::Script script;
        rgs::ParseError error;
        EXPECT_FALSE(rgs::Parse(text, script, &error)) << Narrow(text);
        EXPECT_FALSE(error.message.empty()) << Narrow(text);
    }
}

TEST(RegistryScript, SubstitutesVariables)
{
    const std::vector<std::pair<std::wstring, std::wstring>> vars = {{L"MODULE", L"X"}};
    std::wstring out;
    ASSERT_TRUE(rgs::Substitute(L"a %MODULE% b %% c", vars, out));
    EXPECT_EQ(L"a X b % c", out);
    EXPECT_FALSE(rgs::Substitute(L"%OTHER%", vars, out));
    EXPECT_FALSE(rgs::Substitute(L"50% done", vars, out));
    // Replacement text is not scanned again.
    ASSERT_TRUE(rgs::Substitute(L"%MODULE%", {{L"MODULE", L"%MODULE%"}}, out));
    EXPECT_EQ(L"%MODULE%", out);
    // A module path with quotes stays one string once quoted for the script.
    std::wstring quoted = rgs::QuoteForScript(L"C:\\it's");
    ASSERT_TRUE(rgs::Substitute(L"HKCR { K = s '%MODULE%' }", {{L"MODULE", quoted}}, out));
    EXPECT_EQ(L"K=s'C:\\it's'", Show(MustParse(out).roots.at(0).subkeys.at(0)));
}

// The registrar, against a scratch key of the current user.
class Registrar : public testing::Test {
protected:
    const std::wstring root_ = L"Software\\KalvoraRegistrarTest";
    void SetUp() override { DeleteTree(HKEY_CURRENT_USER, root_); }
    void TearDown() override { DeleteTree(HKEY_CURRENT_USER, root_); }

    HRESULT Apply(const std::wstring& body, RegistrarMode mode)
    {
        return ApplyRegistryScript(MustParse(L"HKCU { NoRemove Software { " + body + L" } }"), mode);
    }
    bool Has(const std::wstring& sub, const wchar_t* value = nullptr)
    {
        return value ? GetRaw(HKEY_CURRENT_USER, root_ + sub, value).has_value()
                     : KeyExists(HKEY_CURRENT_USER, root_ + sub);
    }
};

TEST_F(Registrar, WritesAndRemovesByRule)
{
    const wchar_t* body = L"KalvoraRegistrarTest = s 'root' { Delete Old"
                          L"  Plain = s 'p' { val Named = s 'n' val Count = d 7 Child = s 'c' }"
                          L"  ForceRemove Forced = s 'f' { Inner }  NoRemove Kept { Sub = s 's' } }";
    SetString(HKEY_CURRENT_USER, root_ + L"\\Old\\Deep", nullptr, L"x");
    ASSERT_EQ(S_OK, Apply(body, RegistrarMode::Register));
    EXPECT_FALSE(Has(L"\\Old"));  // deleted with its subtree
    EXPECT_EQ(L"root", GetString(HKEY_CURRENT_USER, root_, nullptr).value_or(L"?"));
    EXPECT_EQ(L"n", GetString(HKEY_CURRENT_USER, root_ + L"\\Plain", L"Named").value_or(L"?"));
    DWORD type = 0;
    auto count = GetRaw(HKEY_CURRENT_USER, root_ + L"\\Plain", L"Count", &type);
    ASSERT_TRUE(count && count->size() == 4 && type == REG_DWORD);
    EXPECT_EQ(7u, *reinterpret_cast<const DWORD*>(count->data()));
    EXPECT_TRUE(Has(L"\\Forced\\Inner"));

    // Registering again rebuilds the forced key only: a foreign value elsewhere stays.
    SetString(HKEY_CURRENT_USER, root_ + L"\\Plain", L"Foreign", L"x");
    SetString(HKEY_CURRENT_USER, root_ + L"\\Forced\\Stale", nullptr, L"x");
    ASSERT_EQ(S_OK, Apply(body, RegistrarMode::Register));
    EXPECT_FALSE(Has(L"\\Forced\\Stale"));
    EXPECT_TRUE(Has(L"\\Plain", L"Foreign"));

    // A normal key with a foreign subkey stays, losing its listed values and subkeys;
    // a key to delete is left alone.
    SetString(HKEY_CURRENT_USER, root_ + L"\\Plain\\Foreign", nullptr, L"x");
    SetString(HKEY_CURRENT_USER, root_ + L"\\Old", nullptr, L"x");
    ASSERT_EQ(S_OK, Apply(body, RegistrarMode::Unregister));
    for (const wchar_t* kept : {L"", L"\\Plain\\Foreign", L"\\Kept", L"\\Old"})
        EXPECT_TRUE(Has(kept)) << Narrow(kept);
    for (const wchar_t* gone : {L"\\Plain\\Child", L"\\Forced", L"\\Kept\\Sub"})
        EXPECT_FALSE(Has(gone)) << Narrow(gone);
    EXPECT_FALSE(Has(L"\\Plain", L"Named") || Has(L"\\Plain", L"Count"));

    // Once the foreign keys are gone, everything goes.
    for (const wchar_t* foreign : {L"\\Plain\\Foreign", L"\\Kept", L"\\Old"})
        DeleteTree(HKEY_CURRENT_USER, root_ + foreign);
    ASSERT_EQ(S_OK, Apply(body, RegistrarMode::Unregister));
    EXPECT_FALSE(Has(L""));
    EXPECT_EQ(S_OK, Apply(body, RegistrarMode::Unregister));  // nothing left to remove
}

TEST_F(Registrar, FailuresAreReturned)
{
    EXPECT_EQ(DISP_E_EXCEPTION, ApplyRegistryScript(MustParse(L"HKXX { A }"), RegistrarMode::Register));
    // The registry refuses a key name longer than 255 characters.
    HRESULT hr = Apply(L"KalvoraRegistrarTest { " + std::wstring(300, L'k') + L" }", RegistrarMode::Register);
    EXPECT_EQ(FACILITY_WIN32, HRESULT_FACILITY(hr));
    EXPECT_TRUE(FAILED(hr));
}

}  // namespace
