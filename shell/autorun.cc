#include "shell/autorun.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "core/open_regular_file.h"

Autorun::Autorun(UserStore& store, MessageFn message, std::string autostartDir, std::string executable)
    : store_(store),
      message_(std::move(message)),
      autostartDir_(std::move(autostartDir)),
      executable_(std::move(executable)) {}

std::string Autorun::DefaultAutostartDir() { return XdgConfigPath("autostart"); }

std::string Autorun::RunningExecutable() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

std::string Autorun::EntryPath() const { return autostartDir_ + "/" + kEntryName; }

std::string Autorun::EntryText(const std::string& executable) {
  // Exec quoting: ", `, $ and \ get a backslash inside the quotes; then the string-value escape
  // doubles every backslash, and % is doubled for the field-code rule.
  std::string quoted = "\"";
  for (char c : executable) {
    if (c == '"' || c == '`' || c == '$') {
      quoted += "\\\\";
      quoted += c;
    } else if (c == '\\') {
      quoted += "\\\\\\\\";
    } else if (c == '%') {
      quoted += "%%";
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Quoteloom\n"
         "Comment=Collects the tick data of the Chinese futures market\n"
         "Exec=" + quoted + "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

void Autorun::SwitchOn(std::string* state) {
  *state = "1";
  store_.Write(kAutorunStateName, "1");

  std::error_code ec;
  std::filesystem::create_directories(autostartDir_, ec);
  if (ec || !std::filesystem::is_directory(autostartDir_, ec)) {
    if (message_) message_(kOpenFailedText);
    return;
  }
  const std::string temp = EntryPath() + ".tmp";
  std::string error;
  bool ok = WriteRegularFile(temp.c_str(), EntryText(executable_), false, &error);
  if (ok) {
    std::filesystem::rename(temp, EntryPath(), ec);
    ok = !ec;
  }
  if (!ok) {
    std::filesystem::remove(temp, ec);
    if (message_) message_(kWriteFailedText);
  }
}

void Autorun::SwitchOff(std::string* state) {
  *state = "0";
  store_.Write(kAutorunStateName, "0");
  std::error_code ec;
  std::filesystem::remove(EntryPath(), ec);
}
