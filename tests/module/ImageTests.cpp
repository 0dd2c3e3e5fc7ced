// The module file: exports, imports and resources.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

class Image : public testing::Test {
protected:
    void SetUp() override
    {
        // Mapped as data: nothing runs, headers and resources are readable.
        module_ = LoadLibraryExW(BuildPath(L"KalvoraAdminUser.dll").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_);
        // Also loaded for real, to read its PE directories at their RVAs.
        image_ = LoadLibraryExW(BuildPath(L"KalvoraAdminUser.dll").c_str(), nullptr,
                                LOAD_WITH_ALTERED_SEARCH_PATH);
        ASSERT_NE(nullptr, image_);
    }
    void TearDown() override
    {
        if (image_)
            FreeLibrary(image_);
        if (module_)
            FreeLibrary(module_);
    }

    const BYTE* Base() const { return reinterpret_cast<const BYTE*>(image_); }
    const IMAGE_NT_HEADERS32* Nt() const
    {
        auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(Base());
        return reinterpret_cast<const IMAGE_NT_HEADERS32*>(Base() + dos->e_lfanew);
    }

    HMODULE module_ = nullptr;
    HMODULE image_ = nullptr;
};

TEST_F(Image, Is32BitDll)
{
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, Nt()->FileHeader.Machine);
    EXPECT_TRUE(Nt()->FileHeader.Characteristics & IMAGE_FILE_DLL);
}

TEST_F(Image, ExportsExactlyTheFourEntryPoints)
{
    const auto& dir = Nt()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(0u, dir.VirtualAddress);
    auto exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(Base() + dir.VirtualAddress);
    auto names = reinterpret_cast<const DWORD*>(Base() + exp->AddressOfNames);
    std::set<std::string> got;
    for (DWORD i = 0; i < exp->NumberOfNames; ++i)
        got.insert(reinterpret_cast<const char*>(Base() + names[i]));
    EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                     "DllUnregisterServer"}),
              got);
    EXPECT_EQ(4u, exp->NumberOfFunctions);
}

TEST_F(Image, ImportsOnlySystemDllsAndOSUtilities)
{
    const auto& dir = Nt()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(0u, dir.VirtualAddress);
    const std::set<std::string> allowed = {"ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "OLE32.DLL",
                                           "OLEAUT32.DLL", "USER32.DLL",   "SHLWAPI.DLL", "MPR.DLL",
                                           "ACTIVEDS.DLL", "OSUTILITIES.DLL"};
    for (auto imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(Base() + dir.VirtualAddress);
         imp->Name; ++imp) {
        std::string name = reinterpret_cast<const char*>(Base() + imp->Name);
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(toupper(c)); });
        EXPECT_TRUE(allowed.count(name)) << name;
        EXPECT_EQ(std::string::npos, name.find("LIBGCC")) << name;
        EXPECT_EQ(std::string::npos, name.find("LIBSTDC")) << name;
        EXPECT_EQ(std::string::npos, name.find("PTHREAD")) << name;
    }
}

TEST_F(Image, HoldsRegistryScriptsTypeLibraryAndManifest)
{
    for (int id : {102, 103, 105}) {
        HRSRC res = FindResourceW(module_, MAKEINTRESOURCEW(id), L"REGISTRY");
        ASSERT_NE(nullptr, res) << id;
        DWORD size = SizeofResource(module_, res);
        auto text = static_cast<const char*>(LockResource(LoadResource(module_, res)));
        ASSERT_NE(nullptr, text);
        std::string script(text, size);
        EXPECT_NE(std::string::npos, script.find("%MODULE%")) << id;  // 8-bit text
        EXPECT_NE(std::string::npos, script.find("ThreadingModel = s 'Neutral'")) << id;
    }
    EXPECT_EQ(nullptr, FindResourceW(module_, MAKEINTRESOURCEW(104), L"REGISTRY"));
    EXPECT_NE(nullptr, FindResourceW(module_, MAKEINTRESOURCEW(1), L"TYPELIB"));
    EXPECT_NE(nullptr, FindResourceW(module_, MAKEINTRESOURCEW(2), RT_MANIFEST));
}

TEST_F(Image, StringTable)
{
    const struct {
        UINT id;
        const wchar_t* text;
    } strings[] = {
        {105, L"Software\\Kalvora\\Ostrel\\2.0\\"},
        {106, L"shares\\"},
        {107, L"shares"},
        {108, L"standard"},
        {132, L"\\Desktop"},
        {133, L"\\My Computer"},
        {134, L"\\My Documents"},
        {135, L"\\Favorites"},
        {136, L"\\Recent"},
        {137, L"\\NetHood"},
        {147, L"\\Desktop"},
        {148, L"\\My Computer"},
        {149, L"\\My Documents"},
        {150, L"\\Favorites"},
        {151, L"\\NetHood"},
        {152, L"\\Recent"},
    };
    for (const auto& s : strings) {
        wchar_t buf[256] = {};
        int len = LoadStringW(module_, s.id, buf, 256);
        EXPECT_EQ(std::wstring(s.text), std::wstring(buf, len > 0 ? len : 0)) << s.id;
    }
}

TEST_F(Image, VersionResource)
{
    std::wstring path = BuildPath(L"KalvoraAdminUser.dll");
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(MAKELONG(5, 4), fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(5, 4), fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);

    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &len));
    ASSERT_EQ(sizeof(Translation), len);
    EXPECT_EQ(0x0409, translation->language);
    EXPECT_EQ(1200, translation->codePage);

    const struct {
        const wchar_t* key;
        const wchar_t* value;
    } entries[] = {
        {L"FileDescription", L"KalvoraAdminUser Module"}, {L"FileVersion", L"4.5.0.0"},
        {L"InternalName", L"KalvoraAdminUser"},           {L"OriginalFilename", L"KalvoraAdminUser.DLL"},
        {L"ProductVersion", L"4.5"},                      {L"OLESelfRegister", L""},
    };
    for (const auto& e : entries) {
        wchar_t* value = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + e.key;
        ASSERT_TRUE(VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &len))
            << Narrow(e.key);
        EXPECT_EQ(std::wstring(e.value), std::wstring(value)) << Narrow(e.key);
    }
}

}  // namespace
