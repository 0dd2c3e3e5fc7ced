// VerifyTrust.cpp: asks WinVerifyTrust (WINTRUST_ACTION_GENERIC_VERIFY_V2,
// no user interface, no revocation check) about each file, and prints its
// answer in hex and the file's name, one line each.
//
//   kalvora_verify_trust.exe FILE...
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        WINTRUST_FILE_INFO file = {sizeof file, argv[i]};
        WINTRUST_DATA data = {sizeof data};
        data.dwUIChoice = WTD_UI_NONE;
        data.fdwRevocationChecks = WTD_REVOKE_NONE;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &file;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        const LONG rc = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
        std::printf("0x%08lX %ls\n", static_cast<unsigned long>(rc), argv[i]);
    }
    return argc < 2;
}
