// TestSupport.cpp: helpers shared by the GoogleTest suites.
#include "support/TestSupport.h"

#include <sddl.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "module/RegKey.h"

namespace kalvora::test {

std::wstring BuildPath(const wchar_t* fileName)
{
    std::wstring path = KALVORA_BUILD_DIR_W;
    path += L"\\";
    path += fileName;
    return path;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                        nullptr);
    return out;
}

namespace {

const wchar_t kLogVariable[] = L"KALVORA_EVENT_LOG";

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

bool Unescape(const std::wstring& in, std::wstring& out)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != L'\\') {
            out.push_back(in[i]);
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in[i]) {
        case L'\\': out.push_back(L'\\'); break;
        case L't': out.push_back(L'\t'); break;
        case L'r': out.push_back(L'\r'); break;
        case L'n': out.push_back(L'\n'); break;
        default: return false;
        }
    }
    return true;
}

}  // namespace

bool ParseEventLine(const std::string& utf8Line, EventRecord& out)
{
    std::wstring line = Widen(utf8Line);
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find(L'\t', start);
        fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos)
            break;
        start = tab + 1;
    }
    if (fields.size() != 5)
        return false;
    try {
        out.type = std::stoi(fields[0]);
        out.id = std::stoul(fields[1], nullptr, 16);
        out.line = std::stoi(fields[2]);
    } catch (const std::exception&) {
        return false;
    }
    if (!Unescape(fields[3], out.file))
        return false;
    if (fields[4] == L"\\0") {
        out.hasText = false;
        out.text.clear();
        return true;
    }
    out.hasText = true;
    return Unescape(fields[4], out.text);
}

EventCapture::EventCapture()
{
    wchar_t buf[MAX_PATH];
    DWORD len = GetEnvironmentVariableW(kLogVariable, buf, MAX_PATH);
    if (len > 0 && len < MAX_PATH)
        m_previous = std::wstring(buf, len);
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    if (!GetTempFileNameW(dir, L"kev", 0, file))
        throw std::runtime_error("GetTempFileName failed");
    m_path = file;
    DeleteFileW(m_path.c_str());
    SetEnvironmentVariableW(kLogVariable, m_path.c_str());
}

EventCapture::~EventCapture()
{
    SetEnvironmentVariableW(kLogVariable, m_previous ? m_previous->c_str() : nullptr);
    DeleteFileW(m_path.c_str());
}

void EventCapture::Clear() { DeleteFileW(m_path.c_str()); }

std::vector<EventRecord> EventCapture::Read() const
{
    std::vector<EventRecord> events;
    HANDLE h = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return events;
    std::string data;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        data.append(buf, got);
    CloseHandle(h);
    std::istringstream in(data);
    std::string line;
    while (std::getline(in, line)) {
        EventRecord rec;
        if (!ParseEventLine(line, rec))
            throw std::runtime_error("malformed event line: " + line);
        events.push_back(std::move(rec));
    }
    return events;
}

REGSAM View(HKEY root) { return root == HKEY_LOCAL_MACHINE ? kStoreView : 0; }

void DeleteTree(HKEY root, const std::wstring& path)
{
    // Through the parent, opened in the view of the key.
    const size_t cut = path.find_last_of(L'\\');
    RegKey parent;
    LONG err = cut == std::wstring::npos
                   ? RegOpenKeyExW(root, nullptr, 0, KEY_ALL_ACCESS | View(root), parent.Put())
                   : RegOpenKeyExW(root, path.substr(0, cut).c_str(), 0, KEY_ALL_ACCESS | View(root), parent.Put());
    if (err == ERROR_SUCCESS)
        err = RegDeleteTreeW(parent.Get(), path.c_str() + (cut == std::wstring::npos ? 0 : cut + 1));
    if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND)
        throw std::runtime_error("RegDeleteTree failed: " + std::to_string(err));
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    RegKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | View(root), key.Put()) == ERROR_SUCCESS;
}

void SetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
            DWORD size)
{
    RegKey key;
    LONG err = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | View(root), nullptr, key.Put(),
                               nullptr);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("RegCreateKeyEx failed: " + std::to_string(err));
    err = RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("RegSetValueEx failed: " + std::to_string(err));
}

void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    SetRaw(root, path, name, REG_SZ, value.c_str(),
           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::optional<std::vector<BYTE>> GetRaw(HKEY root, const std::wstring& path, const wchar_t* name,
                                        DWORD* type)
{
    RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | View(root), key.Put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD size = 0, t = 0;
    LONG err = RegQueryValueExW(key.Get(), name, nullptr, &t, nullptr, &size);
    std::vector<BYTE> data(size);
    if (err == ERROR_SUCCESS && size)
        err = RegQueryValueExW(key.Get(), name, nullptr, &t, data.data(), &size);
    if (err != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size);
    if (type)
        *type = t;
    return data;
}

std::optional<std::wstring> GetString(HKEY root, const std::wstring& path, const wchar_t* name)
{
    auto raw = GetRaw(root, path, name);
    if (!raw)
        return std::nullopt;
    std::wstring text(reinterpret_cast<const wchar_t*>(raw->data()), raw->size() / sizeof(wchar_t));
    size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos)
        text.resize(nul);
    return text;
}

namespace {

LONG SetKeyAccess(HKEY root, const std::wstring& path, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        return static_cast<LONG>(GetLastError());
    RegKey key;
    LONG err = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, WRITE_DAC | View(root), nullptr, key.Put(), nullptr);
    if (err == ERROR_SUCCESS)
        err = RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    return err;
}

}  // namespace

KeyAccess::KeyAccess(HKEY root, std::wstring path, const wchar_t* sddl) : m_root(root), m_path(std::move(path))
{
    LONG err = SetKeyAccess(m_root, m_path, sddl);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("cannot set the access list of " + Narrow(m_path) + ": " + std::to_string(err));
}

KeyAccess::~KeyAccess() { SetKeyAccess(m_root, m_path, L"D:(A;;KA;;;WD)"); }

namespace {

// Names enumerated by index below root\path until the first failure.
template <class EnumAt>
std::vector<std::wstring> EnumNames(HKEY root, const std::wstring& path, DWORD bufferChars, EnumAt enumAt)
{
    std::vector<std::wstring> names;
    RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | View(root), key.Put()) != ERROR_SUCCESS)
        return names;
    std::vector<wchar_t> name(bufferChars);
    for (DWORD i = 0;; ++i) {
        DWORD len = bufferChars;
        if (enumAt(key.Get(), i, name.data(), &len) != ERROR_SUCCESS)
            break;
        names.emplace_back(name.data(), len);
    }
    return names;
}

}  // namespace

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path)
{
    return EnumNames(root, path, 512, [](HKEY key, DWORD i, wchar_t* name, DWORD* len) {
        return RegEnumKeyExW(key, i, name, len, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path)
{
    return EnumNames(root, path, 16384, [](HKEY key, DWORD i, wchar_t* name, DWORD* len) {
        return RegEnumValueW(key, i, name, len, nullptr, nullptr, nullptr, nullptr);
    });
}

}  // namespace kalvora::test
