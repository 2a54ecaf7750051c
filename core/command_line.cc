#include "core/command_line.h"

#include <cstdio>

#include "core/build_version.h"

namespace {

// The reason for arguments nobody asked for, named by the first of them.
std::string ExtrasReason(const std::vector<std::string>& extras, const std::string& fallback) {
  for (const std::string& extra : extras) {
    if (extra == "--") continue;
    if (extra.size() > 1 && extra[0] == '-') return "unknown option " + extra.substr(0, extra.find('='));
    return "unexpected argument " + extra;
  }
  return fallback;
}

}  // namespace

CommandLine::CommandLine(std::string program, std::string description)
    : program_(std::move(program)), app_(std::move(description), program_) {
  app_.set_help_flag("-h,--help", "print this help and exit");
  app_.set_version_flag("--version", std::function<std::string()>([this] { return VersionText(); }),
                        "print the version and exit");
  app_.get_formatter()->column_width(32);
}

void CommandLine::SetFooter(const ExitMeanings& exits, const std::string& note) {
  std::string text = note.empty() ? "" : note + "\n";
  text += "Exit status: " + std::to_string(kExitSuccess) + " " + exits.success;
  if (!exits.failure.empty()) text += ", " + std::to_string(kExitFailure) + " " + exits.failure;
  text += ", " + std::to_string(kExitUsage) + " " + exits.usage;
  if (!exits.more.empty()) text += ", " + exits.more;
  app_.footer(text + ".");
}

std::string CommandLine::VersionText() const {
  std::string text = program_ + " " + QuoteloomVersion();
  if (!versionDetail_.empty()) text += " (" + versionDetail_ + ")";
  return text;
}

CommandLine::Outcome CommandLine::Parse(int argc, const char* const argv[]) {
  message_.clear();
  try {
    app_.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return Outcome::kHelp;
  } catch (const CLI::CallForAllHelp&) {
    return Outcome::kHelp;
  } catch (const CLI::CallForVersion&) {
    return Outcome::kVersion;
  } catch (const CLI::ExtrasError& e) {
    message_ = ExtrasReason(app_.remaining(true), e.what());
    return Outcome::kUsageError;
  } catch (const CLI::ParseError& e) {
    message_ = e.what();
    return Outcome::kUsageError;
  }
  return Outcome::kRun;
}

std::optional<int> CommandLine::Answer(Outcome outcome) const {
  switch (outcome) {
    case Outcome::kRun:
      return std::nullopt;
    case Outcome::kHelp:
      std::fputs(HelpText().c_str(), stdout);
      return kExitSuccess;
    case Outcome::kVersion:
      std::printf("%s\n", VersionText().c_str());
      return kExitSuccess;
    case Outcome::kUsageError:
      break;
  }
  return UsageError(message_);
}

int CommandLine::UsageError(const std::string& message) const {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'\n", program_.c_str(), message.c_str(), program_.c_str());
  return kExitUsage;
}
