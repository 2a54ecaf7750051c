#ifndef QUOTELOOM_TESTS_SUPPORT_FRONT_SIMULATOR_H
#define QUOTELOOM_TESTS_SUPPORT_FRONT_SIMULATOR_H

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

// The account a test front accepts and its collector logs in with.
struct FrontAccount {
  std::string broker = "9999";
  std::string user = "u1";
  std::string password = "p1";
};

// Starts the front simulator `program` on a free loopback port for `account`, with `options` after
// that and its output in `outputPath`. Returns its address HOST:PORT, empty when it did not say so
// within `limit`; the process is in *simulator either way, so it is stopped with it.
inline std::string StartFrontSimulator(std::unique_ptr<ChildProcess>* simulator, const std::string& program,
                                       const std::vector<std::string>& options, const std::string& outputPath,
                                       const FrontAccount& account = {}, const std::vector<std::string>& env = {},
                                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  std::vector<std::string> argv = {program,  "--listen", "127.0.0.1:0",  "--broker",        account.broker,
                                   "--user", account.user, "--password", account.password};
  argv.insert(argv.end(), options.begin(), options.end());
  *simulator = std::make_unique<ChildProcess>(argv, outputPath, env);
  return WaitForListeningAddress(**simulator, limit);
}

// The front lines of setting.ini for one front at HOST:PORT.
inline std::string OneFront(const std::string& address) { return "servernum=1\r\naddress1=tcp://" + address; }

// A setting.ini that logs in with `account` to `fronts` (see OneFront), both stop-save windows off.
inline std::string SettingIniText(const std::string& fronts, const FrontAccount& account = {}) {
  return "[AccountInfo]\r\nbrokeid=" + account.broker + "\r\nusername=" + account.user +
         "\r\npassword=" + account.password + "\r\n" + fronts +
         "\r\nstopsavetimebegin1=0\r\nstopsavetimeend1=0\r\nstopsavetimebegin2=0\r\nstopsavetimeend2=0\r\n";
}

#endif
