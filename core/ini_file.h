#ifndef QUOTELOOM_CORE_INI_FILE_H
#define QUOTELOOM_CORE_INI_FILE_H

#include <cstddef>
#include <map>
#include <string>

// Reads an INI file by the rules of Windows private-profile files: section and key names compared
// without case, the first of duplicate keys wins, surrounding blanks and one pair of quotes dropped.
// The file is read once, at construction. Used by one thread at a time.
class CIniFile {
 public:
  static constexpr std::size_t kMaxPathLength = 499;

  explicit CIniFile(const char* path);

  // The key's leading decimal digits (0 when there are none), or `defaultValue` when the key is missing.
  int ReadInt(const char* section, const char* key, int defaultValue) const;
  // Copies the value (or `defaultValue`) into `out`, cut to size - 1 characters and terminated.
  void ReadString(const char* section, const char* key, const char* defaultValue, char* out,
                  std::size_t size) const;

  const std::string& path() const { return path_; }
  bool loaded() const { return loaded_; }

 private:
  const std::string* Find(const char* section, const char* key) const;

  std::string path_;
  bool loaded_ = false;
  // Lower-cased "section\nkey" to value.
  std::map<std::string, std::string> values_;
};

#endif
