// TestSupport.h: helpers shared by the GoogleTest suites: late-bound calls,
// the event file written by OSUtilities.dll, registry fixtures, leak checks.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KalvoraAdminUser_h.h"
#include "module/BStr.h"
#include "module/RegKey.h"

namespace kalvora::test {

using Microsoft::WRL::ComPtr;
using Texts = std::vector<std::wstring>;

std::wstring InstallPath(const wchar_t* fileName);  // a file of the test install folder (the module COM loads), in Windows form
inline BStr B(const wchar_t* text) { return BStr(text ? SysAllocString(text) : nullptr); }  // null: a null BSTR
inline BStr B(const std::wstring& text) { return BStr(SysAllocStringLen(text.data(), UINT(text.size()))); }
inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }  // ASCII text
std::wstring Str(BSTR text);  // the whole text; "<null>" for a null BSTR
Texts Split(const std::wstring& text, const std::wstring& separator);  // every part, empty ones too
inline Texts Split(const std::wstring& text, wchar_t separator) { return Split(text, std::wstring(1, separator)); }
// The rows of a table below tests/ ("badinput/cases.txt"), read as UTF-8: each
// line's columns, separated by runs of tabs, with its line number. Empty
// lines and lines that start with "#" are left out.
std::vector<std::pair<int, Texts>> ReadTable(const std::string& file);
std::wstring Join(const Texts& parts, const wchar_t* separator);
// An entry point of a loaded module as a function of type Fn (default: an
// HRESULT without arguments); null if the module has none of that name.
template <class Fn = HRESULT(STDAPICALLTYPE*)()>
Fn Export(HMODULE module, const char* name) { return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))); }
template <class T>
ComPtr<T> Create(REFCLSID clsid)
{
    ComPtr<T> object;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), &object);
    return object;
}

// Calls a member by name through IDispatch, as a script does: "Member|arg|..."
// calls a method or reads a property, "Property=value" writes one. An
// argument is text (<null>: a null string) or a typed value as a script
// makes it: #null, #empty, #true, #i4 (7), #r8 (1.5), #arr (a and b),
// #nothing (no object), #obj (the called object); "&" in front passes a
// reference to it, as a script passes a variable; &#object is an object's out
// parameter, released after the call, and &#keep one that #last passes
// again and "#last:call" calls, until ForgetLast (at a ModuleTest's end).
// The outcome as text: the value ("" for none, "<null>" for a null string,
// "{Name}" for an object), or the failure ("!E_FAIL", "!0x80070103").
std::wstring Call(IUnknown* object, const std::wstring& call);
void ForgetLast();
// Calls a member through the object's function table, as a C++ client does:
// the interface's type information gives the slot and the parameters. The
// arguments are those of Call, each converted to its parameter's type;
// #nullptr passes a null pointer. The outcome is the out parameter's value as
// Call shows it, or the HRESULT when it is not S_OK (a success code too),
// with " (out changed)" when the call wrote the out parameter all the same.
std::wstring CallTable(IUnknown* object, const std::wstring& call);
// An HRESULT as Call shows it: "" for S_OK, else "!E_FAIL", "!E_INVALIDARG" or "!0x8007000E".
std::wstring Outcome(HRESULT hr);

// Registry fixtures. Keys under HKEY_LOCAL_MACHINE are reached in the
// module's store view (the 32-bit one), the other roots in the test's own.
void DeleteTree(HKEY root, const std::wstring& path);  // a missing key is fine
bool KeyExists(HKEY root, const std::wstring& path);
void CreateKey(HKEY root, const std::wstring& path);
void SetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size);
void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value);
// A value as UTF-16 text of its whole stored length (a terminator shows);
// "<missing>" when it does not exist.
std::wstring GetStored(HKEY root, const std::wstring& path, const wchar_t* name, DWORD* type = nullptr);
Texts Names(HKEY root, const std::wstring& path, bool values);  // of the subkeys, or of the values

// The module's store under HKEY_LOCAL_MACHINE: the users key and the share groups.
extern const std::wstring kUsers, kShares;
// The store as sorted lines: each key ("Users\a"), and each value with its
// data of its whole stored length, and its type unless REG_SZ ("Users\a:x=1 (type 4)").
Texts Store();
// Empties the two roots of the store; WipeStore also removes the settings of the test doubles.
void EmptyStore();
void WipeStore();

// A file of the temporary folder holding `bytes`; its path.
std::wstring TempFile(const std::wstring& name, const std::string& bytes);
// The UTF-8 lines of a file (each ended by a line feed); the file is deleted.
Texts TakeLines(const std::wstring& path);

// A computer on the network, as the test doubles see it: its folders below
// the prefix's dosdevices/unc (as \\computer\share\...), and whether it answers.
void Folders(const std::wstring& computer, const Texts& paths);
void Reachable(const std::wstring& computer);

// The domain as the test directory providers serve it: the system's DNS and
// short names (null: none), and the directory: a fixture file below tests/
// (format in tests/doubles/README.md; none: an empty directory). The
// providers log binds and filters to directory.log in the temporary folder.
void Domain(const wchar_t* dnsName, const wchar_t* shortName, const std::string& fixture = "");

// Gives a key (created where missing) the access list `sddl` until the
// result goes, then full access to everyone again.
std::shared_ptr<void> Restrict(HKEY root, const std::wstring& path, const wchar_t* sddl);

// Held for the whole of a test: at its end the process holds no more
// handles than at its start (counted in the system's handle list: Wine's
// GetProcessHandleCount answers 0), and the module no objects or locks
// (DllCanUnloadNow answers S_OK).
size_t ProcessHandles();  // the handles of this process, from the system's handle list
class LeakCheck {
public:
    LeakCheck();
    ~LeakCheck();
    // For a test in which the platform keeps handles of its own (Wine does
    // for a failed activation, and 64-bit Wine in type-library registration).
    void IgnoreHandles() { m_ignoreHandles = true; }

private:
    size_t m_handles;
    bool m_ignoreHandles = false;
};

// Base of the suites that drive the module: OSUtilities' event file points
// at a fresh file, every event is checked, and nothing is leaked at the end.
class ModuleTest : public testing::Test {
protected:
    ModuleTest();
    ~ModuleTest() override;
    void TearDown() override { ExpectEvents({}); }
    // The events since the last check, each as "id text" (escapes kept, \0
    // for no text), all of type 1 and from the source file `file_`. The
    // source line is no contract and is not compared.
    void ExpectEvents(Texts events);
    // The events since the last check, each as "id text" (whole: "type id file text").
    Texts TakeEvents(bool whole = false);

    LeakCheck leaks_;
    std::wstring file_;

private:
    std::wstring m_path;
};

}  // namespace kalvora::test
