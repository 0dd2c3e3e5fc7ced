// The module file: exports, imports and resources.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

// The module, loaded for real so that its PE directories sit at their RVAs.
HMODULE Module()
{
    static HMODULE module = LoadLibraryExW(BuildPath(L"KalvoraAdminUser.dll").c_str(), nullptr,
                                           LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}
template <class T = char>
const T* At(DWORD rva)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(Module()) + rva);
}

TEST(Image, A32BitDllWithFourExportsAndSystemImports)
{
    ASSERT_NE(nullptr, Module());
    auto nt = At<IMAGE_NT_HEADERS32>(At<IMAGE_DOS_HEADER>(0)->e_lfanew);
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    auto dirs = nt->OptionalHeader.DataDirectory;
    auto exp = At<IMAGE_EXPORT_DIRECTORY>(dirs[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    std::set<std::string> got;
    for (DWORD i = 0; i < exp->NumberOfNames; ++i)
        got.insert(At(At<DWORD>(exp->AddressOfNames)[i]));
    EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                     "DllUnregisterServer"}),
              got);
    EXPECT_EQ(4u, exp->NumberOfFunctions);

    // No runtime DLL of the compiler (libgcc, libstdc++, winpthread) among the imports.
    const std::set<std::string> allowed = {"ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL",  "OLE32.DLL",
                                           "OLEAUT32.DLL", "USER32.DLL",   "SHLWAPI.DLL", "MPR.DLL",
                                           "ACTIVEDS.DLL", "OSUTILITIES.DLL"};
    for (auto imp = At<IMAGE_IMPORT_DESCRIPTOR>(dirs[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress); imp->Name;
         ++imp) {
        std::string name = At(imp->Name);
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return char(toupper(c)); });
        EXPECT_TRUE(allowed.count(name)) << name;
    }
}

// The registrar scripts and the type library are read by the registration tests.
TEST(Image, ManifestAndStringTable)
{
    EXPECT_NE(nullptr, FindResourceW(Module(), MAKEINTRESOURCEW(2), RT_MANIFEST));

    const struct {
        UINT id;
        const wchar_t* text;
    } strings[] = {
        {105, L"Software\\Kalvora\\Ostrel\\2.0\\"}, {106, L"shares\\"}, {107, L"shares"}, {108, L"standard"},
        {132, L"\\Desktop"}, {133, L"\\My Computer"}, {134, L"\\My Documents"}, {135, L"\\Favorites"},
        {136, L"\\Recent"}, {137, L"\\NetHood"}, {147, L"\\Desktop"}, {148, L"\\My Computer"},
        {149, L"\\My Documents"}, {150, L"\\Favorites"}, {151, L"\\NetHood"}, {152, L"\\Recent"},
    };
    for (const auto& s : strings) {
        wchar_t buf[256] = {};
        int len = LoadStringW(Module(), s.id, buf, 256);
        EXPECT_EQ(std::wstring(s.text), std::wstring(buf, len > 0 ? len : 0)) << s.id;
    }
}

TEST(Image, VersionResource)
{
    std::wstring path = BuildPath(L"KalvoraAdminUser.dll");
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    WORD* translation = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(MAKELONG(5, 4), fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(5, 4), fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &len));
    ASSERT_EQ(4u, len);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    const wchar_t* entries[][2] = {
        {L"FileDescription", L"KalvoraAdminUser Module"}, {L"FileVersion", L"4.5.0.0"},
        {L"InternalName", L"KalvoraAdminUser"},           {L"OriginalFilename", L"KalvoraAdminUser.DLL"},
        {L"ProductVersion", L"4.5"},                      {L"OLESelfRegister", L""},
    };
    for (const auto& e : entries) {
        wchar_t* value = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + e[0];
        ASSERT_TRUE(VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &len))
            << Narrow(e[0]);
        EXPECT_EQ(std::wstring(e[1]), value) << Narrow(e[0]);
    }
}

}  // namespace
