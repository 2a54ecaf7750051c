#include "shell/settings_user_store.h"

#include "core/conf_file_user_store.h"

QSettingsUserStore::QSettingsUserStore(const QString& section, const QString& path)
    : settings_(path, QSettings::IniFormat), section_(section) {}

QString QSettingsUserStore::DefaultPath() {
  return QString::fromStdString(ConfFileUserStore::DefaultPath());
}

QString QSettingsUserStore::StoredKey(std::string_view name) {
  const QString wanted = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  settings_.beginGroup(section_);
  const QStringList keys = settings_.childKeys();
  settings_.endGroup();
  for (const QString& key : keys) {
    if (key.compare(wanted, Qt::CaseInsensitive) == 0) return key;
  }
  return wanted;
}

std::string QSettingsUserStore::Read(std::string_view name) {
  settings_.sync();  // another process may have changed the file
  const QString key = section_ + QLatin1Char('/') + StoredKey(name);
  return settings_.value(key).toString().toStdString();
}

bool QSettingsUserStore::Write(std::string_view name, std::string_view value) {
  const QString key = section_ + QLatin1Char('/') + StoredKey(name);
  settings_.setValue(key, QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
  settings_.sync();
  return settings_.status() == QSettings::NoError;
}

int QSettingsUserStore::ReadInt(std::string_view name, int fallback) {
  bool ok = false;
  const int value = QString::fromStdString(Read(name)).toInt(&ok);
  return ok ? value : fallback;
}

bool QSettingsUserStore::WriteInt(std::string_view name, int value) {
  return Write(name, std::to_string(value));
}
