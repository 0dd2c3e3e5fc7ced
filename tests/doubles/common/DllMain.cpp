// DllMain.cpp: each double links its own C++ run time, as the module does, and
// frees it the same way when FreeLibrary unloads it, so that the module's
// unload rounds measure the module and not the doubles it loads.
#include <windows.h>

#include "module/StaticRuntime.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    else if (reason == DLL_PROCESS_DETACH)
        kalvora::ReleaseStaticRuntimeAtUnload(reserved);
    return TRUE;
}
