// Doubles.cpp: registry, text and log helpers of the test doubles.
#include "Doubles.h"

#include <vector>

namespace kalvora::doubles {

Key OpenKey(HKEY root, const std::wstring& path, REGSAM access) {
    Key key;
    if (RegOpenKeyExW(root, path.c_str(), 0, access, key.Put()) != ERROR_SUCCESS) key.Reset();
    return key;
}

Key CreateKey(HKEY root, const std::wstring& path, REGSAM access) {
    Key key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, key.Put(), nullptr) !=
        ERROR_SUCCESS)
        key.Reset();
    return key;
}

bool ReadText(HKEY key, const wchar_t* name, std::wstring& out) {
    if (!key) return false;
    std::vector<BYTE> data(256);
    for (;;) {
        DWORD type = 0, size = static_cast<DWORD>(data.size());
        LONG rc = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA) {
            data.resize(size + sizeof(wchar_t));
            continue;
        }
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
        const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
        size_t length = 0, limit = size / sizeof(wchar_t);
        while (length < limit && text[length]) ++length;
        out.assign(text, length);
        return true;
    }
}

bool ReadDword(HKEY key, const wchar_t* name, DWORD& out) {
    DWORD type = 0, size = sizeof(out), value = 0;
    if (!key || RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                    ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return false;
    out = value;
    return true;
}

LONG WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

Key OpenConfig(const wchar_t* sub) {
    return OpenKey(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\KalvoraTest\\") + sub,
                   KEY_READ | KEY_WOW64_32KEY);
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                            nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const char* text, size_t length) {
    if (length == 0) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size);
    return out;
}

void AppendLog(const wchar_t* sub, const std::wstring& line) {
    std::wstring path;
    if (!ReadText(OpenConfig(sub).Get(), L"Log", path) || path.empty()) return;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    // One write per line, so that lines of concurrent callers stay whole.
    std::string bytes = ToUtf8(line) + "\n";
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

std::wstring ModulePath(const void* anyAddress) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(anyAddress), &module))
        return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace kalvora::doubles
