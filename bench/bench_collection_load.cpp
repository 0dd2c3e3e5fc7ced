// bench_collection_load: the cost of creating the user collection over many
// user keys, against a loop in the same process that makes the same platform
// calls with nothing else.
//
//   bench_collection_load [--rounds N] [user counts...]   (default 1000 10000 50000)
//
// Needs the module registered in the prefix it runs in. Seeding and deleting
// the user keys is set-up and is not measured; each size gets one untimed
// warm-up round, then N timed rounds in which the variants take turns.
// The median of each variant is reported.
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "KalvoraAdminUser_h.h"
#include "module/RegKey.h"
#include "module/Text.h"

namespace {

const wchar_t kUsersKey[] = L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users\\";
const wchar_t* const kValueNames[8] = {
    L"Computer",     L"My Computer", L"My Desktop",     L"My Documents",
    L"My Favorites", L"My Network",  L"Security Level", L"NetWork Enable",
};

bool Check(LONG err, const char* what)
{
    if (err != ERROR_SUCCESS) {
        std::fprintf(stderr, "%s failed: %ld\n", what, err);
        return false;
    }
    return true;
}

bool DeleteUsers()
{
    HKEY parent;  // in the store's registry view, as the module reads it
    LONG err = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrope\\ORVE\\TAV", 0, KEY_ALL_ACCESS | kalvora::kStoreView, &parent);
    if (err == ERROR_SUCCESS) {
        err = RegDeleteTreeW(parent, L"Users");
        RegCloseKey(parent);
    }
    return err == ERROR_FILE_NOT_FOUND || Check(err, "RegDeleteTree");
}

// n user keys with eight REG_SZ values each.
bool Seed(DWORD n)
{
    if (!DeleteUsers())
        return false;
    for (DWORD i = 0; i < n; ++i) {
        wchar_t name[32];
        std::swprintf(name, 32, L"user%06lu", static_cast<unsigned long>(i));
        std::wstring path = std::wstring(kUsersKey) + name;
        HKEY key;
        if (!Check(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | kalvora::kStoreView, nullptr, &key,
                                   nullptr),
                   "RegCreateKeyEx"))
            return false;
        for (int f = 0; f < 8; ++f) {
            std::wstring value = f == 7 ? L"1" : std::wstring(L"\\\\PC-") + name + L"\\C$\\" + kValueNames[f];
            RegSetValueExW(key, kValueNames[f], 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(key);
    }
    return true;
}

void ReleaseAll(std::vector<IKalvoraUser*>& users)
{
    for (IKalvoraUser*& user : users) {
        if (user)
            user->Release();
        user = nullptr;
    }
}

// The registry and object-creation calls of the load, in the same order,
// keeping the users; with withPuts, also the nine put calls on each user.
// Returns the seconds taken, or a negative number on failure.
double RunBaseline(std::vector<IKalvoraUser*>& users, bool withPuts)
{
    wchar_t path[400];
    const size_t prefix = std::wcslen(kUsersKey);
    std::wmemcpy(path, kUsersKey, prefix);
    wchar_t name[100];
    wchar_t value[520];
    bool ok = true;

    const double start = Now();
    HKEY created;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUsersKey, 0, nullptr, 0, KEY_WRITE | kalvora::kStoreView, nullptr, &created, nullptr) !=
        ERROR_SUCCESS)
        return -1;
    RegCloseKey(created);
    HKEY root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUsersKey, 0, KEY_READ | kalvora::kStoreView, &root) != ERROR_SUCCESS)
        return -1;
    DWORD count = 0;
    RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    if (count > users.size())
        count = static_cast<DWORD>(users.size());
    DWORD length = 100;
    for (DWORD i = 0; i < count && ok; ++i) {
        if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            ok = false;
            break;
        }
        IKalvoraUser* user = nullptr;
        if (CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_ALL, IID_IKalvoraUser,
                             reinterpret_cast<void**>(&user)) != S_OK) {
            ok = false;
            break;
        }
        users[i] = user;
        if (withPuts) {
            BSTR text = SysAllocString(name);
            user->put_Name(text);
            SysFreeString(text);
        }
        std::wmemcpy(path + prefix, name, length + 1);
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | kalvora::kStoreView, &key) != ERROR_SUCCESS) {
            ok = false;
            break;
        }
        for (int f = 0; f < 8; ++f) {
            DWORD size = 0;
            if (RegQueryValueExW(key, kValueNames[f], nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
                continue;
            DWORD bytes = sizeof value;
            if (RegQueryValueExW(key, kValueNames[f], nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                                 &bytes) != ERROR_SUCCESS)
                continue;
            if (!withPuts)
                continue;
            const auto length = kalvora::LengthUpToNul(value, bytes / sizeof(wchar_t));
            BSTR text = SysAllocStringLen(value, static_cast<UINT>(length));
            switch (f) {
            case 0: user->put_Computer(text); break;
            case 1: user->put_MyComputer(text); break;
            case 2: user->put_MyDesktop(text); break;
            case 3: user->put_MyDocuments(text); break;
            case 4: user->put_MyFavorites(text); break;
            case 5: user->put_MyNetwork(text); break;
            case 6: user->put_SecurityLevel(text); break;
            default: user->put_IsNetwork(_wtoi(text)); break;
            }
            SysFreeString(text);
        }
        RegCloseKey(key);
        length = 100;
    }
    RegCloseKey(root);
    const double elapsed = Now() - start;
    return ok ? elapsed : -1;
}

// Creates the collection and checks that it holds n users; seconds, or negative.
double RunCollection(DWORD n)
{
    IEnumKalvoraUser* collection = nullptr;
    const double start = Now();
    HRESULT hr = CoCreateInstance(CLSID_EnumKalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumKalvoraUser,
                                  reinterpret_cast<void**>(&collection));
    const double elapsed = Now() - start;
    if (FAILED(hr)) {
        std::fprintf(stderr, "creating the collection failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return -1;
    }
    LONG count = 0;
    collection->GetCount(&count);
    collection->Release();
    if (count != static_cast<LONG>(n)) {
        std::fprintf(stderr, "the collection holds %ld users, not %lu\n", count, static_cast<unsigned long>(n));
        return -1;
    }
    return elapsed;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Times of one size in one round, in seconds.
struct Sample {
    double baseline = 0;      // registry and creation calls
    double baselinePuts = 0;  // the same plus the put calls
    double collection = 0;
};

// Seeds n user keys, runs the three variants (the one that goes first
// changes from round to round) and deletes the keys again.
bool MeasureOnce(DWORD n, int round, Sample& sample)
{
    if (!Seed(n))
        return false;
    std::vector<IKalvoraUser*> users(n, nullptr);
    double t[3] = {-1, -1, -1};
    for (int k = 0; k < 3; ++k) {
        const int variant = (k + round) % 3;
        if (variant == 0) {
            t[0] = RunBaseline(users, false);
            ReleaseAll(users);
        } else if (variant == 1) {
            t[1] = RunBaseline(users, true);
            ReleaseAll(users);
        } else {
            t[2] = RunCollection(n);
        }
    }
    if (!DeleteUsers() || t[0] < 0 || t[1] < 0 || t[2] < 0)
        return false;
    sample = {t[0], t[1], t[2]};
    return true;
}

bool IsDirect()
{
    IEnumKalvoraUser* collection = nullptr;
    if (FAILED(CoCreateInstance(CLSID_EnumKalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumKalvoraUser,
                                reinterpret_cast<void**>(&collection))))
        return false;
    IUnknown* proxy = nullptr;
    const bool direct = FAILED(collection->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(&proxy)));
    if (proxy)
        proxy->Release();
    collection->Release();
    return direct;
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = 3;
    std::vector<DWORD> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            sizes.push_back(static_cast<DWORD>(std::strtoul(argv[i], nullptr, 10)));
    }
    if (sizes.empty())
        sizes = {1000, 10000, 50000};

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "CoInitializeEx failed\n");
        return 1;
    }
    if (!DeleteUsers())
        return 1;
    std::printf("bench_collection_load: creating the user collection vs. a baseline loop (STA, %s object)\n",
                IsDirect() ? "direct" : "PROXIED");
    std::printf("baseline: RegCreateKeyExW(KEY_WRITE)+RegCloseKey, RegOpenKeyExW(KEY_READ), RegQueryInfoKeyW;\n"
                "  per user key RegEnumKeyExW, CoCreateInstance(KalvoraUser), RegOpenKeyExW, 8 x (size query +\n"
                "  data query) RegQueryValueExW, RegCloseKey; RegCloseKey. Releasing the users is not timed.\n"
                "baseline+puts: the same plus the nine put calls per user (Name and the eight values).\n");
    std::fflush(stdout);

    // Warm-up: load the module and its classes once, untimed.
    Sample warm;
    if (!MeasureOnce(1000, 0, warm))
        return 1;

    // Rounds are the outer loop, so a slow spell of the machine falls on
    // every size alike; ratios and growth are taken within a round.
    const size_t count = sizes.size();
    std::vector<std::vector<Sample>> samples(count);
    for (int r = 0; r < rounds; ++r) {
        for (size_t i = 0; i < count; ++i) {
            Sample s;
            if (!MeasureOnce(sizes[i], r, s)) {
                DeleteUsers();
                return 1;
            }
            samples[i].push_back(s);
            std::printf("round %d, %6lu users: baseline %8.0f ms, baseline+puts %8.0f ms, collection %8.0f ms,"
                        " ratio %.3f\n",
                        r + 1, static_cast<unsigned long>(sizes[i]), s.baseline * 1e3, s.baselinePuts * 1e3,
                        s.collection * 1e3, s.collection / s.baseline);
            std::fflush(stdout);
        }
    }

    std::printf("\nmedians over %d rounds (ratios are medians of the per-round ratios)\n", rounds);
    std::printf("%8s %12s %17s %14s %8s %12s %18s %14s\n", "users", "baseline ms", "baseline+puts ms",
                "collection ms", "ratio", "ratio range", "ratio (with puts)", "extra us/user");
    bool ratioOk = true;
    for (size_t i = 0; i < count; ++i) {
        std::vector<double> base, basePuts, coll, ratio, ratioPuts;
        for (const Sample& s : samples[i]) {
            base.push_back(s.baseline);
            basePuts.push_back(s.baselinePuts);
            coll.push_back(s.collection);
            ratio.push_back(s.collection / s.baseline);
            ratioPuts.push_back(s.collection / s.baselinePuts);
        }
        const double q = Median(ratio);
        ratioOk = ratioOk && q <= 1.10;
        std::printf("%8lu %12.1f %17.1f %14.1f %8.3f %5.3f-%5.3f %18.3f %14.1f\n",
                    static_cast<unsigned long>(sizes[i]), Median(base) * 1e3, Median(basePuts) * 1e3,
                    Median(coll) * 1e3, q, *std::min_element(ratio.begin(), ratio.end()),
                    *std::max_element(ratio.begin(), ratio.end()), Median(ratioPuts),
                    (Median(coll) - Median(base)) / sizes[i] * 1e6);
    }
    std::printf("\nratio goal (<= 1.10 at every size): %s\n", ratioOk ? "met" : "NOT met");

    size_t small = count, large = count;
    for (size_t i = 0; i < count; ++i) {
        if (sizes[i] == 10000)
            small = i;
        if (sizes[i] == 50000)
            large = i;
    }
    if (small < count && large < count) {
        std::vector<double> growth, baseGrowth;
        for (int r = 0; r < rounds; ++r) {
            growth.push_back(samples[large][r].collection / samples[small][r].collection);
            baseGrowth.push_back(samples[large][r].baseline / samples[small][r].baseline);
        }
        const double g = Median(growth);
        std::printf("growth 10000 -> 50000 users (median of the per-round growth): collection %.2fx, "
                    "baseline %.2fx (goal <= 5.5x: %s)\n",
                    g, Median(baseGrowth), g <= 5.5 ? "met" : "NOT met");
    }
    CoUninitialize();
    return 0;
}
