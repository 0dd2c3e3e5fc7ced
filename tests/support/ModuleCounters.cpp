// ModuleCounters.cpp: linked only into the tests' build of the module. An
// export through which tests read the module's live objects and its locks.
#include "module/ComBase.h"

extern "C" HRESULT __stdcall KalvoraTestCounters(LONG* objects, LONG* locks)
{
    if (!objects || !locks)
        return E_POINTER;
    *objects = kalvora::ModuleObjectCount();
    *locks = kalvora::ModuleLockCount();
    return S_OK;
}
