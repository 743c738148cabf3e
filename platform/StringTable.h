#pragma once

#include <string>
#include <vector>

// The user-visible texts of the tool by string-table id (102 to 161), UTF-8. The table itself is in
// resources/StringTable.cpp.
//
// The text in the user's language (platform/Translation.h). Returns false and leaves text empty for
// an id the table does not hold.
bool LoadStringById(int id, std::string& text);
// Convenience form: the text, or "" for an unknown id.
std::string LoadStringById(int id);
// The English text whatever the user's language, for the log: support reads the log in one language.
std::string LoadEnglishStringById(int id);
// Every id the table holds, in table order.
std::vector<int> StringTableIds();

// Ids the procedures use by name.
enum StringId : int {
  IDS_RESTARTING_MODULE = 102,
  IDS_DOWNLOAD_SUCCESSFULLY = 103,
  IDS_ACCESSING_OFFLINE = 105,
  IDS_SWITCHING_DOWNLOADER = 106,
  IDS_BACKING_UP_NV = 107,
  IDS_CHECK_NV_RESTORE = 109,
  IDS_UNLOCKING = 110,
  IDS_ERASING_NVRAM = 111,
  IDS_WAITING_ROUTER_UPGRADE = 112,
  IDS_PREPARING_WIRELESS = 113,
  IDS_DOWNLOADING_FIRMWARE = 114,
  IDS_DOWNLOADING_DASHBOARD = 115,
  IDS_TRANSMITTING_ROUTER = 116,
  IDS_TCP_CONNECT_FAILED = 119,
  IDS_BEGIN_PACKET_FAILED = 120,
  IDS_ROUTER_TRANSFER_FAILED = 121,
  IDS_ROUTER_RESULT_FAIL = 122,
  IDS_ROUTER_RESULT_TIMEOUT = 123,
  IDS_HANDSHAKE_FAILED = 124,
  IDS_NV_BACKUP_FAILED = 125,
  IDS_VERSION_CHECK_FAILED = 126,
  IDS_SWITCH_FAILED = 127,
  IDS_UNLOCK_FAILED = 128,
  IDS_DOWNLOAD_FAILED = 129,
  IDS_RESTART_FAILED = 130,
  IDS_RESTART_TIMEOUT = 131,
  IDS_NV_RESTORE_CHECK_FAILED = 132,
  IDS_DUPLICATE_IMAGES = 134,
  IDS_NO_VALID_IMAGE = 135,
  IDS_HELP_MISSING = 136,
  IDS_NO_ROUTER = 137,
  IDS_WINSOCK_VERSION = 138,
  IDS_UPGRADE_CAPTION = 139,
  IDS_UPGRADE_IN_PROCESS = 140,
  IDS_COL_TYPE = 141,
  IDS_COL_CURRENT = 143,
  IDS_COL_UPGRADE = 144,
  IDS_COL_STATUS = 145,
  IDS_COL_PERCENT = 146,
  IDS_NAME_BOOT = 147,
  IDS_NAME_APP = 148,
  IDS_NAME_CUSTOMIZATION = 149,
  IDS_NAME_FIRMWARE = 150,
  IDS_NAME_DASHBOARD = 151,
  IDS_VERSION_MISMATCH = 153,
  IDS_WAITING_UPGRADE = 155,
  IDS_ARE_YOU_SURE = 156,
  IDS_CHECK_CAPTION = 157,
  IDS_NOT_FOUND = 158,
  IDS_NAME_COMMON_HTML = 159,
  IDS_NAME_SPECIAL_HTML = 160,
  IDS_NAME_CONFIG_FILE = 161,
};
