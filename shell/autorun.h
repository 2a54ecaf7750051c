#ifndef QUOTELOOM_SHELL_AUTORUN_H
#define QUOTELOOM_SHELL_AUTORUN_H

#include <functional>
#include <string>

#include "core/user_store.h"

// Start with the user's session: an XDG autostart entry whose Exec is the running executable.
// Used from the user-interface thread (or the headless program's main thread).
class Autorun {
 public:
  using MessageFn = std::function<void(const std::string& text)>;

  static constexpr const char* kEntryName = "StartAutoRun.desktop";
  static constexpr const char* kOpenFailedText = "打开注册表项失败";
  static constexpr const char* kWriteFailedText = "写注册表失败";

  // `autostartDir` defaults to $XDG_CONFIG_HOME/autostart, `executable` to the running program.
  Autorun(UserStore& store, MessageFn message, std::string autostartDir = DefaultAutostartDir(),
          std::string executable = RunningExecutable());

  static std::string DefaultAutostartDir();
  static std::string RunningExecutable();

  // Stores "1" in `state` and the store, then writes the entry; failures go to the message function.
  void SwitchOn(std::string* state);
  // Stores "0" and removes the entry; a missing entry is no error and nothing is shown.
  void SwitchOff(std::string* state);

  std::string EntryPath() const;
  // The desktop entry for `executable`, with Exec quoted and escaped as the entry format requires.
  static std::string EntryText(const std::string& executable);

 private:
  UserStore& store_;
  MessageFn message_;
  std::string autostartDir_;
  std::string executable_;
};

#endif
