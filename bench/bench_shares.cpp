// bench_shares: cost of listing a large share group.
//
// Fills one group of the share store with 10,000 shares, then, in the same
// process and alternating, times
//   - GetShareCount over the group against a bare RegEnumValueW loop over the
//     same key (opened and closed the same way, same buffers);
//   - GetShareName over the whole list against the copy into a new BSTR that
//     any such call must make.
// Prints medians and their ratios. The group is removed afterwards.
//
// Needs KalvoraAdminUser.dll registered in the prefix, for example after
// scripts/test.sh:
//   WINEPREFIX=$BUILD_DIR/test-prefix wine $BUILD_DIR/bench/bench_shares.exe [rounds]
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

const wchar_t kGroup[] = L"bench_shares";
const wchar_t kGroupKey[] = L"Software\\Kalvora\\Ostrel\\2.0\\shares\\bench_shares";
constexpr int kShares = 10000;

// Deletes the group in the store's registry view, as the module reads it.
void DeleteGroup()
{
    HKEY shares;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Kalvora\\Ostrel\\2.0\\shares", 0,
                      KEY_ALL_ACCESS | kalvora::kStoreView, &shares) == ERROR_SUCCESS) {
        RegDeleteTreeW(shares, kGroup);
        RegCloseKey(shares);
    }
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool FillGroup()
{
    DeleteGroup();
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGroupKey, 0, nullptr, 0, KEY_ALL_ACCESS | kalvora::kStoreView, nullptr, &key, nullptr))
        return false;
    bool ok = true;
    for (int i = 0; i < kShares && ok; ++i) {
        wchar_t name[32];
        wchar_t data[64];
        swprintf(name, 32, L"share%05d", i);
        // Web shares (some behind the "on" prefix) and UNC paths, stored
        // without a terminator as the module writes them.
        int len = (i % 3 == 0) ? swprintf(data, 64, L"onhttp://web%05d/,&agent=IE&AppType=Web#", i)
                               : swprintf(data, 64, L"\\\\server%02d\\share%05d#", i % 50, i);
        ok = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                            static_cast<DWORD>((len - 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

// The platform work alone: open the key, enumerate every value with the
// module's buffer sizes, close.
long BareEnumeration()
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGroupKey, 0, const_cast<LPWSTR>(L""), REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS | kalvora::kStoreView, nullptr, &key, nullptr))
        return -1;
    wchar_t name[520];
    BYTE data[520];
    long count = 0;
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = 520, dataLen = 520;
        if (RegEnumValueW(key, i, name, &nameLen, nullptr, nullptr, data, &dataLen) != ERROR_SUCCESS)
            break;
        ++count;
    }
    RegCloseKey(key);
    return count;
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
    if (rounds < 1)
        rounds = 1;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "CoInitializeEx failed\n");
        return 1;
    }
    int rc = 0;
    {
        ComPtr<IKalvoraShares> shares;
        HRESULT hr = CoCreateInstance(CLSID_KalvoraShares, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraShares,
                                      reinterpret_cast<void**>(shares.GetAddressOf()));
        if (FAILED(hr)) {
            std::fprintf(stderr, "CoCreateInstance failed: 0x%08lX (is the module registered?)\n",
                         static_cast<unsigned long>(hr));
            CoUninitialize();
            return 1;
        }
        double t0 = Now();
        if (!FillGroup()) {
            std::fprintf(stderr, "could not fill the bench group\n");
            CoUninitialize();
            return 1;
        }
        std::printf("filled %d shares in %.2f s\n", kShares, Now() - t0);

        BSTR group = SysAllocString(kGroup);
        LONG count = 0;
        // Warm-up of both paths.
        shares->GetShareCount(group, &count);
        long bareCount = BareEnumeration();
        if (count != kShares || bareCount != kShares) {
            std::fprintf(stderr, "unexpected counts: module %ld, bare %ld\n", static_cast<long>(count), bareCount);
            rc = 1;
        }

        // The display texts, for the copy baseline.
        std::vector<std::wstring> texts;
        for (LONG i = 0; i < count; ++i) {
            BSTR text = nullptr;
            shares->GetShareName(i, &text);
            texts.emplace_back(text, SysStringLen(text));
            SysFreeString(text);
        }

        std::vector<double> bare, module, names, copies;
        for (int r = 0; r < rounds && rc == 0; ++r) {
            // Alternate which of the two runs first, so that neither profits
            // from the other's warm caches in every round.
            for (int leg = 0; leg < 2; ++leg) {
                double t = Now();
                if ((leg + r) % 2 == 0) {
                    BareEnumeration();
                    bare.push_back(Now() - t);
                } else {
                    shares->GetShareCount(group, &count);
                    module.push_back(Now() - t);
                }
            }

            double t = Now();
            for (LONG i = 0; i < count; ++i) {
                BSTR text = nullptr;
                shares->GetShareName(i, &text);
                SysFreeString(text);
            }
            names.push_back(Now() - t);

            // The least a Name call does: copy its display text into a new BSTR.
            t = Now();
            for (const std::wstring& shown : texts) {
                BSTR text = SysAllocStringLen(shown.data(), static_cast<UINT>(shown.size()));
                SysFreeString(text);
            }
            copies.push_back(Now() - t);
        }
        SysFreeString(group);

        if (rc == 0) {
            double b = Median(bare), m = Median(module), n = Median(names), c = Median(copies);
            std::printf("rounds: %d, shares: %d (medians)\n", rounds, kShares);
            std::printf("bare RegEnumValueW loop : %8.1f ms  (%6.2f us/share)\n", b * 1e3, b * 1e6 / kShares);
            std::printf("GetShareCount           : %8.1f ms  (%6.2f us/share)\n", m * 1e3, m * 1e6 / kShares);
            std::printf("ratio GetShareCount/bare: %8.3f  (goal <= 1.10; fastest runs: %.3f)\n", m / b,
                        *std::min_element(module.begin(), module.end()) / *std::min_element(bare.begin(), bare.end()));
            std::printf("module overhead         : %8.2f us/share\n", (m - b) * 1e6 / kShares);
            std::printf("GetShareName, all       : %8.2f ms  (%6.3f us/share)\n", n * 1e3, n * 1e6 / kShares);
            std::printf("BSTR copy+free only     : %8.2f ms  (%6.3f us/share)\n", c * 1e3, c * 1e6 / kShares);
            std::printf("ratio GetShareName/copy : %8.2f\n", n / c);
        }
    }
    DeleteGroup();
    CoUninitialize();
    return rc;
}
