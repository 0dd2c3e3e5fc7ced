// The module under load and under failing platform calls. One list of
// scenarios is run by many threads at once, across load and unload cycles,
// in a long mixed loop, and once for every call of the platform that fails
// in it, as the failure hook of the tests' build of the module makes it.
// KALVORA_LOAD_LONG=1 runs the long versions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <regex>
#include <thread>

#include "support/FaultHook.h"
#include "support/TestSupport.h"

#include <psapi.h>

namespace kalvora::test {
namespace {

const wchar_t kModule[] = L"KalvoraAdminUser.dll";
const CLSID* const kClasses[] = {&CLSID_KalvoraUser, &CLSID_EnumKalvoraUser, &CLSID_KalvoraShares};

const bool kLongRun = [](const wchar_t* v) { return v && v[0] == L'1'; }(_wgetenv(L"KALVORA_LOAD_LONG"));

// The scenarios and what a failing call gives, from scenarios.txt (its head
// describes them).
const char* const kKinds[] = {"allocation", "registry", "CoCreateInstance", "ADSI"};  // by FaultKind
struct Scenario {
    std::wstring name;
    CLSID clsid;
    bool manyThreads;  // runs on many threads at once over one store
    Texts steps;
};
struct OnFailure {
    std::wstring call;
    LONG kind;
    std::string function;
    std::wstring outcome, events;
    std::wregex eventsPattern;  // events, compiled once
};
struct Tables {
    std::vector<Scenario> scenarios;
    std::vector<OnFailure> failures;
};
const Tables& Table()
{
    static const Tables tables = [] {
        Tables t;
        auto cell = [](const std::wstring& c) { return c == L"-" ? L"" : c; };
        bool inScenario = false;
        for (const auto& [line, text] : ReadLines("load/scenarios.txt")) {
            const Texts c = Split(text, L'\t');
            if (c[0] == L"scenario" && c.size() == 4) {
                CLSID clsid{};
                CLSIDFromProgID((L"KalvoraAdminUser." + c[2]).c_str(), &clsid);
                t.scenarios.push_back({c[1], clsid, c[3] == L"many", {}});
                inScenario = true;
            } else if (c[0] == L"failure" && c.size() == 6) {
                const LONG k = LONG(std::find(std::begin(kKinds), std::end(kKinds), Narrow(c[2])) - std::begin(kKinds));
                t.failures.push_back({c[1], k, Narrow(c[3]), cell(c[4]), cell(c[5]), std::wregex(cell(c[5]))});
            } else if (text.empty() || !inScenario) {
                EXPECT_TRUE(text.empty()) << "scenarios.txt line " << line << " is not a row";
                inScenario = false;
            } else {
                t.scenarios.back().steps.push_back(text);
            }
        }
        return t;
    }();
    return tables;
}

// The store every run starts from: two users, one share group.
void ResetStore()
{
    EmptyStore();
    const wchar_t* alice[][2] = {{L"Computer", L"PC1"},      {L"My Computer", L"mc"},  {L"My Desktop", L"md"},
                                 {L"My Documents", L"mdoc"}, {L"My Favorites", L"mf"}, {L"My Network", L"mn"},
                                 {L"Security Level", L"sl"}, {L"NetWork Enable", L"1"}};
    for (const auto& [name, value] : alice)
        SetString(HKEY_LOCAL_MACHINE, kUsers + L"\\alice", name, value);
    CreateKey(HKEY_LOCAL_MACHINE, kUsers + L"\\bob");
    SetString(HKEY_LOCAL_MACHINE, kShares + L"\\G", L"s1", L"\\\\srv\\s1");
}

std::wstring g_import;  // the import file

// One of the texts separated by "|": "*" is any outcome, "#" any number,
// "=" the outcome `clean`.
bool Matches(const std::wstring& pattern, const std::wstring& outcome, const wchar_t* clean = nullptr)
{
    for (const std::wstring& p : Split(pattern, L'|'))
        if (p == L"*" || p == outcome || (p == L"=" && clean && outcome == clean) ||
            (p == L"#" && !outcome.empty() && outcome.find_first_not_of(L"-0123456789") == std::wstring::npos))
            return true;
    return false;
}

struct Step {
    std::wstring call, expected, outcome;
    Texts events;        // reported during the step
    std::string failed;  // the platform function made to fail during the step
};

// Runs a scenario on a new object of its class: "create", then each step.
// events: takes the events reported since it was last called (none: not taken);
// kind: the kind of call whose failure is watched for (-1: none).
// states: receives the store's lines after each step (none: not read).
std::vector<Step> RunScenario(const Scenario& s, const std::wstring& tag, const std::function<Texts()>& events = {},
                              LONG kind = -1, Texts* states = nullptr)
{
    const auto calls = kind < 0 ? nullptr : Export<CallsFn>(GetModuleHandleW(kModule), "KalvoraTestCalls");
    bool fired = false;
    std::vector<Step> steps;
    auto record = [&](Step step) {
        step.events = events ? events() : Texts{};
        const char* failed = nullptr;
        if (calls && !fired && (calls(kind, &failed), failed))
            step.failed = failed, fired = true;
        steps.push_back(std::move(step));
        if (states)
            for (std::wstring& line : Store())
                states->push_back(std::move(line));
    };
    ComPtr<IUnknown> object;
    record({L"create",
            L"",
            Outcome(CoCreateInstance(s.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object)),
            {},
            {}});
    for (std::wstring step : s.steps) {
        for (const auto& [from, to] : {std::pair<std::wstring, std::wstring>(L"{t}", tag), {L"{import}", g_import}})
            for (size_t at; (at = step.find(from)) != std::wstring::npos;)
                step.replace(at, from.size(), to);
        const size_t at = step.find(L" => ");
        const std::wstring call = step.substr(0, at), expected = at == std::wstring::npos ? L"" : step.substr(at + 4);
        if (object)
            record({call, expected, Call(object.Get(), call), {}, {}});
    }
    return steps;
}

// The steps whose outcome is not the one expected, as text.
Texts Mismatches(const std::vector<Step>& steps, const std::wstring& scenario)
{
    Texts wrong;
    for (const Step& s : steps)
        if (!Matches(s.expected, s.outcome))
            wrong.push_back(scenario + L": " + s.call + L" => " + s.outcome + L" (expected " + s.expected + L")");
    return wrong;
}

SIZE_T Committed()
{
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

class Load : public ModuleTest {
protected:
    // The doubles' network, domain and directory, and the import file: they do not change.
    Load()
    {
        WipeStore();
        Reachable(L"PC1");
        Folders(L"PC1", {L"C$/winnt", L"C$/Documents and Settings/u.CORP"});
        Domain(L"corp.example.com", L"CORP", "load/directory.txt");
        g_import = TempFile(L"load-import.csv", "heading\n1,2,3,4,5,ann,7,PC8,\n1,2,3,4,5,ben,7,PC9,\n");
        ResetStore();
        leaks_.IgnoreHandles();  // each part counts them after what the platform makes once
    }
    void TearDown() override {}  // events are each test's own business
    std::function<Texts()> Events()
    {
        return [this] { return TakeEvents(); };
    }
};

// ---- threads ------------------------------------------------------------------------

// Threads of the given apartment kinds start together on a freshly loaded
// module: each asks for the three class objects, then runs the scenarios
// made for many threads.
// hosted: the classes are created in another apartment (see below).
void RunThreads(const std::vector<DWORD>& apartments, int rounds, bool hosted = false)
{
    CoFreeUnusedLibrariesEx(0, 0);  // the module that the start of the run loaded goes
    ASSERT_EQ(nullptr, GetModuleHandleW(kModule)) << "the module is loaded already";
    HMODULE module =
        LoadLibraryExW(InstallPath(kModule).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);  // as COM loads it
    ASSERT_TRUE(module);
    const auto getClassObject = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(module, "DllGetClassObject");
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    LONG running = LONG(apartments.size());
    const size_t n = apartments.size();
    std::vector<std::vector<void*>> factories(n, std::vector<void*>(3));
    std::vector<Texts> wrong(n);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < n; ++t) {
        threads.emplace_back([&, t] {
            CoInitializeEx(nullptr, apartments[t]);
            WaitForSingleObject(start, INFINITE);
            for (int c = 0; c < 3; ++c) {
                ComPtr<IClassFactory> factory;
                getClassObject(*kClasses[c], IID_IClassFactory, &factory);
                factories[t][c] = factory.Get();
            }
            // Hosted, each thread holds a proxy of each class object for the
            // run: Wine's MTA may free a class object's proxy while another
            // thread unmarshals it again (a crash in combase, seen in long
            // 32-bit runs).
            ComPtr<IClassFactory> held[3];
            for (int c = 0; hosted && c < 3; ++c)
                CoGetClassObject(*kClasses[c], CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &held[c]);
            const std::wstring tag = std::to_wstring(t);
            for (int r = 0; r < rounds; ++r)
                for (const Scenario& s : Table().scenarios)
                    for (std::wstring& w : s.manyThreads ? Mismatches(RunScenario(s, tag), s.name) : Texts{})
                        wrong[t].push_back(std::move(w));
            for (ComPtr<IClassFactory>& f : held)
                f.Reset();
            CoUninitialize();
            if (InterlockedDecrement(&running) == 0)
                SetEvent(done);
        });
    }
    Sleep(100);  // every thread waits at the start
    const ULONGLONG began = GetTickCount64();
    SetEvent(start);
    // This thread's apartment serves calls while it waits (Wine may host Neutral objects there).
    for (std::thread& t : threads) {
        while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
            for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);)
                DispatchMessageW(&msg);
        t.join();
    }
    const ULONGLONG ms = GetTickCount64() - began;
    CloseHandle(start);
    CloseHandle(done);
    for (size_t t = 0; t < n; ++t) {
        for (int c = 0; c < 3; ++c)
            EXPECT_TRUE(factories[t][c] && factories[t][c] == factories[0][c]) << "thread " << t << ", class " << c;
        for (size_t i = 0; i < wrong[t].size() && i < 5; ++i)
            ADD_FAILURE() << "thread " << t << ": " << Narrow(wrong[t][i]) << " (" << wrong[t].size() << " in all)";
    }
    EXPECT_EQ(3, Export<CallsFn>(module, "KalvoraTestCalls")(kFaultTypeLib, nullptr))
        << "type information loads, one per interface";
    std::printf("%zu threads x %d rounds: %llu ms\n", n, rounds, ms);
    if (hosted) {
        // Wine creates a "Neutral" class asked for from the MTA in the main
        // apartment, and its host keeps the reference to the class object
        // that it marshals, one for each creation that it hosted (and one
        // for each thread's own proxy). They are given back here, down to
        // the module's own, so that what the module holds of its own is
        // counted at the end (without hosting: the test on "Both").
        for (const CLSID* clsid : kClasses) {
            IClassFactory* factory = nullptr;
            getClassObject(*clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
            while (factory && factory->Release() > 1) {
            }
        }
    }
    FreeLibrary(module);
}

TEST_F(Load, ThreadsOnNeutralFromTheMultithreadedApartment)
{
    RunThreads(std::vector<DWORD>(8, COINIT_MULTITHREADED), kLongRun ? 200 : 3, true);
}

TEST_F(Load, ThreadsOfBothApartmentKindsOnBoth)
{
    for (const CLSID* clsid : kClasses) {
        wchar_t text[40];
        StringFromGUID2(*clsid, text, 40);
        SetString(HKEY_CLASSES_ROOT, L"CLSID\\" + std::wstring(text) + L"\\InprocServer32", L"ThreadingModel", L"Both");
    }
    std::vector<DWORD> apartments;
    for (int t = 0; t < 16; ++t)
        apartments.push_back(t % 2 ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    RunThreads(apartments, kLongRun ? 200 : 5);
}

// ---- unload cycles and soak ------------------------------------------------------------

// Runs rounds of every scenario, each on a fresh store, until `more`, asked
// after each round with the calls made so far, says no; steps with an
// unexpected outcome fail the test.
void RunRounds(const std::function<bool(int, long)>& more)
{
    long calls = 0, wrong = 0;
    for (int r = 0;; ++r) {
        for (const Scenario& s : Table().scenarios) {
            ResetStore();
            for (const std::wstring& w : Mismatches(RunScenario(s, L"0"), s.name))
                if (++wrong <= 5)
                    ADD_FAILURE() << "round " << r << ": " << Narrow(w);
            calls += long(s.steps.size()) + 1;  // the creation and each step
        }
        if (!more(r, calls))
            return;
    }
}

// Each round uses every class, meets an out of memory inside the module (a
// C++ exception on this thread), releases it all and frees the unused
// libraries: the module goes, and the process keeps neither handles nor memory of it.
TEST_F(Load, UnloadCycles)
{
    const int rounds = kLongRun ? 2000 : 200, warmUp = 10;
    std::pair<size_t, SIZE_T> start;
    RunRounds([&](int r, long) {
        ComPtr<IUnknown> users;
        CoCreateInstance(CLSID_EnumKalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &users);
        const char* failed = nullptr;
        Export<FailCallFn>(GetModuleHandleW(kModule), "KalvoraTestFailCall")(kFaultAlloc, 1, 0);
        EXPECT_EQ(L"0", Call(users.Get(), L"ImportFile|" + g_import));  // its buffer is not allocated
        Export<CallsFn>(GetModuleHandleW(kModule), "KalvoraTestCalls")(kFaultAlloc, &failed);
        EXPECT_STREQ("operator new", failed);
        users.Reset();
        CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_EQ(nullptr, GetModuleHandleW(kModule)) << "still loaded after round " << r;
        if (r + 1 == warmUp)
            start = {ProcessHandles(), Committed()};
        return r + 1 < rounds;
    });
    const double perRound = (double(Committed()) - double(start.second)) / (rounds - warmUp);
    std::printf("%d rounds: handles %zu -> %zu, committed memory %+.0f bytes per round after %d\n", rounds, start.first,
                ProcessHandles(), perRound, warmUp);
    EXPECT_EQ(start.first, ProcessHandles());
    EXPECT_LT(perRound, 1024.0) << "committed memory per round";
    TakeEvents();
}

// A mixed loop of every scenario; handles and committed memory sampled every
// 10,000 calls stay flat after the first sample.
TEST_F(Load, Soak)
{
    const long target = kLongRun ? 200000 : 20000, every = 10000;
    std::vector<std::pair<size_t, SIZE_T>> samples;
    long calls = 0;
    const ULONGLONG began = GetTickCount64();
    RunRounds([&](int, long made) {
        if (size_t((calls = made) / every) > samples.size()) {
            TakeEvents();
            samples.emplace_back(ProcessHandles(), Committed());
        }
        return calls < target;
    });
    const double seconds = double(GetTickCount64() - began) / 1000;
    ASSERT_GE(samples.size(), 2u);
    const long grown = long(samples.back().second) - long(samples[0].second);
    std::printf(
        "%ld calls in %.1f s: %.0f calls/s; handles %zu -> %zu, committed memory %+ld bytes after the first %ld "
        "calls\n",
        calls, seconds, calls / seconds, samples[0].first, samples.back().first, grown, every);
    EXPECT_EQ(samples[0].first, samples.back().first) << "handles";
    EXPECT_LE(grown, 64 * 1024) << "committed memory grew";
}

// ---- failures injected ------------------------------------------------------------------

const LONG kCodes[] = {0, ERROR_ACCESS_DENIED, LONG(REGDB_E_CLASSNOTREG), LONG(0x8007203A)};  // by kind

// The events of a failing step against a row's pattern: "=" those without the
// failure, "<" some of those, else a regular expression over them all, joined by " ; ".
bool EventsMatch(const OnFailure& row, const Texts& events, const Texts& clean)
{
    if (row.events == L"<")
        return std::all_of(events.begin(), events.end(), [&](const std::wstring& e) {
            return std::find(clean.begin(), clean.end(), e) != clean.end();
        });
    return row.events == L"=" ? events == clean : std::regex_match(Join(events, L" ; "), row.eventsPattern);
}

// Whether the step in which the failure came is one of its defined outcomes.
bool Defined(FaultKind kind, const Step& faulted, const Step& clean)
{
    const std::wstring member = faulted.call.substr(0, faulted.call.find_first_of(L"|="));
    auto rows = [&](const std::wstring& call) {
        std::vector<const OnFailure*> found;
        for (const OnFailure& f : Table().failures)
            if (f.call == call && f.kind == kind && (f.function == "*" || f.function == faulted.failed))
                found.push_back(&f);
        return found;
    };
    std::vector<const OnFailure*> found = rows(member);
    if (found.empty())
        found = rows(L"*");
    return std::any_of(found.begin(), found.end(), [&](const OnFailure* f) {
        return Matches(f->outcome, faulted.outcome, clean.outcome.c_str()) &&
               EventsMatch(*f, faulted.events, clean.events);
    });
}

// Every scenario, with the n-th call of each kind failing, n = 1, 2, ...
// until the scenario runs through without a failure: no crash, no object,
// lock or handle left, the outcome and events of the step where it failed
// defined, the steps before it as without failure, and the store holding
// only what the scenario without failure held at its start or after a step.
TEST_F(Load, EveryFailingCallOfTheScenarios)
{
    for (const Scenario& s : Table().scenarios) {  // the module loaded, and all it loads once
        ResetStore();
        RunScenario(s, L"0", Events());
    }
    HMODULE module = GetModuleHandleW(kModule);
    ASSERT_TRUE(module);
    const auto failCall = Export<FailCallFn>(module, "KalvoraTestFailCall");
    const auto calls = Export<CallsFn>(module, "KalvoraTestCalls");
    ASSERT_TRUE(failCall && calls);
    for (const Scenario& s : Table().scenarios) {
        for (LONG kind = kFaultAlloc; kind <= kFaultAdsi; ++kind) {
            ResetStore();
            Texts held = Store();  // what the store may hold: its lines at the start and after each clean step
            failCall(kind, 0, 0);
            const std::vector<Step> clean = RunScenario(s, L"0", Events(), -1, &held);
            std::sort(held.begin(), held.end());
            const LONG reached = calls(kind, nullptr);
            for (const std::wstring& w : Mismatches(clean, s.name))
                ADD_FAILURE() << Narrow(w);
            auto runFailing = [&](LONG n) {
                ResetStore();
                failCall(kind, n, kCodes[kind]);
                std::vector<Step> run = RunScenario(s, L"0", Events(), kind);
                failCall(kind, 0, 0);
                return run;
            };
            LONG n = 1;
            for (bool fired = reached > 0; fired; ++n) {
                SCOPED_TRACE(Narrow(s.name) + ", " + kKinds[kind] + " call " + std::to_string(n) + " failing");
                LeakCheck leaks;  // objects and locks
                leaks.IgnoreHandles();
                size_t handles = ProcessHandles();
                const std::vector<Step> run = runFailing(n);
                if (ProcessHandles() != handles) {
                    // The platform makes some handles once, on first use (Wine
                    // does for a first exception on some paths): a leak repeats.
                    handles = ProcessHandles();
                    runFailing(n);
                    EXPECT_EQ(handles, ProcessHandles()) << "handles leaked, the same failure run twice";
                }
                fired = false;
                for (size_t i = 0; i < run.size(); ++i) {
                    if (!run[i].failed.empty()) {
                        fired = true;
                        EXPECT_TRUE(Defined(FaultKind(kind), run[i], clean[i]))
                            << Narrow(run[i].call) << " with " << run[i].failed
                            << " failing: " << Narrow(run[i].outcome) << ", events "
                            << Narrow(Join(run[i].events, L" ; ")) << " (without: " << Narrow(clean[i].outcome) << ", "
                            << Narrow(Join(clean[i].events, L" ; ")) << ")";
                        break;
                    }
                    EXPECT_EQ(clean[i].outcome + L" " + Join(clean[i].events, L";"),
                              run[i].outcome + L" " + Join(run[i].events, L";"))
                        << Narrow(run[i].call);
                }
                for (const std::wstring& line : Store())
                    EXPECT_TRUE(std::binary_search(held.begin(), held.end(), line))
                        << "the store holds " << Narrow(line);
                if (!fired) {
                    EXPECT_EQ(n, reached + 1) << "calls reached without a failure: " << reached;
                }
            }
            std::printf("%-10ls %-16s %ld failures injected\n", s.name.c_str(), kKinds[kind],
                        long(n - 2 + (reached == 0)));
        }
    }
}

}  // namespace
}  // namespace kalvora::test
