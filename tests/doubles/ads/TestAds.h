// TestAds.h: the classes of kalvora_testads.dll, created by its class factory.
#pragma once

#include "Doubles.h"

namespace kalvora::doubles {

// ADSystemInfo answering from HKLM\Software\KalvoraTest\ADSystemInfo.
HRESULT CreateSystemInfo(REFIID riid, void** ppv);
// The LDAP and WinNT namespaces answering from the fixture directory file.
HRESULT CreateLdapNamespace(REFIID riid, void** ppv);
HRESULT CreateWinNTNamespace(REFIID riid, void** ppv);

}  // namespace kalvora::doubles
