// TestSupport.cpp: helpers shared by the GoogleTest suites.
#include "support/TestSupport.h"

#include "module/Variant.h"

#include <sddl.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace kalvora::test {

std::wstring InstallPath(const wchar_t* fileName) { return std::wstring(KALVORA_INSTALL_DIR_W) + L"\\" + fileName; }
std::wstring Str(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : L"<null>"; }

Texts Split(const std::wstring& text, const std::wstring& separator)
{
    Texts parts;
    for (size_t at = 0, next = 0; next != std::wstring::npos; at = next + separator.size())
        parts.push_back(text.substr(at, (next = text.find(separator, at)) - at));
    return parts;
}

std::wstring Join(const Texts& parts, const wchar_t* separator)
{
    std::wstring text;
    for (size_t i = 0; i < parts.size(); ++i)
        text += (i ? separator : L"") + parts[i];
    return text;
}

std::vector<std::pair<int, std::wstring>> ReadLines(const std::string& file)
{
    std::vector<std::pair<int, std::wstring>> lines;
    std::ifstream in(KALVORA_TESTS_DIR "/" + file);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        std::wstring text(line.size(), L'\0');
        text.resize(MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), &text[0], int(text.size())));
        if (text.empty() || text[0] != L'#')
            lines.emplace_back(n, std::move(text));
    }
    return lines;
}

// ---- late binding -------------------------------------------------------------------

namespace {

// An argument as a script makes it: text (<null>: a null string) or a typed
// value: #null, #empty, #i4 (7), #nothing (no object) or #obj (the called object).
void SetArg(VARIANT& v, const std::wstring& text, IDispatch* self)
{
    VariantInit(&v);
    if (text == L"#null") {
        v.vt = VT_NULL;
    } else if (text == L"#i4") {
        v.vt = VT_I4, v.lVal = 7;
    } else if (text == L"#nothing" || text == L"#obj") {
        v.vt = VT_DISPATCH;
        if ((v.pdispVal = text == L"#obj" ? self : nullptr))
            v.pdispVal->AddRef();
    } else if (text != L"#empty") {
        v.vt = VT_BSTR, v.bstrVal = text == L"<null>" ? nullptr : B(text).Detach();
    }
}

// A call as Call takes it: the member, whether it is a put
// (whose value is the one argument), and the arguments in their order, with
// the variables that references point at.
struct Parsed {
    Parsed(const std::wstring& call, IDispatch* self)
        : parts(Split(call, L'|')),
          put(parts[0].find(L'=') != std::wstring::npos),
          args(parts.size() - !put),
          refs(args.size())
    {
        const size_t eq = parts[0].find(L'=');
        if (put) {
            parts.push_back(parts[0].substr(eq + 1));
            parts[0].resize(eq);
        }
        for (size_t i = 1; i < parts.size(); ++i) {
            VARIANT &arg = args[i - 1], &ref = refs[i - 1];
            if (parts[i] == L"&#object") {  // an object's out parameter
                ref.vt = VT_DISPATCH, ref.pdispVal = nullptr;
                arg.vt = VT_BYREF | VT_DISPATCH, arg.ppdispVal = &ref.pdispVal;
            } else if (parts[i][0] != L'&') {
                SetArg(arg, parts[i], self);
            } else {
                SetArg(ref, parts[i].substr(1), self);
                arg.vt = VT_BYREF | VT_VARIANT, arg.pvarVal = &ref;
            }
        }
    }
    Texts parts;
    bool put;
    std::vector<Variant> args, refs;
};

// A result as Call shows it.
std::wstring Shown(HRESULT hr, const VARIANT& result)
{
    if (hr != S_OK)
        return Outcome(hr);
    switch (result.vt) {
        case VT_EMPTY:
            return L"";
        case VT_BSTR:
            return Str(result.bstrVal);
        case VT_I4:
            return std::to_wstring(result.lVal);
        case VT_DISPATCH:
            return result.pdispVal ? L"{" + Call(result.pdispVal, L"Name") + L"}" : L"{}";
        default:
            return L"<vt " + std::to_wstring(result.vt) + L">";
    }
}

}  // namespace

std::wstring Outcome(HRESULT hr)
{
    wchar_t hex[16];
    swprintf(hex, 16, L"!0x%08lX", static_cast<unsigned long>(hr));
    return hr == S_OK ? L"" : hr == E_FAIL ? L"!E_FAIL" : hr == E_INVALIDARG ? L"!E_INVALIDARG" : hex;
}

std::wstring Call(IUnknown* object, const std::wstring& call)
{
    ComPtr<IDispatch> disp;
    if (!object || FAILED(object->QueryInterface(IID_IDispatch, &disp)))
        return L"!no IDispatch";
    Parsed c(call, disp.Get());
    LPOLESTR name = &c.parts[0][0];
    DISPID id = 0, named = DISPID_PROPERTYPUT;
    std::vector<VARIANT> reversed(c.args.rbegin(), c.args.rend());  // as DISPPARAMS holds them; `c` owns them
    DISPPARAMS params{reversed.data(), c.put ? &named : nullptr, UINT(reversed.size()), c.put};
    Variant result;
    EXCEPINFO excep{};
    HRESULT hr = disp->GetIDsOfNames(IID_NULL, &name, 1, 0, &id);
    if (SUCCEEDED(hr))
        hr = disp->Invoke(id, IID_NULL, 0, c.put ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                          &params, &result, &excep, nullptr);
    for (BSTR text : {excep.bstrSource, excep.bstrDescription, excep.bstrHelpFile})
        SysFreeString(text);
    return Shown(hr == DISP_E_EXCEPTION ? excep.scode : hr, result);
}

void Expect(IUnknown* object, const std::wstring& steps)
{
    for (std::wstring step : Split(steps, L'\n')) {
        step.erase(0, step.find_first_not_of(L' '));
        const size_t at = step.find(L" =>");
        if (!step.empty())
            EXPECT_EQ(at == std::wstring::npos ? L"" : step.substr(std::min(at + 4, step.size())),
                      Call(object, step.substr(0, at)))
                << Narrow(step.substr(0, 80));
    }
}

// ---- events -------------------------------------------------------------------------

ModuleTest::ModuleTest()
{
    WipeStore();
    SetEnvironmentVariableW(L"KALVORA_EVENT_LOG", (m_path = TempFile(L"events.log", "")).c_str());
}

ModuleTest::~ModuleTest()
{
    SetEnvironmentVariableW(L"KALVORA_EVENT_LOG", nullptr);
    DeleteFileW(m_path.c_str());
}

std::wstring TempFile(const std::wstring& name, const std::string& bytes)
{
    wchar_t dir[MAX_PATH];
    const std::wstring path = std::wstring(dir, GetTempPathW(MAX_PATH, dir)) + name;
    std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path.c_str(), L"wb"), &fclose);
    if (!file || fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        throw std::runtime_error("cannot write a temporary file");
    return path;
}

Texts TakeLines(const std::wstring& path)
{
    std::string data;
    if (std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path.c_str(), L"rb"), &fclose);
        file)  // sharing read and write
        for (char block[4096]; size_t got = fread(block, 1, sizeof block, file.get());)
            data.append(block, got);
    DeleteFileW(path.c_str());
    std::wstring text(data.size(), L'\0');
    text.resize(MultiByteToWideChar(CP_UTF8, 0, data.data(), int(data.size()), &text[0], int(text.size())));
    Texts lines = Split(text, L'\n');
    lines.pop_back();  // after the last line feed
    return lines;
}

Texts ModuleTest::TakeEvents()
{
    Texts events;
    for (const std::wstring& line : TakeLines(m_path)) {
        const Texts f = Split(line, L'\t');  // type, id, source line, file, text
        const bool ours = f.size() == 5 && f[0] == L"1" && f[3].size() >= file_.size() &&
                          f[3].compare(f[3].size() - file_.size(), file_.size(), file_) == 0;
        events.push_back(ours ? f[1] + L" " + f[4] : L"<not an error event of " + file_ + L"> " + line);
    }
    return events;
}

void ModuleTest::ExpectEvents(const Texts& events) { EXPECT_EQ(events, TakeEvents()); }

// ---- registry -----------------------------------------------------------------------

namespace {

RegKey Open(HKEY root, const std::wstring& path, REGSAM access, bool create = false)
{
    RegKey key;
    access |= root == HKEY_LOCAL_MACHINE ? kStoreView : 0;
    if (!create)
        RegOpenKeyExW(root, path.c_str(), 0, access, key.Put());
    else if (LONG err = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, key.Put(), nullptr))
        throw std::runtime_error("RegCreateKeyEx: " + std::to_string(err));
    return key;
}

LONG SetKeyAccess(HKEY root, const std::wstring& path, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        return LONG(GetLastError());
    LONG err = RegSetKeySecurity(Open(root, path, WRITE_DAC, true).Get(), DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    return err;
}

}  // namespace

void DeleteTree(HKEY root, const std::wstring& path)
{
    const size_t cut = path.find_last_of(L'\\') + 1;  // through the parent, opened in the key's view
    RegKey parent = Open(root, path.substr(0, cut ? cut - 1 : 0), KEY_ALL_ACCESS);
    LONG err = parent ? RegDeleteTreeW(parent.Get(), path.c_str() + cut) : 0;
    if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND)
        throw std::runtime_error("RegDeleteTree: " + std::to_string(err));
}

bool KeyExists(HKEY root, const std::wstring& path) { return bool(Open(root, path, KEY_READ)); }
void CreateKey(HKEY root, const std::wstring& path) { Open(root, path, KEY_READ, true); }

void SetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    if (LONG err = RegSetValueExW(Open(root, path, KEY_SET_VALUE, true).Get(), name, 0, type, (const BYTE*)data, size))
        throw std::runtime_error("RegSetValueEx: " + std::to_string(err));
}

void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    SetRaw(root, path, name, REG_SZ, value.c_str(), DWORD((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring GetStored(HKEY root, const std::wstring& path, const wchar_t* name, DWORD* type)
{
    RegKey key = Open(root, path, KEY_READ);
    DWORD size = 0;
    if (!key || RegQueryValueExW(key.Get(), name, nullptr, type, nullptr, &size) != ERROR_SUCCESS)
        return L"<missing>";
    std::wstring text((size + 1) / sizeof(wchar_t), L'\0');
    RegQueryValueExW(key.Get(), name, nullptr, type, reinterpret_cast<BYTE*>(&text[0]), &size);
    return text.substr(0, size / sizeof(wchar_t));
}

Texts Names(HKEY root, const std::wstring& path, bool values)
{
    Texts names;
    RegKey key = Open(root, path, KEY_READ);
    std::wstring name(16384, L'\0');
    for (DWORD i = 0, len = 16384; key; ++i, len = 16384) {
        if ((values ? RegEnumValueW(key.Get(), i, &name[0], &len, nullptr, nullptr, nullptr, nullptr)
                    : RegEnumKeyExW(key.Get(), i, &name[0], &len, nullptr, nullptr, nullptr, nullptr)) != ERROR_SUCCESS)
            break;
        names.push_back(name.substr(0, len));
    }
    return names;
}

std::shared_ptr<void> Restrict(HKEY root, const std::wstring& path, const wchar_t* sddl)
{
    if (LONG err = SetKeyAccess(root, path, sddl))
        throw std::runtime_error("cannot set an access list: " + std::to_string(err));
    return std::shared_ptr<void>(nullptr, [=](void*) { SetKeyAccess(root, path, L"D:(A;;KA;;;WD)"); });
}

const std::wstring kUsers = L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users",
                   kShares = L"SOFTWARE\\Kalvora\\Ostrel\\2.0\\shares";

namespace {

void Dump(const std::wstring& path, const std::wstring& shown, Texts& out, bool root = false)
{
    if (!KeyExists(HKEY_LOCAL_MACHINE, path))
        return;
    if (!root)
        out.push_back(shown);
    for (const std::wstring& value : Names(HKEY_LOCAL_MACHINE, path, true)) {
        DWORD type = 0;
        const std::wstring data = GetStored(HKEY_LOCAL_MACHINE, path, value.c_str(), &type);
        out.push_back(shown + L":" + value + L"=" + data +
                      (type == REG_SZ ? L"" : L" (type " + std::to_wstring(type) + L")"));
    }
    for (const std::wstring& key : Names(HKEY_LOCAL_MACHINE, path, false))
        Dump(path + L"\\" + key, shown + L"\\" + key, out);
}

}  // namespace

Texts Store()
{
    Texts lines;
    Dump(kUsers, L"Users", lines, true);
    Dump(kShares, L"shares", lines, true);
    std::sort(lines.begin(), lines.end());
    return lines;
}

void EmptyStore()
{
    for (const std::wstring& root : {kUsers, kShares}) {
        DeleteTree(HKEY_LOCAL_MACHINE, root);
        CreateKey(HKEY_LOCAL_MACHINE, root);
    }
}

void WipeStore()
{
    DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KalvoraTest");
    EmptyStore();
}

void Folders(const std::wstring& computer, const Texts& paths)
{
    wchar_t prefix[MAX_PATH] = {};
    GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    for (const std::wstring& path : paths) {
        std::wstring dir = L"Z:" + std::wstring(prefix) + L"/dosdevices";
        for (const std::wstring& part : Split(L"unc/" + computer + L"/" + path, L'/'))
            CreateDirectoryW((dir += L"/" + part).c_str(), nullptr);
    }
}

void Reachable(const std::wstring& computer)
{
    SetString(HKEY_LOCAL_MACHINE, L"Software\\KalvoraTest\\Network\\Reachable", computer.c_str(), L"");
}

void Domain(const wchar_t* dnsName, const wchar_t* shortName, const std::string& fixture)
{
    const std::wstring info = L"Software\\KalvoraTest\\ADSystemInfo", directory = L"Software\\KalvoraTest\\Directory";
    DeleteTree(HKEY_LOCAL_MACHINE, info);
    DeleteTree(HKEY_LOCAL_MACHINE, directory);
    for (const auto& [name, value] : {std::pair(L"DomainDNSName", dnsName), std::pair(L"DomainShortName", shortName)})
        if (value)
            SetString(HKEY_LOCAL_MACHINE, info, name, value);
    const std::string file = KALVORA_TESTS_DIR "/" + fixture;
    if (!fixture.empty())
        SetString(HKEY_LOCAL_MACHINE, directory, L"Fixture", std::wstring(file.begin(), file.end()));
    SetString(HKEY_LOCAL_MACHINE, directory, L"Log", TempFile(L"directory.log", ""));
}

// ---- leaks --------------------------------------------------------------------------

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
    using Query = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtQuerySystemInformation")));
    // Outside the heaps: a checked heap would verify this much free space on every call.
    for (SIZE_T size = 1 << 19;; size *= 2) {
        std::unique_ptr<ULONG_PTR, void (*)(ULONG_PTR*)> buffer(
            static_cast<ULONG_PTR*>(VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE)),
            [](ULONG_PTR* p) { VirtualFree(p, 0, MEM_RELEASE); });
        if (query(64, buffer.get(), ULONG(size), nullptr) == NTSTATUS(0xC0000004))
            continue;  // STATUS_INFO_LENGTH_MISMATCH
        const auto* entries = reinterpret_cast<const Entry*>(buffer.get() + 2);
        return std::count_if(entries, entries + buffer.get()[0],
                             [](const Entry& e) { return e.process == GetCurrentProcessId(); });
    }
}

LeakCheck::LeakCheck() : m_handles(ProcessHandles()) {}

LeakCheck::~LeakCheck()
{
    const size_t now = ProcessHandles();
    EXPECT_TRUE(m_ignoreHandles || m_handles == now) << "handles leaked by the test: " << m_handles << ", now " << now;
    HMODULE module = GetModuleHandleW(L"KalvoraAdminUser.dll");
    if (!module)
        return;  // never loaded
    // The tests' build of the module counts its live objects and its locks.
    const auto counters = Export<HRESULT(STDAPICALLTYPE*)(LONG*, LONG*)>(module, "KalvoraTestCounters");
    const auto canUnload = Export(module, "DllCanUnloadNow");
    LONG objects = -1, locks = -1;
    EXPECT_TRUE(counters && counters(&objects, &locks) == S_OK) << "not the tests' build of the module";
    EXPECT_EQ(std::pair(0L, 0L), std::pair(objects, locks)) << "objects and locks of the module alive after the test";
    EXPECT_TRUE(canUnload && canUnload() == S_OK);
}

}  // namespace kalvora::test
