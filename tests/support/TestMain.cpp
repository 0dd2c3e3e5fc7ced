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
    // The network and the domain's system information, as the profile probe asks them.
    auto user = kalvora::test::Create<IDispatch>(CLSID_KalvoraUser);
    kalvora::test::Call(user.Get(), L"Computer=warm-up");
    kalvora::test::Call(user.Get(), L"Name=#i4");  // text from a number: the locale's data
    kalvora::test::Call(user.Get(), L"PopulateMyComputer");
    const CLSID systemInfo = {0x50B6327F, 0xAFD1, 0x11D2, {0x9C, 0xB9, 0x00, 0x00, 0xF8, 0x7A, 0x36, 0x9E}};
    CoCreateInstance(systemInfo, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &none);
    none.Reset();
    user.Reset();
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
