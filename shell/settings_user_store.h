#ifndef QUOTELOOM_SHELL_SETTINGS_USER_STORE_H
#define QUOTELOOM_SHELL_SETTINGS_USER_STORE_H

#include <QSettings>
#include <QString>

#include "core/user_store.h"

// The per-user store through QSettings, one section of the INI file that ConfFileUserStore also
// reads. Value names are compared without case: an existing name in any case is the value.
// User-interface thread only.
class QSettingsUserStore : public UserStore {
 public:
  // `path` defaults to $XDG_CONFIG_HOME/Vantrelo Quoteloom/Quoteloom.conf.
  explicit QSettingsUserStore(const QString& section = QString::fromUtf8(kUserStoreSection),
                              const QString& path = DefaultPath());

  static QString DefaultPath();

  std::string Read(std::string_view name) override;
  bool Write(std::string_view name, std::string_view value) override;

  int ReadInt(std::string_view name, int fallback);
  bool WriteInt(std::string_view name, int value);

 private:
  // The stored key that names `name`, or `name` itself when none does.
  QString StoredKey(std::string_view name);

  QSettings settings_;
  QString section_;
};

#endif
