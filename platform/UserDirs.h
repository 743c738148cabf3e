#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>

// The tool's per-user directories (platform/posix/UserDirs.cpp, platform/win32/UserDirs.cpp).
//
// The log must survive a reboot and the help file must not be open to other users. A shared /tmp
// gives neither: another user can plant a symbolic link in it, and it is often emptied at boot. So:
//  - the state directory ($XDG_STATE_HOME, default ~/.local/state, then "qor-oneclick") holds the log;
//  - the private temporary directory ($XDG_RUNTIME_DIR when set, else the system temp directory,
//    then "qor-oneclick-<uid>") holds the help file.
// Each is created with mode 0700 when missing, and refused when it is a symbolic link, not a
// directory, or owned by another user.
//
// On Windows both are under %LOCALAPPDATA%\QorOneClick (the temporary one in its "Temp" folder),
// created with an access list that admits the owner alone; a folder that is a link (a reparse point)
// or owned by another account is refused. Files are opened without sharing: while the tool holds
// one, no other program can open it (which is also the log's lock).

// Returns false (and a reason in *error when given) when the directory cannot be had safely.
bool GetStateDirectory(std::string& path, std::string* error = nullptr);
bool GetPrivateTempDirectory(std::string& path, std::string* error = nullptr);

// Creates dir (mode 0700) if missing, then checks it: a real directory (not a link), owned by the
// effective user. The parent directories of dir are created as needed with mode 0700.
bool EnsurePrivateDirectory(const std::string& dir, std::string* error = nullptr);

// Opens dir/name without following a symbolic link in its last component (O_NOFOLLOW | O_CLOEXEC
// added to flags) and checks what it opened: a regular file, owned by the effective user, with one
// link. The folder itself must not be a link either, unless followFolderLink (a folder the user
// named, which may well be reached through one). Returns the descriptor, or -1 with errno set when
// the open fails (ELOOP: the name is a link) or the check refuses it (EINVAL not a regular file,
// EPERM another owner, EMLINK more than one link).
// On Windows a file that another program holds open fails with EWOULDBLOCK.
int OpenPrivateFile(const std::string& dir, const std::string& name, int flags, mode_t mode,
                    bool followFolderLink = false);

// Takes the exclusive lock of a file opened by OpenPrivateFile without waiting: true when held (on
// Windows the file's own share mode is the lock, held since the open). false with errno
// EWOULDBLOCK when another program holds it.
bool TryLockFile(int fd);
// Writes the file's data through to the disk.
bool SyncFileData(int fd);
// Cuts the file back to size bytes.
bool TruncateFile(int fd, int64_t size);
// Opens a file to read its bytes as they are (binary on Windows, where the C library would
// otherwise turn CR LF into LF); the descriptor is not inherited by child processes. -1 with errno.
int OpenFileToRead(const std::string& path);
// The local time of when; false when the system cannot tell it.
bool LocalTimeOf(time_t when, tm* out);
