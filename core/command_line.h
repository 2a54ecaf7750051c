#ifndef QUOTELOOM_CORE_COMMAND_LINE_H
#define QUOTELOOM_CORE_COMMAND_LINE_H

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

// The exit codes every program shares; a program may add codes of its own from 3 on.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the program could not do its work
inline constexpr int kExitUsage = 2;    // the command line (or a setting it names) is refused

// What the help's "Exit status:" line says of each code.
struct ExitMeanings {
  std::string success = "done";
  std::string failure{};
  std::string usage = "bad command line";
  std::string more{};  // the program's own codes, "3 ...", or empty
};

// The command line of one program, the same for every Quoteloom program: --help and --version on
// standard output with exit 0 ("PROGRAM VERSION" on one line), a refused command line as
// "PROGRAM: MESSAGE" and "Try 'PROGRAM --help'" on standard error with exit 2. Main thread only,
// before the program starts anything else.
class CommandLine {
 public:
  enum class Outcome { kRun, kHelp, kVersion, kUsageError };

  CommandLine(std::string program, std::string description);
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // Where the program adds its options, positionals and subcommands.
  CLI::App& app() { return app_; }
  const std::string& program() const { return program_; }

  // Text shown after the version in parentheses, such as the API a program was built against.
  void SetVersionDetail(std::string detail) { versionDetail_ = std::move(detail); }
  // The exit codes' meanings and an optional note before them, as the help's last lines.
  void SetFooter(const ExitMeanings& exits, const std::string& note = "");

  // Parses without printing anything; a usage error's reason is then in message().
  Outcome Parse(int argc, const char* const argv[]);
  const std::string& message() const { return message_; }

  // Answers an outcome of Parse: nullopt when the program runs, otherwise its exit code after
  // printing the help or the version (0) or the usage error (2).
  std::optional<int> Answer(Outcome outcome) const;
  // Parse, then Answer.
  std::optional<int> Handle(int argc, const char* const argv[]) { return Answer(Parse(argc, argv)); }

  // Prints the usage error for a check made after parsing; returns kExitUsage.
  int UsageError(const std::string& message) const;

  std::string HelpText() const { return app_.help(); }
  std::string VersionText() const;

 private:
  std::string program_;
  std::string versionDetail_;
  std::string message_;
  CLI::App app_;
};

#endif
