// ThreadOnce.cpp: pthread_once for the C and C++ run times linked into the
// DLL (the DLL links with -Wl,--wrap=pthread_once).
//
// The thread library's own pthread_once sets up a record of the calling thread
// (an event, a duplicate of the thread handle, a TLS slot and about 1 KB) that
// stays behind when the DLL is unloaded. The 32-bit run time calls it while the
// DLL loads (to register its unwind tables), so every load and unload left one
// record behind, and the process ran out of TLS slots after about 500 rounds.
// This one needs nothing but the once flag itself.
#include <windows.h>

#include <pthread.h>

#include <cerrno>

namespace {

// States of a once flag; PTHREAD_ONCE_INIT is 0.
constexpr LONG kNotRun = 0;
constexpr LONG kRunning = 1;
constexpr LONG kDone = 2;

// Rounds of waiting that yield before the waiting sleeps.
constexpr int kYields = 16;

static_assert(sizeof(pthread_once_t) == sizeof(LONG), "a once flag is one LONG");

}  // namespace

extern "C" int __wrap_pthread_once(pthread_once_t* once, void (*init)(void))
{
    if (!once || !init)
        return EINVAL;
    auto* state = reinterpret_cast<volatile LONG*>(once);
    for (int round = 0;; ++round) {
        const LONG seen = InterlockedCompareExchange(state, kRunning, kNotRun);
        if (seen == kDone)
            return 0;
        if (seen == kNotRun)
            break;
        // Another thread runs init: yield a few times, then sleep, since
        // SwitchToThread returns at once when no other thread is ready and
        // the wait would spin a whole core.
        if (round < kYields)
            SwitchToThread();
        else
            Sleep(1);
    }
    try {
        init();
    } catch (...) {
        InterlockedExchange(state, kNotRun);  // std::call_once's function may throw
        throw;
    }
    InterlockedExchange(state, kDone);
    return 0;
}
