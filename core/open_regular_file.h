#ifndef QUOTELOOM_CORE_OPEN_REGULAR_FILE_H
#define QUOTELOOM_CORE_OPEN_REGULAR_FILE_H

#include <fcntl.h>

#include <cstdio>
#include <string>
#include <string_view>

// The one way every program opens a file inside a folder it owns: without following a symbolic
// link and without waiting (a named pipe without a peer never blocks the open), then fstat, and
// only a regular file is kept. Any thread.

// The error of an open that found a named pipe, a device or a socket under the name.
inline constexpr int kNotARegularFile = -1;

// Opens `path` with `flags` (O_RDONLY, O_WRONLY | O_APPEND | O_CREAT, ...; O_NOFOLLOW, O_NONBLOCK
// and O_CLOEXEC are added) and returns the descriptor in blocking mode again, or -1 with the errno
// (or kNotARegularFile) in `*error`. A symbolic link gives ELOOP.
int OpenRegularFile(const char* path, int flags, int mode, int* error);

// The error as a text: the system's message, or "not a regular file".
std::string OpenErrorText(int error);

// OpenRegularFile as a stdio stream with `mode` ("r", "a", "w"...); null with the error in `*error`.
std::FILE* OpenRegularStream(const char* path, int flags, const char* mode, int* error);

// Writes `text` whole into `path` (created 0644; truncated, or appended to with `append`); false
// with "PATH: reason" in `*error`.
bool WriteRegularFile(const char* path, std::string_view text, bool append, std::string* error);

#endif
