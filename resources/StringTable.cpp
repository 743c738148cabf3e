#include "platform/StringTable.h"

#include "platform/Translation.h"

namespace {
struct Entry {
  int id;
  const char* text;
};

const Entry kStrings[] = {
    {102, N_("Restarting the wireless module")},
    {103, N_("Download successfully")},
    {105, N_("Accessing the offline mode")},
    {106, N_("Switching to the downloading mode")},
    {107, N_("Backing up the NV")},
    {109, N_("Check the status of automatically restoring the NV")},
    {110, N_("Unlocking the wireless module")},
    {111, N_("Erasing the NVRAM of the router module")},
    {112, N_("Waiting for the upgrade of the router module")},
    {113, N_("Preparing for the upgrade of the wireless module")},
    {114, N_("Downloading the firmware of the wireless module")},
    {115, N_("Downloading the dashboard of the wireless module")},
    {116, N_("Transmitting the upgrade data of the router module")},
    {119, N_("Creating the TCP connection failed")},
    {120, N_("Failed to send the command of starting the upgrade")},
    {121, N_("Failed to transmit upgrading data of router module")},
    {122, N_("Upgrading result of the router module is fail")},
    {123, N_("Returning the upgrading result of the router module timed out")},
    {124, N_("Handshake failed")},
    {125, N_("Backing up the NV file failed")},
    {126, N_("Failed to check the version after the upgrade.")},
    {127, N_("Switching to the downloading mode failed")},
    {128, N_("Unlocking the wireless module failed")},
    {129, N_("Download failed")},
    {130, N_("Restarting the wireless module failed")},
    {131, N_("Restarting the wireless module timed out")},
    {132, N_("Failed to check the status of automatically restoring the NV")},
    {134, N_("Two or more .bin files with the same type exist")},
    {135, N_("No valid .bin file is found in the current directory")},
    {136, N_("Help.chm is not exist in the current directory!")},
    {137, N_("No router is detected")},
    {138, N_("The version of the WinSock error!\n\nExpected: 2.2. Actual: %d.%d\n")},
    {139, N_("&Upgrade")},
    {140, N_("The upgrade is in process. Please wait!")},
    {141, N_("Type")},
    {143, N_("Current Version")},
    {144, N_("Upgrade Version")},
    {145, N_("Status")},
    {146, N_("%")},
    {147, N_("BOOT of router module")},
    {148, N_("APP of router module")},
    {149, N_("Customization of router module")},
    {150, N_("Firmware of wireless module")},
    {151, N_("Dashboard of wireless module")},
    {153, N_("Version does not match")},
    {155, N_("Waiting for the upgrade")},
    {156, N_("Are you sure?")},
    {157, N_("&Check")},
    {158, N_("Not found")},
    {159, N_("Common Html Resource of router module")},
    {160, N_("Special Html Code of router module")},
    {161, N_("Configuration File of router module")},
};

const char* FindEnglish(int id) {
  for (const Entry& e : kStrings) {
    if (e.id == id) return e.text;
  }
  return nullptr;
}
}  // namespace

bool LoadStringById(int id, std::string& text) {
  const char* english = FindEnglish(id);
  text = english != nullptr ? Tr(english) : std::string();
  return english != nullptr;
}

std::string LoadStringById(int id) {
  std::string text;
  LoadStringById(id, text);
  return text;
}

std::string LoadEnglishStringById(int id) {
  const char* english = FindEnglish(id);
  return english != nullptr ? std::string(english) : std::string();
}

std::vector<int> StringTableIds() {
  std::vector<int> ids;
  for (const Entry& e : kStrings) ids.push_back(e.id);
  return ids;
}
