#ifndef QUOTELOOM_TOOLS_DATA_DAY_CLOSE_COMMAND_H
#define QUOTELOOM_TOOLS_DATA_DAY_CLOSE_COMMAND_H

#include <filesystem>

#include "core/retention_settings.h"

namespace CLI {
class App;
}

// quoteloom-data close-days: packs the finished days of a folder no program writes any more (an
// archive's or a retired collector's) and applies the retention, as a collector does for its own
// folder. Main thread.
struct DayCloseCommand {
  RetentionSettings retention;  // from the options; else the folder's setting.ini [Retention]
  int settleMinutes = 10;       // a day's files unchanged this long count as finished
};

// Adds the subcommand and its options to `app`.
CLI::App* AddDayCloseCommand(CLI::App& app, DayCloseCommand* command);

// Holds the folder for the pass, so no collector or archive starts in it meanwhile; a folder that
// one of them holds is left to it. 0 when every step worked or the folder is held, 2 for a
// [Retention] value it cannot use, 3 when a pack or a deletion failed.
int RunDayCloseCommand(const std::filesystem::path& workdir, const DayCloseCommand& command);

#endif
