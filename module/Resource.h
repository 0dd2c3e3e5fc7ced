// Resource.h: identifiers of the module's resources.
#pragma once

#define IDR_MANIFEST 2

// Registrar scripts (type "REGISTRY").
#define IDR_KALVORAUSER 102
#define IDR_ENUMKALVORAUSER 103
#define IDR_KALVORASHARES 105

// String table.
#define IDS_SHARE_ROOT 105        // product root of the share store
#define IDS_SHARE_GROUP_PREFIX 106  // "shares\", followed by a group name
#define IDS_SHARE_GROUP_LIST 107  // "shares", the key that lists the groups
#define IDS_SECURITY_DEFAULT 108  // default security level of a new user

// Profile-folder suffixes; a folder kind (0 to 3) is added to the base id.
#define IDS_FOLDER_BASE 132        // layouts with a profiles directory
#define IDS_FOLDER_DESKTOP 132
#define IDS_FOLDER_MYCOMPUTER 133
#define IDS_FOLDER_MYDOCUMENTS 134
#define IDS_FOLDER_FAVORITES 135
#define IDS_FOLDER_RECENT 136
#define IDS_FOLDER_NETHOOD 137
#define IDS_FOLDER_WIN_BASE 147    // layout with a windows directory only
#define IDS_FOLDER_WIN_DESKTOP 147
#define IDS_FOLDER_WIN_MYCOMPUTER 148
#define IDS_FOLDER_WIN_MYDOCUMENTS 149
#define IDS_FOLDER_WIN_FAVORITES 150
#define IDS_FOLDER_WIN_NETHOOD 151
#define IDS_FOLDER_WIN_RECENT 152
