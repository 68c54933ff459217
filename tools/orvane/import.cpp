// orvane import: the importer's command (import_command.cpp) reads its own
// arguments, so here it is one subcommand whose arguments, --help among them,
// pass through unread.
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tool.h"

int RunImportCommand(int argc, char** argv);

namespace orvane_tool {

Command AddImportCommand(CLI::App& tool) {
    CLI::App* app =
        tool.add_subcommand("import",
                            "Imports an art-tool scene (glTF, FBX, COLLADA, .X, BVH ...) "
                            "into a content file; "
                            "'orvane import --help' lists its options.");
    app->prefix_command();
    app->allow_extras();
    app->set_help_flag();
    return {app, [app] {
                std::vector<std::string> arguments = app->remaining();
                std::vector<char*> argv;
                for (std::string& a : arguments)
                    argv.push_back(a.data());
                argv.push_back(nullptr);
                return RunImportCommand(int(arguments.size()), argv.data());
            }};
}

}  // namespace orvane_tool
