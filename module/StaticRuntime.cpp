// StaticRuntime.cpp: the emulated thread-local storage of the run times linked
// into the DLL (the DLL links with -Wl,--wrap=__emutls_get_address), and the
// release, at unload, of what the run time keeps for the life of the DLL.
//
// The C++ run time keeps each thread's exception state in emulated
// thread-local storage. The compiler's own implementation of it keeps a
// thread's variables under a key of the POSIX thread library, which sets up a
// record of the thread (handles and memory) on first use; at unload both stay
// behind for every thread that ever met a C++ exception in the DLL. This one
// keeps them under a TLS slot of its own and a list of every thread's
// variables, and frees them all when the DLL is unloaded.
//
// At DLL_PROCESS_DETACH the C run time calls DllMain, then its exit handlers
// in the reverse order of their registration: the static destructors and (in
// the 32-bit build) the unwind tables' deregistration come after DllMain.
// The handler here is registered by the first C initializer, before any
// other, so it runs after all of them.
#include "module/StaticRuntime.h"

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace {

// What the compiler emits for each thread-local variable (its layout is the
// compiler's): the index, from 1, is given on first use.
struct EmulatedVariable {
    std::uintptr_t size;
    std::uintptr_t align;
    std::uintptr_t index;
    const void* initial;  // null: zero-filled
};

// One thread's variables, by index - 1.
struct ThreadVariables {
    ThreadVariables* next;  // the list of every thread's
    std::size_t size;
    void** values;
};

DWORD g_slot = TLS_OUT_OF_INDEXES;
std::uintptr_t g_lastIndex = 0;
ThreadVariables* g_threads = nullptr;
bool g_unloading = false;  // DLL_PROCESS_DETACH came from FreeLibrary

ThreadVariables* ThisThread()
{
    const DWORD lastError = GetLastError();  // TlsGetValue clears it
    auto* thread = static_cast<ThreadVariables*>(TlsGetValue(g_slot));
    SetLastError(lastError);
    if (thread)
        return thread;
    if (g_slot == TLS_OUT_OF_INDEXES || !(thread = static_cast<ThreadVariables*>(std::calloc(1, sizeof *thread))))
        std::abort();  // as the compiler's own implementation does: there is no way to fail
    thread->next = __atomic_load_n(&g_threads, __ATOMIC_RELAXED);
    while (!__atomic_compare_exchange_n(&g_threads, &thread->next, thread, true, __ATOMIC_RELEASE, __ATOMIC_RELAXED)) {
    }
    TlsSetValue(g_slot, thread);
    SetLastError(lastError);
    return thread;
}

// The last exit step of the C run time at DLL_PROCESS_DETACH.
void __cdecl ReleaseAtExit()
{
    if (!g_unloading)
        return;  // the end of the process: the system takes it all
    __gnu_cxx::__freeres();  // the emergency exception pool
    for (ThreadVariables* thread = g_threads; thread;) {
        for (std::size_t i = 0; i < thread->size; ++i)
            _aligned_free(thread->values[i]);
        std::free(thread->values);
        ThreadVariables* next = thread->next;
        std::free(thread);
        thread = next;
    }
    g_threads = nullptr;
    if (g_slot != TLS_OUT_OF_INDEXES)
        TlsFree(g_slot);
    g_slot = TLS_OUT_OF_INDEXES;
}

int __cdecl RegisterFirst()
{
    g_slot = TlsAlloc();
    std::atexit(ReleaseAtExit);
    return 0;
}
// The C initializers run before the C++ constructors, in the order of their
// sections' names; .CRT$XIA is the start of the list.
__attribute__((section(".CRT$XIB"), used)) int(__cdecl* const kRegisterFirst)() = RegisterFirst;

}  // namespace

extern "C" void* __wrap___emutls_get_address(EmulatedVariable* variable)
{
    std::uintptr_t index = __atomic_load_n(&variable->index, __ATOMIC_ACQUIRE);
    if (index == 0) {
        const std::uintptr_t mine = __atomic_add_fetch(&g_lastIndex, 1, __ATOMIC_RELAXED);
        index = __atomic_compare_exchange_n(&variable->index, &index, mine, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)
                    ? mine
                    : index;  // another thread gave it one first
    }
    ThreadVariables* thread = ThisThread();
    if (index > thread->size) {
        const std::size_t size = index + 8;
        auto* grown = static_cast<void**>(std::realloc(thread->values, size * sizeof(void*)));
        if (!grown)
            std::abort();
        std::memset(grown + thread->size, 0, (size - thread->size) * sizeof(void*));
        thread->values = grown;
        thread->size = size;
    }
    void*& value = thread->values[index - 1];
    if (!value) {
        void* created = _aligned_malloc(variable->size, variable->align > sizeof(void*) ? variable->align : sizeof(void*));
        if (!created)
            std::abort();
        if (variable->initial)
            std::memcpy(created, variable->initial, variable->size);
        else
            std::memset(created, 0, variable->size);
        value = created;
    }
    return value;
}

namespace kalvora {

void ReleaseStaticRuntimeAtUnload(LPVOID reserved) noexcept
{
    g_unloading = reserved == nullptr;
}

}  // namespace kalvora
