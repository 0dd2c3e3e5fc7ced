// TestSupport.cpp: helpers shared by the GoogleTest suites.
#include "support/TestSupport.h"

#include "module/Variant.h"

#include <winternl.h>

#include <algorithm>
#include <fstream>

namespace kalvora::test {

namespace {

// The UTF-8 lines of a file, without blank ones and those that start with "#".
Texts Lines(const std::string& path)
{
    Texts lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        wstring text(line.size(), L'\0');
        text.resize(MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), &text[0], int(text.size())));
        if (!line.empty() && line[0] != '#')
            lines.push_back(text);
    }
    return lines;
}

}  // namespace

wstring InstallPath(const wchar_t* fileName) { return wstring(KALVORA_INSTALL_DIR_W) + L"\\" + fileName; }
wstring Str(BSTR text) { return text ? wstring(text, SysStringLen(text)) : L"<null>"; }
Texts ReadLines(const std::string& file) { return Lines(KALVORA_TESTS_DIR "/" + file); }

Texts Split(const wstring& text, wchar_t separator)
{
    Texts parts;
    for (size_t at = 0, next = 0; next != wstring::npos; at = next + 1)
        parts.push_back(text.substr(at, (next = text.find(separator, at)) - at));
    return parts;
}

wstring Join(const Texts& parts, const wchar_t* separator)
{
    wstring text;
    for (size_t i = 0; i < parts.size(); ++i)
        text += (i ? separator : L"") + parts[i];
    return text;
}

// ---- late binding -------------------------------------------------------------------

wstring Outcome(HRESULT hr)
{
    wchar_t hex[16];
    swprintf(hex, 16, L"!0x%08lX", static_cast<unsigned long>(hr));
    return hr == S_OK ? L"" : hr == E_FAIL ? L"!E_FAIL" : hr == E_INVALIDARG ? L"!E_INVALIDARG" : hex;
}

wstring Call(IUnknown* object, const wstring& call)
{
    ComPtr<IDispatch> disp;
    if (!object || FAILED(object->QueryInterface(IID_IDispatch, &disp)))
        return L"!no IDispatch";
    Texts parts = Split(call, L'|');
    const size_t eq = parts[0].find(L'=');
    const bool put = eq != wstring::npos;
    if (put) {
        parts.push_back(parts[0].substr(eq + 1));
        parts[0].resize(eq);
    }
    // The arguments, last first as DISPPARAMS holds them, and the variables
    // that references point at.
    const size_t n = parts.size() - 1;
    std::vector<Variant> args(n), refs(n);
    for (size_t i = 0; i < n; ++i) {
        const bool byRef = parts[i + 1][0] == L'&', object = parts[i + 1] == L"&#object";
        const wstring text = parts[i + 1].substr(byRef);
        VARIANT &arg = args[n - 1 - i], &v = byRef ? refs[i] : arg;
        if (text == L"#i4")
            v.vt = VT_I4, v.lVal = 7;
        else if (text == L"#nothing" || object)
            v.vt = VT_DISPATCH, v.pdispVal = nullptr;
        else
            v.vt = VT_BSTR, v.bstrVal = text == L"<null>" ? nullptr : B(text).Detach();
        if (byRef)
            arg.vt = VT_BYREF | (object ? VT_DISPATCH : VT_VARIANT), arg.byref = object ? (void*)&v.pdispVal : &v;
    }
    std::vector<VARIANT> raw(args.begin(), args.end());  // `args` owns what they hold
    LPOLESTR name = &parts[0][0];
    DISPID id = 0, named = DISPID_PROPERTYPUT;
    DISPPARAMS params{raw.data(), put ? &named : nullptr, UINT(n), put};
    Variant result;
    EXCEPINFO excep{};
    HRESULT hr = disp->GetIDsOfNames(IID_NULL, &name, 1, 0, &id);
    if (SUCCEEDED(hr))
        hr = disp->Invoke(id, IID_NULL, 0, put ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                          &params, &result, &excep, nullptr);
    for (BSTR text : {excep.bstrSource, excep.bstrDescription, excep.bstrHelpFile})
        SysFreeString(text);
    if (hr != S_OK)
        return Outcome(hr == DISP_E_EXCEPTION ? excep.scode : hr);
    switch (result.vt) {
        case VT_EMPTY:
            return L"";
        case VT_BSTR:
            return Str(result.bstrVal);
        case VT_I4:
            return std::to_wstring(result.lVal);
        case VT_DISPATCH:
            return result.pdispVal ? L"{" + Call(result.pdispVal, L"Name") + L"}" : L"{}";
    }
    return L"<vt " + std::to_wstring(result.vt) + L">";
}

void Expect(IUnknown* object, const wstring& steps)
{
    for (wstring step : Split(steps, L'\n')) {
        step.erase(0, step.find_first_not_of(L' '));
        const size_t at = step.find(L" =>");
        if (!step.empty())
            EXPECT_EQ(at == wstring::npos ? L"" : step.substr(std::min(at + 4, step.size())),
                      Call(object, step.substr(0, at)))
                << Narrow(step.substr(0, 80));
    }
}

// ---- registry -----------------------------------------------------------------------

namespace {

RegKey Open(HKEY root, const wstring& path, REGSAM access, bool create = false)
{
    RegKey key;
    access |= root == HKEY_LOCAL_MACHINE ? kStoreView : 0;
    if (create)
        EXPECT_EQ(0, RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, key.Put(), nullptr));
    else
        RegOpenKeyExW(root, path.c_str(), 0, access, key.Put());
    return key;
}

// A key below HKEY_LOCAL_MACHINE and its subkeys; a missing key is fine.
void DeleteTree(const wstring& path)
{
    const size_t cut = path.rfind(L'\\');  // through the parent, opened in the key's view
    RegDeleteTreeW(Open(HKEY_LOCAL_MACHINE, path.substr(0, cut), KEY_ALL_ACCESS).Get(), &path[cut + 1]);
}

// The lines of a key below the store's roots, shown as `shown`, and of its subkeys.
void Dump(const wstring& path, const wstring& shown, Texts& out)
{
    for (const wstring& value : Names(HKEY_LOCAL_MACHINE, path, true)) {
        DWORD type = 0;
        const wstring data = GetStored(HKEY_LOCAL_MACHINE, path, value.c_str(), &type);
        out.push_back(shown + L":" + value + L"=" + data +
                      (type == REG_SZ ? L"" : L" (type " + std::to_wstring(type) + L")"));
    }
    for (const wstring& key : Names(HKEY_LOCAL_MACHINE, path, false)) {
        out.push_back(shown + L"\\" + key);
        Dump(path + L"\\" + key, shown + L"\\" + key, out);
    }
}

}  // namespace

bool KeyExists(HKEY root, const wstring& path) { return bool(Open(root, path, KEY_READ)); }
void CreateKey(HKEY root, const wstring& path) { Open(root, path, KEY_READ, true); }

void SetRaw(HKEY root, const wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    EXPECT_EQ(0, RegSetValueExW(Open(root, path, KEY_SET_VALUE, true).Get(), name, 0, type, (const BYTE*)data, size));
}

void SetString(HKEY root, const wstring& path, const wchar_t* name, const wstring& value)
{
    SetRaw(root, path, name, REG_SZ, value.c_str(), DWORD((value.size() + 1) * sizeof(wchar_t)));
}

wstring GetStored(HKEY root, const wstring& path, const wchar_t* name, DWORD* type)
{
    RegKey key = Open(root, path, KEY_READ);
    DWORD size = 0;
    if (!key || RegQueryValueExW(key.Get(), name, nullptr, type, nullptr, &size) != ERROR_SUCCESS)
        return L"<missing>";
    wstring text((size + 1) / sizeof(wchar_t), L'\0');
    RegQueryValueExW(key.Get(), name, nullptr, type, reinterpret_cast<BYTE*>(&text[0]), &size);
    return text.substr(0, size / sizeof(wchar_t));
}

Texts Names(HKEY root, const wstring& path, bool values)
{
    Texts names;
    RegKey key = Open(root, path, KEY_READ);
    wchar_t name[16384];
    for (DWORD i = 0, len = 16384; key; ++i, len = 16384) {
        if ((values ? RegEnumValueW(key.Get(), i, name, &len, nullptr, nullptr, nullptr, nullptr)
                    : RegEnumKeyExW(key.Get(), i, name, &len, nullptr, nullptr, nullptr, nullptr)) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, len);
    }
    return names;
}

const wstring kUsers = L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users", kShares = L"SOFTWARE\\Kalvora\\Ostrel\\2.0\\shares";

Texts Store()
{
    Texts lines;
    Dump(kUsers, L"Users", lines);
    Dump(kShares, L"shares", lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

void EmptyStore()
{
    for (const wstring& root : {kUsers, kShares}) {
        DeleteTree(root);
        CreateKey(HKEY_LOCAL_MACHINE, root);
    }
}

// ---- files, network, domain ---------------------------------------------------------

wstring TempFile(const wstring& name, const std::string& bytes)
{
    wchar_t dir[MAX_PATH];
    const wstring path = wstring(dir, GetTempPathW(MAX_PATH, dir)) + name;
    std::ofstream(Narrow(path), std::ios::binary) << bytes;
    return path;
}

void Folders(const wstring& computer, const Texts& paths)
{
    wchar_t prefix[MAX_PATH] = {};
    GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    for (const wstring& path : paths) {
        wstring dir = L"Z:" + wstring(prefix) + L"/dosdevices";
        for (const wstring& part : Split(L"unc/" + computer + L"/" + path, L'/'))
            CreateDirectoryW((dir += L"/" + part).c_str(), nullptr);
    }
}

void Reachable(const wstring& computer)
{
    SetString(HKEY_LOCAL_MACHINE, L"Software\\KalvoraTest\\Network\\Reachable", computer.c_str(), L"");
}

void Domain(const wchar_t* dnsName, const wchar_t* shortName, const std::string& fixture)
{
    const wstring info = L"Software\\KalvoraTest\\ADSystemInfo", directory = L"Software\\KalvoraTest\\Directory";
    DeleteTree(info);
    DeleteTree(directory);
    for (const auto& [name, value] : {std::pair(L"DomainDNSName", dnsName), std::pair(L"DomainShortName", shortName)})
        if (value)
            SetString(HKEY_LOCAL_MACHINE, info, name, value);
    const std::string path = KALVORA_TESTS_DIR "/" + fixture;
    if (!fixture.empty())
        SetString(HKEY_LOCAL_MACHINE, directory, L"Fixture", wstring(path.begin(), path.end()));
}

// ---- events and leaks ---------------------------------------------------------------

ModuleTest::ModuleTest()
{
    DeleteTree(L"SOFTWARE\\KalvoraTest");
    EmptyStore();
    TakeEvents();
}

// The event file is the one that tests/run_test.sh names; reading it empties it.
Texts ModuleTest::TakeEvents()
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_TRUE(GetEnvironmentVariableW(L"KALVORA_EVENT_LOG", path, MAX_PATH)) << "no event file";
    Texts events;
    for (const wstring& line : Lines(Narrow(path))) {
        const Texts f = Split(line, L'\t');  // type, id, source line, file, text
        const bool ours = f.size() == 5 && f[0] == L"1" && f[3].size() >= file_.size() &&
                          f[3].compare(f[3].size() - file_.size(), file_.size(), file_) == 0;
        events.push_back(ours ? f[1] + L" " + f[4] : L"<not an error event of " + file_ + L"> " + line);
    }
    DeleteFileW(path);
    return events;
}

size_t ProcessHandles()
{
    // SYSTEM_HANDLE_INFORMATION_EX (64): a count, a reserved word, then one entry per handle.
    struct Entry {
        PVOID object;
        ULONG_PTR process, handle;
        ULONG access;
        USHORT trace, type;
        ULONG attributes, reserved;
    };
    static const auto query = Export<NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG)>(GetModuleHandleW(L"ntdll"),
                                                                                    "NtQuerySystemInformation");
    // Outside the heaps: a checked heap would verify this much free space on every call.
    for (SIZE_T size = 1 << 19;; size *= 2) {
        auto* buffer = static_cast<ULONG_PTR*>(VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE));
        const bool fits = query(64, buffer, ULONG(size), nullptr) != NTSTATUS(0xC0000004);  // not LENGTH_MISMATCH
        const auto* entries = reinterpret_cast<const Entry*>(buffer + 2);
        const size_t n = fits ? std::count_if(entries, entries + buffer[0],
                                              [](const Entry& e) { return e.process == GetCurrentProcessId(); })
                              : 0;
        VirtualFree(buffer, 0, MEM_RELEASE);
        if (fits)
            return n;
    }
}

LeakCheck::~LeakCheck()
{
    const size_t now = ProcessHandles();
    EXPECT_TRUE(!m_handles || m_handles == now) << "handles leaked by the test: " << m_handles << ", now " << now;
    HMODULE module = GetModuleHandleW(L"KalvoraAdminUser.dll");
    if (!module)
        return;  // never loaded
    // The tests' build of the module counts its live objects and its locks.
    const auto counters = Export<HRESULT(STDAPICALLTYPE*)(LONG*, LONG*)>(module, "KalvoraTestCounters");
    LONG objects = -1, locks = -1;
    EXPECT_TRUE(counters && counters(&objects, &locks) == S_OK) << "not the tests' build of the module";
    EXPECT_EQ(std::pair(0L, 0L), std::pair(objects, locks)) << "objects and locks of the module alive after the test";
    EXPECT_EQ(S_OK, Export(module, "DllCanUnloadNow")());
}

}  // namespace kalvora::test
