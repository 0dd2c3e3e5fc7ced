// TestNet.cpp: kalvora_testnet.dll, a network provider that answers
// WNetGetResourceInformation for the computers a test declares reachable:
// the value names under HKLM\Software\KalvoraTest\Network\Reachable.
// When HKLM\Software\KalvoraTest\Network\Log names a file, each request
// appends the remote name asked for to it.
#include "Doubles.h"

// npapi.h declares the provider functions without C linkage.
extern "C" {
#include <npapi.h>
}
#include <olectl.h>
#include <winnetwk.h>
#include <wnnc.h>

using namespace kalvora::doubles;

namespace {

const wchar_t kProviderName[] = L"Kalvora Test Network";
const wchar_t kOrderKey[] = L"System\\CurrentControlSet\\Control\\NetworkProvider\\Order";

// The service key of the provider. mpr finds providers through one list for
// both bitnesses, so a 32-bit copy registered in a 64-bit prefix takes its
// own entry; each process then loads the copy of its bitness.
std::wstring ServiceName() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 ? L"KalvoraTestNet32" : L"KalvoraTestNet";
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsReachable(const std::wstring& computer) {
    Key reachable = OpenConfig(L"Network\\Reachable");
    return reachable && RegQueryValueExW(reachable.Get(), computer.c_str(), nullptr, nullptr, nullptr,
                                         nullptr) == ERROR_SUCCESS;
}

// Copies `text` with its terminator to `cursor` and advances it.
wchar_t* Place(wchar_t*& cursor, const std::wstring& text) {
    wchar_t* start = cursor;
    text.copy(cursor, text.size());
    cursor[text.size()] = L'\0';
    cursor += text.size() + 1;
    return start;
}

// Rewrites the comma list ProviderOrder with `name` added or removed.
LONG UpdateOrder(const std::wstring& name, bool add) {
    Key order = CreateKey(HKEY_LOCAL_MACHINE, kOrderKey, KEY_READ | KEY_SET_VALUE);
    if (!order) return ERROR_ACCESS_DENIED;
    std::wstring list, result;
    ReadText(order.Get(), L"ProviderOrder", list);
    bool present = false;
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find(L',', start);
        if (end == std::wstring::npos) end = list.size();
        std::wstring entry = list.substr(start, end - start);
        if (SameText(entry, name)) present = true;
        if (!entry.empty() && !(SameText(entry, name) && !add)) result += (result.empty() ? L"" : L",") + entry;
        start = end + 1;
    }
    if (add && !present) result += (result.empty() ? L"" : L",") + name;
    return WriteText(order.Get(), L"ProviderOrder", result);
}

}  // namespace

extern "C" {

DWORD WINAPI NPGetCaps(DWORD index) {
    switch (index) {
    case WNNC_SPEC_VERSION: return WNNC_SPEC_VERSION51;
    case WNNC_NET_TYPE: return WNNC_NET_RDR2SAMPLE;
    case WNNC_DRIVER_VERSION: return 1;
    // mpr asks for resource information only of providers that enumerate.
    case WNNC_ENUMERATION: return WNNC_ENUM_GLOBAL;
    case WNNC_DIALOG: return WNNC_DLG_GETRESOURCEINFORMATION;
    default: return 0;
    }
}

// A remote name \\computer[\share[\path]] (either separator) whose computer
// is reachable describes the computer, or the share with the rest of the
// path as the "system" part.
DWORD WINAPI NPGetResourceInformation(LPNETRESOURCEW resource, LPVOID buffer, LPDWORD bufferSize,
                                      LPWSTR* system) {
    if (!resource || !bufferSize) return WN_BAD_VALUE;
    // The caller may pass the remote name inside the output buffer.
    const std::wstring remote = Text(resource->lpRemoteName);
    AppendLog(L"Network", remote);

    size_t at = 0;
    while (at < remote.size() && IsSeparator(remote[at])) ++at;
    size_t end = at;
    while (end < remote.size() && !IsSeparator(remote[end])) ++end;
    const std::wstring computer = remote.substr(at, end - at);
    if (computer.empty() || !IsReachable(computer)) return WN_BAD_NETNAME;

    at = end < remote.size() ? end + 1 : end;
    end = at;
    while (end < remote.size() && !IsSeparator(remote[end])) ++end;
    const std::wstring share = remote.substr(at, end - at);
    std::wstring rest = remote.substr(end);
    for (wchar_t& c : rest)
        if (c == L'/') c = L'\\';
    const bool hasSystem = !share.empty() && !rest.empty();

    std::wstring name = L"\\\\" + computer + (share.empty() ? L"" : L"\\" + share);
    const size_t needed = sizeof(NETRESOURCEW) + (name.size() + 1 + wcslen(kProviderName) + 1 +
                                                  (hasSystem ? rest.size() + 1 : 0)) * sizeof(wchar_t);
    if (needed > MAXDWORD) return WN_BAD_VALUE;
    if (*bufferSize < needed) {
        *bufferSize = static_cast<DWORD>(needed);
        return WN_MORE_DATA;
    }
    if (!buffer) return WN_BAD_VALUE;

    NETRESOURCEW out = {};
    out.dwScope = RESOURCE_GLOBALNET;
    out.dwType = share.empty() ? RESOURCETYPE_ANY : RESOURCETYPE_DISK;
    out.dwDisplayType = share.empty() ? RESOURCEDISPLAYTYPE_SERVER : RESOURCEDISPLAYTYPE_SHARE;
    out.dwUsage = share.empty() ? RESOURCEUSAGE_CONTAINER : RESOURCEUSAGE_CONNECTABLE;
    wchar_t* cursor = reinterpret_cast<wchar_t*>(static_cast<BYTE*>(buffer) + sizeof(NETRESOURCEW));
    out.lpRemoteName = Place(cursor, name);
    out.lpProvider = Place(cursor, kProviderName);
    wchar_t* systemPart = hasSystem ? Place(cursor, rest) : nullptr;
    *static_cast<NETRESOURCEW*>(buffer) = out;
    if (system) *system = systemPart;
    return WN_SUCCESS;
}

DWORD WINAPI NPOpenEnum(DWORD, DWORD, DWORD, LPNETRESOURCEW, LPHANDLE) { return WN_NOT_SUPPORTED; }
DWORD WINAPI NPEnumResource(HANDLE, LPDWORD, LPVOID, LPDWORD) { return WN_NOT_SUPPORTED; }
DWORD WINAPI NPCloseEnum(HANDLE) { return WN_NOT_SUPPORTED; }

// Registers the provider: its service key with Name and ProviderPath, and its
// place at the end of ProviderOrder.
HRESULT WINAPI DllRegisterServer() {
    const std::wstring path = ModulePath(reinterpret_cast<const void*>(&NPGetCaps));
    Key provider = CreateKey(HKEY_LOCAL_MACHINE,
                             L"System\\CurrentControlSet\\Services\\" + ServiceName() + L"\\NetworkProvider",
                             KEY_SET_VALUE);
    if (path.empty() || !provider) return SELFREG_E_CLASS;
    LONG rc = WriteText(provider.Get(), L"Name", kProviderName);
    if (rc == ERROR_SUCCESS) rc = WriteText(provider.Get(), L"ProviderPath", path);
    if (rc == ERROR_SUCCESS) rc = UpdateOrder(ServiceName(), true);
    return HRESULT_FROM_WIN32(rc);
}

HRESULT WINAPI DllUnregisterServer() {
    LONG rc = UpdateOrder(ServiceName(), false);
    LONG deleted = RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                                  (L"System\\CurrentControlSet\\Services\\" + ServiceName()).c_str());
    if (rc == ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) rc = deleted;
    return HRESULT_FROM_WIN32(rc);
}

}  // extern "C"
