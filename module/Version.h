// Version.h: the product version, shown by the version resources of
// KalvoraAdminUser.dll and OSUtilities.dll (scripts/package.sh names the
// packages after the module's).
#pragma once

#define KALVORA_FILEVERSION 4,5,0,0
#define KALVORA_FILEVERSION_TEXT "4.5.0.0\0"
#define KALVORA_PRODUCTVERSION_TEXT "4.5\0"
