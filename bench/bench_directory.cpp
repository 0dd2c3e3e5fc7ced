// bench_directory: the cost of listing the domain's users.
//
// In one process, taking turns on the same test directory:
//   - GetDomainUserCount and then GetDomainUserName for every index, as the
//     console lists a container;
//   - a bare loop of the same ADSI calls (ADSystemInfo, ADsGetObject,
//     put_Filter, ADsBuildEnumerator, Next, IADs::Get) that hands out each
//     name as a new BSTR, the work the module cannot avoid.
// At 1,000 and 10,000 users: the time per user of each, their ratio, and how
// the time per user grows between the two sizes.
//
//   bench_directory [rounds]      (default 5)
//
// Needs the module and the test doubles installed in the prefix (the
// ADSystemInfo, LDAP provider and activeds stand-ins of tests/doubles), as
// scripts/bench.sh does. The directory fixture is read on every bind, by both.
#include <windows.h>
#include <activeds.h>
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

const wchar_t kContainer[] = L"LDAP://bench/CN=Users,DC=bench,DC=example";

// The activeds.dll that the module loaded (the test one, beside it): the
// baseline must call the same entry points.
decltype(&ADsGetObject) getObject;
decltype(&ADsBuildEnumerator) buildEnumerator;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void SetTestConfig(const wchar_t* key, const wchar_t* name, const std::wstring& value)
{
    HKEY k;
    const std::wstring path = std::wstring(L"Software\\KalvoraTest\\") + key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | kalvora::kStoreView, nullptr, &k,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD((value.size() + 1) * 2));
        RegCloseKey(k);
    }
}

// A directory of n users (every tenth one a group, which neither lists).
bool WriteDirectory(const std::wstring& path, int n)
{
    std::string text = "container\tLDAP://bench/CN=Users,DC=bench,DC=example\n";
    for (int i = 0; i < n; ++i) {
        char line[200];
        std::snprintf(line, sizeof line, "object\tLDAP://bench/CN=Users,DC=bench,DC=example\tuser\tCN=User %d\tsAMAccountName=s:user%06d%s\n",
                      i, i, i % 10 == 9 ? "\tgroupType=i:-2147483646" : "");
        text += line;
    }
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    return ok && written == text.size();
}

double TimeModule(IEnumKalvoraUser* users, LONG expected)
{
    BSTR unit = SysAllocString(L"");
    LONG count = 0;
    const double start = Now();
    users->GetDomainUserCount(unit, &count);
    for (LONG i = 0; i < count; ++i) {
        BSTR name = nullptr;
        users->GetDomainUserName(i, &name);
        SysFreeString(name);
    }
    const double seconds = Now() - start;
    SysFreeString(unit);
    if (count != expected)
        std::fprintf(stderr, "module listed %ld users, expected %ld\n", count, expected);
    return seconds;
}

double TimeBare(LONG expected)
{
    const double start = Now();
    LONG count = 0;
    ComPtr<IADsADSystemInfo> info;
    BSTR dns = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ADSystemInfo, nullptr, CLSCTX_INPROC_SERVER, IID_IADsADSystemInfo, &info)))
        info->get_DomainDNSName(&dns);
    SysFreeString(dns);
    ComPtr<IADsContainer> container;
    IEnumVARIANT* elements = nullptr;
    VARIANT filter;
    filter.vt = VT_BSTR;
    filter.bstrVal = SysAllocString(L"user");
    BSTR groupType = SysAllocString(L"groupType"), account = SysAllocString(L"sAMAccountName");
    if (SUCCEEDED(getObject(kContainer, IID_IADsContainer, &container)) && SUCCEEDED(container->put_Filter(filter)) &&
        SUCCEEDED(buildEnumerator(container.Get(), &elements))) {
        std::vector<std::wstring> names;
        VARIANT element;
        ULONG fetched = 0;
        while (elements->Next(1, &element, &fetched) == S_OK) {
            ComPtr<IADs> object;
            VARIANT value;
            if (element.vt == VT_DISPATCH && SUCCEEDED(element.pdispVal->QueryInterface(IID_IADs, &object))) {
                if (FAILED(object->Get(groupType, &value)) || value.vt != VT_I4) {
                    VariantClear(&value);
                    if (SUCCEEDED(object->Get(account, &value)) && value.vt == VT_BSTR)
                        names.emplace_back(value.bstrVal, SysStringLen(value.bstrVal));
                }
                VariantClear(&value);
            }
            VariantClear(&element);
        }
        elements->Release();
        for (const std::wstring& n : names)
            SysFreeString(SysAllocStringLen(n.data(), UINT(n.size())));
        count = LONG(names.size());
    }
    SysFreeString(groupType);
    SysFreeString(account);
    VariantClear(&filter);
    const double seconds = Now() - start;
    if (count != expected)
        std::fprintf(stderr, "bare loop listed %ld users, expected %ld\n", count, expected);
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ComPtr<IEnumKalvoraUser> users;
    HRESULT hr = CoCreateInstance(CLSID_EnumKalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumKalvoraUser, &users);
    HMODULE ads = GetModuleHandleW(L"activeds.dll");
    if (FAILED(hr) || !ads) {
        std::fprintf(stderr, "the module or its activeds.dll is not loaded (0x%08lX)\n", hr);
        return 1;
    }
    getObject = reinterpret_cast<decltype(getObject)>(reinterpret_cast<void*>(GetProcAddress(ads, "ADsGetObject")));
    buildEnumerator = reinterpret_cast<decltype(buildEnumerator)>(reinterpret_cast<void*>(GetProcAddress(ads, "ADsBuildEnumerator")));
    wchar_t dir[MAX_PATH];
    const std::wstring file = std::wstring(dir, GetTempPathW(MAX_PATH, dir)) + L"bench_directory.txt";
    SetTestConfig(L"ADSystemInfo", L"DomainDNSName", L"bench.example");
    SetTestConfig(L"Directory", L"Fixture", file);

    double perUser[2] = {};
    const int sizes[2] = {1000, 10000};
    for (int s = 0; s < 2; ++s) {
        const LONG expected = sizes[s] - sizes[s] / 10;
        WriteDirectory(file, sizes[s]);
        TimeModule(users.Get(), expected);  // warm-up
        TimeBare(expected);
        std::vector<double> module, bare, ratios;
        for (int r = 0; r < rounds; ++r) {
            const double m = TimeModule(users.Get(), expected), b = TimeBare(expected);
            module.push_back(m);
            bare.push_back(b);
            ratios.push_back(m / b);
        }
        perUser[s] = Median(module) / sizes[s];
        std::printf("%d directory entries, %ld users listed (%d rounds, medians):\n", sizes[s], expected, rounds);
        std::printf("  module: count + names  %8.3f s  (%.1f us per entry)\n", Median(module), Median(module) / sizes[s] * 1e6);
        std::printf("  bare ADSI loop         %8.3f s  (%.1f us per entry)\n", Median(bare), Median(bare) / sizes[s] * 1e6);
        std::printf("  module / bare          %8.3f    (goal <= 1.10)\n", Median(ratios));
    }
    std::printf("time per entry, 10,000 / 1,000: %.2f (1.00 is linear growth)\n", perUser[1] / perUser[0]);
    DeleteFileW(file.c_str());
    users.Reset();
    CoUninitialize();
    return 0;
}
