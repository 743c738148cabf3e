#include "upgrade/Advice.h"

#include "platform/StringTable.h"
#include "platform/Translation.h"

namespace {

// The router's answer to a discovery sent to a broadcast address comes back from the router's own
// address to this PC's port: a stateful firewall sees no request it belongs to and drops it unless
// a rule lets datagrams from the router's port in. The commands are named, never run.
constexpr const char* kNoAnswerAdvice =
    N_("The router may be off or still starting: wait until it has started, then press Check again. A "
       "firewall on this PC may drop the router's answer, which comes from UDP port %1; to let it in, run as "
       "administrator one of: nft add rule inet filter input udp sport %1 accept (nftables); ufw allow proto "
       "udp from any port %1 (ufw); firewall-cmd --add-source-port=%1/udp (firewalld).");

const std::vector<AdviceEntry> kTable = {
    {IDS_NO_VALID_IMAGE, "no-valid-image", "No valid .bin file is found in the current directory",
     N_("The warning's second line names the place that was searched. Put the upgrade images (file names "
        "ending in .bin) in one of the places listed under \"Where the images come from\", or drop their "
        "folder onto the list, and check that they were copied completely.")},
    {IDS_DUPLICATE_IMAGES, "duplicate-images", "Two or more .bin files with the same type exist",
     N_("Keep only one image per module in the folder.")},
    {IDS_NO_ROUTER, "no-router", "No router is detected",
     N_("Check the cable (LAN port), that the PC got an address from the router, that other network "
        "connections are off and that a firewall does not block the tool. Wait until the router has "
        "finished starting, then press Check again.")},
    {ADVICE_NO_INTERFACE, "no-interface-in-subnet",
     N_("No router is detected: no interface in the router's subnet"),
     N_("Connect the PC to the router's LAN port, or give it an address in %1")},
    {ADVICE_SEND_FAILED, "discovery-send-failed", N_("No router is detected: the search could not be sent"),
     N_("Check that the network connection is up and has a route to the router, and that no firewall rule "
        "refuses sending to UDP port %1.")},
    {ADVICE_NO_ANSWER, "no-answer", N_("No router is detected: no answer"), kNoAnswerAdvice},
    {IDS_TCP_CONNECT_FAILED, "link-not-opened", "Creating the TCP connection failed",
     N_("The router was found but did not accept the link. Restart the router, wait for it to start, and "
        "run Check again.")},
    {IDS_VERSION_MISMATCH, "version-mismatch", "Version does not match",
     N_("Use images made for this device's line.")},
    {ADVICE_IMAGE_CHANGED, "image-changed", N_("... changed since the Check: press Check again"),
     N_("An image file was replaced or rewritten after the Check, so nothing was sent. Press Check again "
        "to read and verify the new file, then Upgrade.")},
    {IDS_BEGIN_PACKET_FAILED, "begin-packet-failed", "Failed to send the command of starting the upgrade",
     N_("The connection broke. Check the cable, restart the router, run Check and Upgrade again.")},
    {IDS_ROUTER_TRANSFER_FAILED, "router-transfer-failed",
     "Failed to transmit upgrading data of router module",
     N_("The connection broke. Check the cable, restart the router, run Check and Upgrade again.")},
    {IDS_ROUTER_RESULT_FAIL, "router-result-fail", "Upgrading result of the router module is fail",
     N_("The router did not accept the image. Make sure the image is the right one, restart the router and "
        "try again.")},
    {IDS_ROUTER_RESULT_TIMEOUT, "router-result-timeout",
     "Returning the upgrading result of the router module timed out",
     N_("The router did not accept the image. Make sure the image is the right one, restart the router and "
        "try again.")},
    {IDS_HANDSHAKE_FAILED, "handshake-failed", "Handshake failed",
     N_("The wireless module did not answer at first. If the row still ends with a failure, restart the "
        "router and try again.")},
    {ADVICE_NVRAM_ERASE_FAILED, "nvram-erase-failed", "Skipped: the router's NVRAM could not be erased",
     N_("The router modules were written, but the router did not confirm that it erased its settings "
        "memory, so the wireless modules were not started. Restart the router, then run Check and Upgrade "
        "again.")},
    {IDS_NV_BACKUP_FAILED, "nv-backup-failed", "Backing up the NV file failed",
     N_("The module's settings could not be saved or restored. Do not switch the router off; run Check and "
        "Upgrade again. If it keeps failing, contact support with the log.")},
    {IDS_NV_RESTORE_CHECK_FAILED, "nv-restore-check-failed",
     "Failed to check the status of automatically restoring the NV",
     N_("The module's settings could not be saved or restored. Do not switch the router off; run Check and "
        "Upgrade again. If it keeps failing, contact support with the log.")},
    {IDS_SWITCH_FAILED, "switch-failed", "Switching to the downloading mode failed",
     N_("Run Check and Upgrade again. A module left in its download mode shows \"Can't read in force-load "
        "mode\" and can still be upgraded.")},
    {IDS_UNLOCK_FAILED, "unlock-failed", "Unlocking the wireless module failed",
     N_("Run Check and Upgrade again. A module left in its download mode shows \"Can't read in force-load "
        "mode\" and can still be upgraded.")},
    {IDS_DOWNLOAD_FAILED, "download-failed", "Download failed",
     N_("Run Check and Upgrade again. A module left in its download mode shows \"Can't read in force-load "
        "mode\" and can still be upgraded.")},
    {IDS_RESTART_FAILED, "restart-failed", "Restarting the wireless module failed",
     N_("Wait a minute, then run Check. If the module does not come back, restart the router and upgrade "
        "again.")},
    {IDS_RESTART_TIMEOUT, "restart-timeout", "Restarting the wireless module timed out",
     N_("Wait a minute, then run Check. If the module does not come back, restart the router and upgrade "
        "again.")},
    {IDS_VERSION_CHECK_FAILED, "version-check-failed", "Failed to check the version after the upgrade.",
     N_("Wait a minute, then run Check. If the module does not come back, restart the router and upgrade "
        "again.")},
    {IDS_HELP_MISSING, "help-missing", "Help.chm is not exist in the current directory!",
     N_("This guide could not be written to the temporary folder. Check the free disk space and the "
        "permissions of $XDG_RUNTIME_DIR (or of the system's temporary folder).")},
};

}  // namespace

const std::vector<AdviceEntry>& AdviceTable() { return kTable; }

const AdviceEntry* FindAdvice(int id) {
  for (const AdviceEntry& entry : kTable) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

std::string AdviceText(int id, const std::string& argument) {
  const AdviceEntry* entry = FindAdvice(id);
  return entry != nullptr ? FormatText(Tr(entry->advice), {argument}) : std::string();
}

std::string EnglishAdviceText(int id, const std::string& argument) {
  const AdviceEntry* entry = FindAdvice(id);
  return entry != nullptr ? FormatText(entry->advice, {argument}) : std::string();
}

std::string AdviceCode(int id) {
  const AdviceEntry* entry = FindAdvice(id);
  return entry != nullptr ? std::string(entry->code) : std::string();
}
