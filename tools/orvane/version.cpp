// orvane version: the library's version.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace orvane_tool {

Command AddVersionCommand(CLI::App& tool) {
    CLI::App* app = tool.add_subcommand(
        "version", "Prints the library's version (major.minor.customization.build).");
    return {app, [] {
                std::printf("%s\n", OrvaneGetVersionString());
                return 0;
            }};
}

}  // namespace orvane_tool
