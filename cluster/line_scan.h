#ifndef QUOTELOOM_CLUSTER_LINE_SCAN_H
#define QUOTELOOM_CLUSTER_LINE_SCAN_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Both open the file `relative` below the working folder `root` without following a link on the way.

// Reads a file in large chunks and calls `onLine` with every line ended by LF (the LF included),
// in order. `wholeBytes` receives the length up to the last LF, `fileBytes` the file's length; a
// missing file counts as empty. False with a message when the file cannot be read. Any thread.
bool ScanLines(const std::string& root, const std::string& relative,
               const std::function<void(std::string_view)>& onLine, std::uint64_t* wholeBytes,
               std::uint64_t* fileBytes, std::string* error);

// Cuts a partial last line (bytes after the last LF) from the file. False with a message on failure.
bool CutPartialTail(const std::string& root, const std::string& relative, std::uint64_t wholeBytes,
                    std::string* error);

#endif
