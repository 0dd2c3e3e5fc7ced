// The registrar script parser and the registrar that applies scripts.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "module/Registrar.h"
#include "module/RegistryScript.h"
#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

rgs::Script MustParse(const std::wstring& text)
{
    rgs::Script script;
    rgs::ParseError error;
    EXPECT_TRUE(rgs::Parse(text, script, &error)) << Narrow(error.message) << " at " << error.offset;
    return script;
}

bool Fails(const std::wstring& text)
{
    rgs::Script script;
    rgs::ParseError error;
    bool ok = rgs::Parse(text, script, &error);
    if (!ok)
        EXPECT_FALSE(error.message.empty());
    return !ok;
}

TEST(RegistryScript, ParsesKeysRulesAndValues)
{
    rgs::Script s = MustParse(
        L"HKCR\r\n{\r\n"
        L"  NoRemove CLSID\n  {\n"
        L"    ForceRemove {ABC} = s 'My ''quoted'' Class'\n    {\n"
        L"      InprocServer32 = s 'C:\\dir\\x.dll'\n      {\n        val ThreadingModel = s 'Neutral'\n      }\n"
        L"      'TypeLib' = s '{LIB}'\n"
        L"      ForceRemove 'Programmable'\n"
        L"      Counter = d '0x1F'\n"
        L"      Decimal = d 42\n"
        L"      Blob = b 00FFa0\n"
        L"      Delete Old\n"
        L"    }\n  }\n}\n");
    ASSERT_EQ(1u, s.roots.size());
    EXPECT_EQ(L"HKCR", s.roots[0].name);
    ASSERT_EQ(1u, s.roots[0].subkeys.size());
    const rgs::Key& clsid = s.roots[0].subkeys[0];
    EXPECT_EQ(L"CLSID", clsid.name);
    EXPECT_EQ(rgs::KeyRule::NoRemove, clsid.rule);
    EXPECT_FALSE(clsid.hasDefault);
    ASSERT_EQ(1u, clsid.subkeys.size());
    const rgs::Key& cls = clsid.subkeys[0];
    EXPECT_EQ(L"{ABC}", cls.name);
    EXPECT_EQ(rgs::KeyRule::ForceRemove, cls.rule);
    ASSERT_TRUE(cls.hasDefault);
    EXPECT_EQ(L"My 'quoted' Class", cls.defaultValue.text);
    ASSERT_EQ(7u, cls.subkeys.size());
    EXPECT_EQ(L"InprocServer32", cls.subkeys[0].name);
    EXPECT_EQ(L"C:\\dir\\x.dll", cls.subkeys[0].defaultValue.text);
    ASSERT_EQ(1u, cls.subkeys[0].values.size());
    EXPECT_EQ(L"ThreadingModel", cls.subkeys[0].values[0].name);
    EXPECT_EQ(L"Neutral", cls.subkeys[0].values[0].text);
    EXPECT_EQ(L"TypeLib", cls.subkeys[1].name);
    EXPECT_EQ(rgs::KeyRule::Normal, cls.subkeys[1].rule);
    EXPECT_EQ(L"Programmable", cls.subkeys[2].name);
    EXPECT_EQ(rgs::KeyRule::ForceRemove, cls.subkeys[2].rule);
    EXPECT_FALSE(cls.subkeys[2].hasDefault);
    EXPECT_EQ(rgs::ValueType::Dword, cls.subkeys[3].defaultValue.type);
    EXPECT_EQ(0x1Fu, cls.subkeys[3].defaultValue.dword);
    EXPECT_EQ(42u, cls.subkeys[4].defaultValue.dword);
    EXPECT_EQ((std::vector<std::uint8_t>{0x00, 0xFF, 0xA0}), cls.subkeys[5].defaultValue.binary);
    EXPECT_EQ(rgs::KeyRule::Delete, cls.subkeys[6].rule);
}

TEST(RegistryScript, RejectsMalformedScripts)
{
    EXPECT_TRUE(Fails(L"HKCR { Key = s 'unterminated }"));
    EXPECT_TRUE(Fails(L"HKCR { Key { }"));               // missing closing brace
    EXPECT_TRUE(Fails(L"HKCR { Key = q 'x' }"));         // unknown value type
    EXPECT_TRUE(Fails(L"HKCR { Key = s }"));             // no data
    EXPECT_TRUE(Fails(L"HKCR { Key = d 4294967296 }"));  // beyond 32 bits
    EXPECT_TRUE(Fails(L"HKCR { Key = d 12x }"));
    EXPECT_TRUE(Fails(L"HKCR { Key = b 0 }"));           // odd digit count
    EXPECT_TRUE(Fails(L"HKCR { Key = b zz }"));
    EXPECT_TRUE(Fails(L"HKCR { val X = s 'y' }"));       // named value outside a key
    EXPECT_TRUE(Fails(L"HKCR { '' }"));                  // empty key name
    EXPECT_TRUE(Fails(L"HKCR { NoRemove }"));
    EXPECT_TRUE(Fails(L"HKCR Key"));
    EXPECT_TRUE(Fails(L"{ }"));
    // Nesting is bounded.
    std::wstring deep = L"HKCR {";
    for (int i = 0; i < 100; ++i)
        deep += L" K {";
    for (int i = 0; i < 101; ++i)
        deep += L" }";
    EXPECT_TRUE(Fails(deep));
    // Empty input is an empty script.
    EXPECT_TRUE(MustParse(L"").roots.empty());
}

TEST(RegistryScript, SubstitutesVariables)
{
    std::wstring out;
    ASSERT_TRUE(rgs::Substitute(L"a %MODULE% b %% c", {{L"MODULE", L"X"}}, out));
    EXPECT_EQ(L"a X b % c", out);
    EXPECT_FALSE(rgs::Substitute(L"%OTHER%", {{L"MODULE", L"X"}}, out));
    EXPECT_FALSE(rgs::Substitute(L"50% done", {{L"MODULE", L"X"}}, out));
    // A module path with quotes stays one string once quoted for the script.
    std::wstring path = L"C:\\it's here\\x.dll";
    ASSERT_TRUE(rgs::Substitute(L"HKCR { K = s '%MODULE%' }", {{L"MODULE", rgs::QuoteForScript(path)}}, out));
    rgs::Script s = MustParse(out);
    ASSERT_EQ(1u, s.roots[0].subkeys.size());
    EXPECT_EQ(path, s.roots[0].subkeys[0].defaultValue.text);
    // Replacement text is not scanned again.
    ASSERT_TRUE(rgs::Substitute(L"%MODULE%", {{L"MODULE", L"%MODULE%"}}, out));
    EXPECT_EQ(L"%MODULE%", out);
}

// The module's own scripts, as stored in the source tree.
std::wstring ReadSource(const char* relative)
{
    std::wstring path = std::wstring(KALVORA_SOURCE_DIR_W) + L"\\" + std::wstring(relative, relative + strlen(relative));
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string s = ss.str();
    return std::wstring(s.begin(), s.end());
}

TEST(RegistryScript, ModuleScriptsParse)
{
    for (const char* file : {"module\\KalvoraUser.rgs", "module\\EnumKalvoraUser.rgs", "module\\KalvoraShares.rgs"}) {
        std::wstring text = ReadSource(file);
        ASSERT_FALSE(text.empty()) << file;
        std::wstring script;
        ASSERT_TRUE(rgs::Substitute(text, {{L"MODULE", L"C:\\m.dll"}}, script)) << file;
        rgs::Script s = MustParse(script);
        ASSERT_EQ(1u, s.roots.size()) << file;
        ASSERT_EQ(3u, s.roots[0].subkeys.size()) << file;
        EXPECT_EQ(rgs::KeyRule::NoRemove, s.roots[0].subkeys[2].rule) << file;
        ASSERT_EQ(1u, s.roots[0].subkeys[2].subkeys.size()) << file;
        EXPECT_EQ(rgs::KeyRule::ForceRemove, s.roots[0].subkeys[2].subkeys[0].rule) << file;
    }
}

// The registrar, against a scratch key of the current user.
class Registrar : public testing::Test {
protected:
    static constexpr const wchar_t* kRoot = L"Software\\KalvoraRegistrarTest";
    void SetUp() override { DeleteTree(HKEY_CURRENT_USER, kRoot); }
    void TearDown() override { DeleteTree(HKEY_CURRENT_USER, kRoot); }

    HRESULT Apply(const wchar_t* body, RegistrarMode mode)
    {
        std::wstring text = L"HKCU { NoRemove Software { " + std::wstring(body) + L" } }";
        return ApplyRegistryScript(MustParse(text), mode);
    }
};

TEST_F(Registrar, WritesAndRemovesByRule)
{
    const wchar_t* body =
        L"KalvoraRegistrarTest = s 'root' { "
        L"  Plain = s 'p' { val Named = s 'n' val Count = d 7 Child = s 'c' } "
        L"  ForceRemove Forced = s 'f' { Inner } "
        L"  NoRemove Kept { Sub = s 's' } "
        L"}";
    ASSERT_EQ(S_OK, Apply(body, RegistrarMode::Register));
    std::wstring root = kRoot;
    EXPECT_EQ(L"root", GetString(HKEY_CURRENT_USER, root, nullptr).value_or(L"?"));
    EXPECT_EQ(L"n", GetString(HKEY_CURRENT_USER, root + L"\\Plain", L"Named").value_or(L"?"));
    DWORD type = 0;
    auto count = GetRaw(HKEY_CURRENT_USER, root + L"\\Plain", L"Count", &type);
    ASSERT_TRUE(count);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(7u, *reinterpret_cast<const DWORD*>(count->data()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, root + L"\\Forced\\Inner"));

    // Foreign content: a value in a normal key, a subkey below the forced key,
    // and a foreign subkey below Plain.
    SetString(HKEY_CURRENT_USER, root + L"\\Plain", L"Foreign", L"x");
    SetString(HKEY_CURRENT_USER, root + L"\\Forced\\Stale", nullptr, L"x");
    ASSERT_EQ(S_OK, Apply(body, RegistrarMode::Register));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root + L"\\Forced\\Stale"));  // rebuilt
    EXPECT_TRUE(GetString(HKEY_CURRENT_USER, root + L"\\Plain", L"Foreign").has_value());

    SetString(HKEY_CURRENT_USER, root + L"\\Plain\\Foreign", nullptr, L"x");
    ASSERT_EQ(S_OK, Apply(body, RegistrarMode::Unregister));
    // Plain keeps its foreign subkey, loses its listed values and subkeys.
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, root + L"\\Plain\\Foreign"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root + L"\\Plain\\Child"));
    EXPECT_FALSE(GetString(HKEY_CURRENT_USER, root + L"\\Plain", L"Named").has_value());
    EXPECT_FALSE(GetRaw(HKEY_CURRENT_USER, root + L"\\Plain", L"Count").has_value());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root + L"\\Forced"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, root + L"\\Kept"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root + L"\\Kept\\Sub"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, root));  // still holds Plain and Kept

    // Once the foreign key is gone, everything but the never-removed key goes.
    DeleteTree(HKEY_CURRENT_USER, root + L"\\Plain\\Foreign");
    DeleteTree(HKEY_CURRENT_USER, root + L"\\Kept");
    ASSERT_EQ(S_OK, Apply(body, RegistrarMode::Unregister));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root));
    // Removing what is not there succeeds.
    EXPECT_EQ(S_OK, Apply(body, RegistrarMode::Unregister));
}

TEST_F(Registrar, DeleteRuleRemovesWhenRegistering)
{
    std::wstring root = kRoot;
    SetString(HKEY_CURRENT_USER, root + L"\\Old\\Deep", nullptr, L"x");
    ASSERT_EQ(S_OK, Apply(L"KalvoraRegistrarTest { Delete Old }", RegistrarMode::Register));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root + L"\\Old"));
    SetString(HKEY_CURRENT_USER, root + L"\\Old", nullptr, L"x");
    ASSERT_EQ(S_OK, Apply(L"KalvoraRegistrarTest { Delete Old }", RegistrarMode::Unregister));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, root + L"\\Old"));
}

TEST_F(Registrar, UnknownRootFails)
{
    EXPECT_EQ(DISP_E_EXCEPTION, ApplyRegistryScript(MustParse(L"HKXX { A }"), RegistrarMode::Register));
}

TEST_F(Registrar, RegistryFailureIsReturned)
{
    // The registry refuses a key name longer than 255 characters.
    std::wstring longName(300, L'k');
    std::wstring body = L"KalvoraRegistrarTest { " + longName + L" }";
    HRESULT hr = Apply(body.c_str(), RegistrarMode::Register);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(FACILITY_WIN32, HRESULT_FACILITY(hr));
}

}  // namespace
