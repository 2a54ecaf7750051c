#ifndef QUOTELOOM_CORE_CONF_FILE_USER_STORE_H
#define QUOTELOOM_CORE_CONF_FILE_USER_STORE_H

#include <string>

#include "core/user_store.h"

// The per-user store kept in the same INI file that the desktop program's QSettings uses
// ($XDG_CONFIG_HOME/Vantrelo Quoteloom/Quoteloom.conf), without Qt. Other sections are kept as they are.
// One thread at a time.
class ConfFileUserStore : public UserStore {
 public:
  explicit ConfFileUserStore(std::string path = DefaultPath());

  static std::string DefaultPath();

  std::string Read(std::string_view name) override;
  bool Write(std::string_view name, std::string_view value) override;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif
