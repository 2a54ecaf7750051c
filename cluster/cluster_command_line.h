#ifndef QUOTELOOM_CLUSTER_CLUSTER_COMMAND_LINE_H
#define QUOTELOOM_CLUSTER_CLUSTER_COMMAND_LINE_H

namespace CLI {
class App;
}

// The command-line convention of the publisher and the archive: --help and --version on standard
// output with exit 0, every bad command line on standard error with the reason and exit 2. Called
// by the main thread once the options are added.
//
// Returns -1 when the program goes on, otherwise the exit code.
int ParseClusterCommandLine(CLI::App& app, int argc, char** argv);

// Exit code of a command line or setting the program refuses.
inline constexpr int kExitUsage = 2;

#endif
