// OSUtilities.cpp: the product's utility library. VReportEvent writes one
// event to the Windows event log and, when KALVORA_EVENT_LOG names a file,
// appends the same event there as one line of text, so that the events a
// process reported can be read back.
//
// Line format (UTF-8, fields separated by tabs, ended by a line feed):
//   type  id(8 hex digits)  line  file  text
// In file and text a backslash, tab, CR and LF are written as \\ \t \r \n;
// a null text is written as \0.
//
// DllRegisterServer registers the event source KalvoraAdminUser of the
// Application log with this DLL as its message file, so that the event
// viewer shows the events' wording (EventMessages.mc); DllUnregisterServer
// removes the source again when it names this DLL.
#include <windows.h>

#include <cstdio>
#include <string>

#define OSUTILITIES_API __declspec(dllexport)
#include "diag/ReportEvent.h"
#include "module/HResult.h"
#include "module/RegKey.h"
#include "module/StaticRuntime.h"

namespace {

const wchar_t kEventSource[] = L"KalvoraAdminUser";
const wchar_t kLogVariable[] = L"KALVORA_EVENT_LOG";
const wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\KalvoraAdminUser";
const wchar_t kMessageFileValue[] = L"EventMessageFile";
const DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

// The full path of this DLL.
HRESULT OwnPath(wchar_t* path, DWORD size)
{
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OwnPath), &self))
        return kalvora::LastErrorHResult();
    DWORD len = GetModuleFileNameW(self, path, size);
    if (len == 0)
        return kalvora::LastErrorHResult();
    if (len >= size)
        return kalvora::Win32ToHResult(ERROR_INSUFFICIENT_BUFFER);
    return S_OK;
}

// Whether the event source's message file, as registered, is this DLL.
bool NamesThisFile(HKEY source, const wchar_t* path)
{
    wchar_t stored[MAX_PATH];
    DWORD type = 0;
    DWORD bytes = sizeof stored - sizeof(wchar_t);
    if (RegQueryValueExW(source, kMessageFileValue, nullptr, &type, reinterpret_cast<BYTE*>(stored), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    stored[bytes / sizeof(wchar_t)] = L'\0';
    wchar_t expanded[MAX_PATH];
    DWORD len = ExpandEnvironmentStringsW(stored, expanded, MAX_PATH);
    if (len == 0 || len > MAX_PATH)
        return false;
    return CompareStringOrdinal(expanded, -1, path, -1, TRUE) == CSTR_EQUAL;
}

void AppendEscaped(std::wstring& out, const wchar_t* text)
{
    for (const wchar_t* p = text; *p; ++p) {
        switch (*p) {
        case L'\\': out += L"\\\\"; break;
        case L'\t': out += L"\\t"; break;
        case L'\r': out += L"\\r"; break;
        case L'\n': out += L"\\n"; break;
        default: out.push_back(*p); break;
        }
    }
}

void WriteToEventLog(VEventType type, unsigned long eventId, int line, const wchar_t* file,
                     const wchar_t* text)
{
    HANDLE source = RegisterEventSourceW(nullptr, kEventSource);
    if (!source)
        return;
    wchar_t where[64];
    swprintf(where, sizeof where / sizeof where[0], L"%d", line);
    const wchar_t* strings[3] = {file ? file : L"", where, text ? text : L""};
    ReportEventW(source, static_cast<WORD>(type), 0, eventId, nullptr, 3, 0, strings, nullptr);
    DeregisterEventSource(source);
}

void AppendToFile(VEventType type, unsigned long eventId, int line, const wchar_t* file,
                  const wchar_t* text)
{
    wchar_t path[MAX_PATH];
    DWORD len = GetEnvironmentVariableW(kLogVariable, path, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        return;

    wchar_t head[64];
    swprintf(head, sizeof head / sizeof head[0], L"%d\t%08lX\t%d\t", static_cast<int>(type), eventId,
             line);
    std::wstring record = head;
    AppendEscaped(record, file ? file : L"");
    record += L'\t';
    if (text)
        AppendEscaped(record, text);
    else
        record += L"\\0";
    record += L'\n';

    int bytes = WideCharToMultiByte(CP_UTF8, 0, record.c_str(), static_cast<int>(record.size()),
                                    nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, record.c_str(), static_cast<int>(record.size()), &utf8[0], bytes,
                        nullptr, nullptr);

    HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(h);
}

}  // namespace

extern "C" void __cdecl VReportEvent(VEventType type, unsigned long eventId, int line,
                                    const wchar_t* file, const wchar_t* text)
{
    // Reporting must never disturb the caller: keep its last error and
    // swallow any failure here.
    DWORD lastError = GetLastError();
    try {
        WriteToEventLog(type, eventId, line, file, text);
        AppendToFile(type, eventId, line, file, text);
    } catch (...) {
    }
    SetLastError(lastError);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH)
        kalvora::ReleaseStaticRuntimeAtUnload(reserved);
    return TRUE;
}

// Registers the event source with this DLL as its message file.
STDAPI DllRegisterServer()
{
    wchar_t path[MAX_PATH];
    HRESULT hr = OwnPath(path, MAX_PATH);
    if (FAILED(hr))
        return hr;
    kalvora::RegKey source;
    LONG err = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                               nullptr, source.Put(), nullptr);
    if (err == ERROR_SUCCESS)
        err = RegSetValueExW(source.Get(), kMessageFileValue, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path),
                             static_cast<DWORD>((lstrlenW(path) + 1) * sizeof(wchar_t)));
    if (err == ERROR_SUCCESS)
        err = RegSetValueExW(source.Get(), L"TypesSupported", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&kTypesSupported), sizeof kTypesSupported);
    return kalvora::Win32ToHResult(err);
}

// Removes the event source when its message file is this DLL; a source that
// names another file (another copy, another installation) stays.
STDAPI DllUnregisterServer()
{
    wchar_t path[MAX_PATH];
    HRESULT hr = OwnPath(path, MAX_PATH);
    if (FAILED(hr))
        return hr;
    {
        kalvora::RegKey source;
        LONG err = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_QUERY_VALUE, source.Put());
        if (err == ERROR_FILE_NOT_FOUND)
            return S_OK;
        if (err != ERROR_SUCCESS)
            return kalvora::Win32ToHResult(err);
        if (!NamesThisFile(source.Get(), path))
            return S_OK;
    }
    LONG err = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSourceKey);
    return err == ERROR_FILE_NOT_FOUND ? S_OK : kalvora::Win32ToHResult(err);
}
