// TestMain.cpp: runs the GoogleTest suites on a single-threaded apartment.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    // Load the module and its type information, and let the platform make
    // what it makes once per process (predefined keys, COM's class lookup),
    // so that the leak checks count only what a test leaves behind.
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        kalvora::test::KeyExists(root, L"Software");
    kalvora::test::ComPtr<IUnknown> none;
    CoCreateInstance(GUID_NULL, nullptr, CLSCTX_ALL, IID_IUnknown, &none);
    for (const CLSID* clsid : {&CLSID_KalvoraUser, &CLSID_EnumKalvoraUser, &CLSID_KalvoraShares})
        kalvora::test::Call(kalvora::test::Create<IDispatch>(*clsid).Get(), L"Reset");
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
