// TestSupport.h: helpers shared by the GoogleTest suites: COM set-up, the
// event file written by OSUtilities.dll, and registry fixtures.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <optional>
#include <string>
#include <vector>

#include "KalvoraAdminUser_h.h"
#include "module/RegKey.h"

namespace kalvora::test {

using Microsoft::WRL::ComPtr;

// Path of a file in the build folder, in Windows form.
std::wstring BuildPath(const wchar_t* fileName);

// ---- events -------------------------------------------------------------------

struct EventRecord {
    int type = 0;
    unsigned long id = 0;
    int line = 0;
    std::wstring file;
    bool hasText = false;
    std::wstring text;
};

// Points OSUtilities' event file at a fresh temporary file for the lifetime
// of the object, and reads back what the module reported.
class EventCapture {
public:
    EventCapture();
    ~EventCapture();
    EventCapture(const EventCapture&) = delete;
    EventCapture& operator=(const EventCapture&) = delete;

    std::vector<EventRecord> Read() const;
    void Clear();
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
    std::optional<std::wstring> m_previous;
};

// Parses one line of the event file; false when it is malformed.
bool ParseEventLine(const std::string& utf8Line, EventRecord& out);

// ---- registry -----------------------------------------------------------------
// Keys under HKEY_LOCAL_MACHINE are reached in the module's store view (the
// 32-bit one); the other roots in the test's own view.
REGSAM View(HKEY root);


// Deletes a key with its whole subtree; a missing key is fine.
void DeleteTree(HKEY root, const std::wstring& path);
bool KeyExists(HKEY root, const std::wstring& path);
// Creates the key where missing and writes a REG_SZ value (with its terminator).
void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value);
// Writes raw bytes under any type.
void SetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
            DWORD size);
// Reads a value's raw bytes; nullopt when the value or key is missing.
std::optional<std::vector<BYTE>> GetRaw(HKEY root, const std::wstring& path, const wchar_t* name,
                                        DWORD* type = nullptr);
// A REG_SZ-style value as text (up to the first NUL or the end of the data).
std::optional<std::wstring> GetString(HKEY root, const std::wstring& path, const wchar_t* name);
// Gives a key (created where missing) the access list `sddl` (SDDL text) while
// the object lives, then full access to everyone again. Throws when the list
// cannot be set.
class KeyAccess {
public:
    KeyAccess(HKEY root, std::wstring path, const wchar_t* sddl);
    ~KeyAccess();
    KeyAccess(const KeyAccess&) = delete;
    KeyAccess& operator=(const KeyAccess&) = delete;

private:
    HKEY m_root;
    std::wstring m_path;
};

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path);
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path);

// ---- strings ------------------------------------------------------------------

// An owned BSTR for test code.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : m_str(text ? SysAllocString(text) : nullptr) {}
    Bstr(const wchar_t* text, UINT length) : m_str(SysAllocStringLen(text, length)) {}
    ~Bstr() { SysFreeString(m_str); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : m_str(o.m_str) { o.m_str = nullptr; }

    BSTR get() const { return m_str; }
    BSTR* put()
    {
        SysFreeString(m_str);
        m_str = nullptr;
        return &m_str;
    }
    bool isNull() const { return m_str == nullptr; }
    UINT length() const { return SysStringLen(m_str); }
    std::wstring str() const { return m_str ? std::wstring(m_str, SysStringLen(m_str)) : std::wstring(); }

private:
    BSTR m_str = nullptr;
};

// Text for assertion messages.
std::string Narrow(const std::wstring& text);

}  // namespace kalvora::test
