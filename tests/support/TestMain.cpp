// TestMain.cpp: runs the GoogleTest suites on a single-threaded apartment.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    // Load the module and its type information, and let the platform make
    // what it makes once per process (predefined keys, COM's class lookup,
    // the locale's data, the network and the domain's system information),
    // so that the leak checks count only what a test leaves behind.
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        KeyExists(root, L"Software");
    ComPtr<IUnknown> none;
    CoCreateInstance(GUID_NULL, nullptr, CLSCTX_ALL, IID_IUnknown, &none);  // fails
    for (const CLSID* clsid : {&CLSID_EnumKalvoraUser, &CLSID_KalvoraShares})
        Call(Create<IDispatch>(*clsid).Get(), L"Reset");
    if (const auto user = Create<IDispatch>(CLSID_KalvoraUser))
        for (const wchar_t* call : {L"Computer=warm-up", L"Name=#i4", L"PopulateMyComputer"})
            Call(user.Get(), call);
    Create<IUnknown>({0x50B6327F, 0xAFD1, 0x11D2, {0x9C, 0xB9, 0x00, 0x00, 0xF8, 0x7A, 0x36, 0x9E}});  // ADSystemInfo
    const int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
