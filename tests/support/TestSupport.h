// TestSupport.h: helpers shared by the GoogleTest suites: late-bound calls,
// the event file written by OSUtilities.dll, registry fixtures, leak checks.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KalvoraAdminUser_h.h"
#include "module/BStr.h"
#include "module/RegKey.h"

namespace kalvora::test {

using Microsoft::WRL::ComPtr;
using std::wstring;
using Texts = std::vector<wstring>;

wstring InstallPath(const wchar_t* fileName);  // a file of the test install folder, in Windows form
inline BStr B(const wstring& text) { return BStr(SysAllocStringLen(text.data(), UINT(text.size()))); }
inline std::string Narrow(const wstring& text) { return std::string(text.begin(), text.end()); }  // ASCII text
wstring Str(BSTR text);                           // the whole text; "<null>" for a null BSTR
Texts Split(const wstring& text, wchar_t separator);  // every part, empty ones too
wstring Join(const Texts& parts, const wchar_t* separator);
// The lines of a table below tests/ ("load/scenarios.txt"), read as UTF-8;
// blank lines and lines that start with "#" are left out.
Texts ReadLines(const std::string& file);
template <class Fn = HRESULT(STDAPICALLTYPE*)()>
Fn Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
template <class T>
ComPtr<T> Create(REFCLSID clsid)
{
    ComPtr<T> object;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), &object);
    return object;
}

// Calls a member by name through IDispatch, as a script does:
// "Member|arg|..." calls a method or reads a property, "Property=value"
// writes one. An argument is text (<null>: a null string), #i4 (the number
// 7) or #nothing (no object); "&" in front passes a reference to it, as a
// script passes a variable; &#object is an object's out parameter. The
// outcome as text: the value ("" for none, "{Name}" for an object), or the
// failure ("!E_FAIL", "!E_INVALIDARG", "!0x80070103").
wstring Call(IUnknown* object, const wstring& call);
wstring Outcome(HRESULT hr);  // "" for S_OK, else as Call shows a failure
// Makes calls, one a line: "call => outcome" ("call" alone: it succeeds with
// no value), and checks each outcome.
void Expect(IUnknown* object, const wstring& steps);

// Registry fixtures. Keys under HKEY_LOCAL_MACHINE are reached in the
// module's store view (the 32-bit one), the other roots in the test's own.
bool KeyExists(HKEY root, const wstring& path);
void CreateKey(HKEY root, const wstring& path);
void SetRaw(HKEY root, const wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size);
void SetString(HKEY root, const wstring& path, const wchar_t* name, const wstring& value);
// A value as UTF-16 text of its whole stored length; "<missing>" when it does not exist.
wstring GetStored(HKEY root, const wstring& path, const wchar_t* name, DWORD* type = nullptr);
Texts Names(HKEY root, const wstring& path, bool values);  // of the subkeys, or of the values

// The module's store under HKEY_LOCAL_MACHINE: the users key and the share groups.
extern const wstring kUsers, kShares;
// The store below its two roots as sorted lines: each key ("Users\a"), and
// each value with its data of its whole stored length, and its type unless
// REG_SZ ("Users\a:x=1 (type 4)", "shares:loose=x").
Texts Store();
void EmptyStore();  // its two roots, empty

wstring TempFile(const wstring& name, const std::string& bytes);  // its path

// A computer on the network, as the test doubles see it: its folders below
// the prefix's dosdevices/unc (as \\computer\share\...), and whether it answers.
void Folders(const wstring& computer, const Texts& paths);
void Reachable(const wstring& computer);

// The domain as the test directory providers serve it: the system's DNS and
// short names (null: none), and the directory: a fixture file below tests/
// (format in tests/doubles/README.md; none: an empty directory).
void Domain(const wchar_t* dnsName, const wchar_t* shortName, const std::string& fixture = "");

// Held for the whole of a test: at its end the process holds no more
// handles than at its start (counted in the system's handle list: Wine's
// GetProcessHandleCount answers 0), and the module no objects or locks.
size_t ProcessHandles();
class LeakCheck {
public:
    LeakCheck() : m_handles(ProcessHandles()) {}
    ~LeakCheck();
    void IgnoreHandles() { m_handles = 0; }  // for a test in which the platform keeps handles of its own

private:
    size_t m_handles;
};

// Base of the suites that drive the module: an empty store and no settings
// of the test doubles, every event checked, nothing leaked at the end.
class ModuleTest : public testing::Test {
protected:
    ModuleTest();
    void TearDown() override { ExpectEvents({}); }
    // The events since the last check, each as "id text" (escapes kept), all
    // of type 1 and from a source file whose path ends in `file_`.
    void ExpectEvents(const Texts& events) { EXPECT_EQ(events, TakeEvents()); }
    Texts TakeEvents();

    LeakCheck leaks_;
    wstring file_;
};

}  // namespace kalvora::test
