// bench_import: the cost of importing users from the console's file.
//
// In one process, taking turns:
//   - ImportFile over 10,000 records whose computers do not answer, against
//     10,000 direct AddUser calls with the same arguments on a collection of
//     its own: the difference is the import's own reading, cutting and
//     looping;
// then one import of 100,000 such records (the time must grow linearly), and
// one import of 1,000 records whose computer answers and holds a profile
// layout (the full folder probe per record).
//
//   bench_import [rounds]      (default 3)
//
// Needs the module and the test doubles installed in the prefix (the network
// provider and ADSystemInfo stand-ins of tests/doubles), as scripts/bench.sh
// does.
#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "KalvoraAdminUser_h.h"
#include "module/RegKey.h"

using Microsoft::WRL::ComPtr;

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::wstring TempFile(const wchar_t* name)
{
    wchar_t dir[MAX_PATH];
    return std::wstring(dir, GetTempPathW(MAX_PATH, dir)) + name;
}

// An import file of n records on the computer given, and the user names it holds.
bool WriteImport(const std::wstring& path, int n, const char* computer, std::vector<std::wstring>& users)
{
    std::string text = "Domain,Container,Type,Created,Changed,Account,Description,Computer,Mail\r\n";
    users.clear();
    for (int i = 0; i < n; ++i) {
        char line[160];
        snprintf(line, sizeof line, "CORP,Users,user,2026-01-01,2026-06-01,user%06d,Imported user %d,%s,user%06d@corp\r\n",
                 i, i, computer, i);
        text += line;
        users.push_back(L"user" + std::to_wstring(1000000 + i).substr(1));
    }
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    return ok && written == text.size();
}

ComPtr<IEnumKalvoraUser> NewCollection()
{
    ComPtr<IEnumKalvoraUser> users;
    CoCreateInstance(CLSID_EnumKalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumKalvoraUser, &users);
    return users;
}

double TimeImport(const std::wstring& path, LONG expected)
{
    ComPtr<IEnumKalvoraUser> users = NewCollection();
    BSTR file = SysAllocString(path.c_str());
    LONG check = 0;
    double start = Now();
    HRESULT hr = users->ImportFile(file, &check);
    double seconds = Now() - start;
    SysFreeString(file);
    if (hr != S_OK || check != expected)
        std::fprintf(stderr, "ImportFile: 0x%08lX, %ld records (expected %ld)\n", hr, check, expected);
    return seconds;
}

double TimeAddUser(const std::vector<std::wstring>& names, const wchar_t* computer)
{
    ComPtr<IEnumKalvoraUser> users = NewCollection();
    BSTR empty = SysAllocString(L""), machine = SysAllocString(computer);
    std::vector<BSTR> bstrs;
    for (const std::wstring& n : names)
        bstrs.push_back(SysAllocString(n.c_str()));
    double start = Now();
    for (BSTR name : bstrs)
        users->AddUser(name, empty, machine, 1);
    double seconds = Now() - start;
    for (BSTR b : bstrs)
        SysFreeString(b);
    SysFreeString(empty);
    SysFreeString(machine);
    return seconds;
}

void SetTestConfig(const wchar_t* key, const wchar_t* name, const wchar_t* value)
{
    HKEY k;
    std::wstring path = std::wstring(L"Software\\KalvoraTest\\") + key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | kalvora::kStoreView, nullptr,
                        &k, nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), DWORD((wcslen(value) + 1) * 2));
        RegCloseKey(k);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The events of the failing writes go nowhere but the event log.
    SetEnvironmentVariableW(L"KALVORA_EVENT_LOG", nullptr);
    const std::wstring file = TempFile(L"bench_import.csv");
    std::vector<std::wstring> names;

    // Unreachable computers: the network refuses them at once.
    WriteImport(file, 10000, "NOWHERE", names);
    TimeImport(file, 10000);  // warm-up
    std::vector<double> imports, adds, ratios;
    for (int r = 0; r < rounds; ++r) {
        double i = TimeImport(file, 10000), a = TimeAddUser(names, L"NOWHERE");
        imports.push_back(i);
        adds.push_back(a);
        ratios.push_back(i / a);
    }
    std::printf("10,000 records, unreachable computers (%d rounds, medians):\n", rounds);
    std::printf("  ImportFile        %8.3f s  (%.1f us per record)\n", Median(imports), Median(imports) * 1e2);
    std::printf("  AddUser x 10,000  %8.3f s  (%.1f us per call)\n", Median(adds), Median(adds) * 1e2);
    std::printf("  import / AddUser  %8.3f    (the import's own reading and cutting: goal <= 1.05)\n", Median(ratios));

    WriteImport(file, 100000, "NOWHERE", names);
    double big = TimeImport(file, 100000);
    std::printf("100,000 records: %.3f s, %.2f x the 10,000 import (goal <= 10.5)\n", big, big / Median(imports));

    // A computer that answers, with a profile layout: the full probe per record.
    wchar_t prefix[MAX_PATH] = {};
    GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    std::wstring dir = L"Z:" + std::wstring(prefix) + L"/dosdevices";
    for (const wchar_t* part : {L"unc", L"BENCHPC", L"C$", L"windows"})
        CreateDirectoryW((dir += L"/" + std::wstring(part)).c_str(), nullptr);
    CreateDirectoryW((L"Z:" + std::wstring(prefix) + L"/dosdevices/unc/BENCHPC/C$/Documents and Settings").c_str(),
                     nullptr);
    SetTestConfig(L"Network\\Reachable", L"BENCHPC", L"");
    SetTestConfig(L"ADSystemInfo", L"DomainShortName", L"CORP");
    WriteImport(file, 1000, "BENCHPC", names);
    double reachable = TimeImport(file, 1000);
    std::printf("1,000 records, a reachable computer: %.3f s, %.2f ms per record\n", reachable, reachable);
    DeleteFileW(file.c_str());
    CoUninitialize();
    return 0;
}
