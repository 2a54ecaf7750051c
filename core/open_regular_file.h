#ifndef QUOTELOOM_CORE_OPEN_REGULAR_FILE_H
#define QUOTELOOM_CORE_OPEN_REGULAR_FILE_H

#include <fcntl.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// The one way every program opens a file inside a folder it owns: without following a symbolic
// link and without waiting (a named pipe without a peer never blocks the open), then fstat, and
// only a regular file is kept. Any thread.
//
// Below a working folder every folder on the way is opened the same way, one component at a time
// from the working folder's descriptor, so a link planted as Data/<day> or Journal never leads
// outside. The working folder itself may be a link: where it lives is the operator's choice.

// The error of an open that found a named pipe, a device or a socket under the name.
inline constexpr int kNotARegularFile = -1;

// Opens `path` with `flags` (O_RDONLY, O_WRONLY | O_APPEND | O_CREAT, ...; O_NOFOLLOW, O_NONBLOCK
// and O_CLOEXEC are added) and returns the descriptor in blocking mode again, or -1 with the errno
// (or kNotARegularFile) in `*error`. A symbolic link gives ELOOP.
int OpenRegularFile(const char* path, int flags, int mode, int* error);

// The working folder `root` as a descriptor for the calls below, a link to a folder followed; an
// empty root is the current folder (AT_FDCWD, nothing to close). -1 with the errno in `*error`.
int OpenWorkingFolder(const std::string& root, int* error);
// Closes what OpenWorkingFolder opened (AT_FDCWD is left alone).
void CloseWorkingFolder(int rootFd);

// Opens the folder `relative` ("Data/20240301") below the folder `rootFd` (or AT_FDCWD) one component
// at a time, never following a link; with `create` a missing folder is made (0755) on the way.
// -1 with the errno in `*error`: ELOOP for a link, ENOTDIR for anything else that is not a folder.
int OpenFolderBelow(int rootFd, std::string_view relative, bool create, int* error);

// OpenRegularFile of `relative` below the folder `rootFd`: its folders as OpenFolderBelow opens them
// (none is made), then the file.
int OpenRegularFileBelow(int rootFd, std::string_view relative, int flags, int mode, int* error);
// The same below the working folder `root` (empty: the current folder).
int OpenRegularFileBelow(const std::string& root, std::string_view relative, int flags, int mode, int* error);

// The error as a text: the system's message, or "not a regular file".
std::string OpenErrorText(int error);

// OpenRegularFile as a stdio stream with `mode` ("r", "a", "w"...); null with the error in `*error`.
std::FILE* OpenRegularStream(const char* path, int flags, const char* mode, int* error);

// Reads the whole of `path` (at most `maxBytes`) into `*text`; false with "PATH: reason" in `*error`.
bool ReadRegularFile(const char* path, std::size_t maxBytes, std::string* text, std::string* error);

// Writes `text` whole into `path` (created 0644; truncated, or appended to with `append`); false
// with "PATH: reason" in `*error`.
bool WriteRegularFile(const char* path, std::string_view text, bool append, std::string* error);

#endif
