#include "cluster/cluster_command_line.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "core/build_version.h"

int ParseClusterCommandLine(CLI::App& app, int argc, char** argv) {
  app.set_version_flag("--version", std::string(app.get_name()) + " " + QuoteloomVersion());
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", app.get_name().c_str(), e.what(), app.get_name().c_str());
    return kExitUsage;
  }
  return -1;
}
