// The orvane command-line tool: inspects, verifies and rewrites content files, and builds an
// example file from code. Each command is in a file of its own (see tool.h); this file holds
// the command line as a whole: the command list, help, and how failures end the tool.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace {

using orvane_tool::Command;

// The commands in the order --help lists them.
using AddCommand = Command (*)(CLI::App&);
const AddCommand kCommands[] = {
    orvane_tool::AddInfoCommand,       orvane_tool::AddVerifyCommand,
    orvane_tool::AddRecompressCommand, orvane_tool::AddConvertCommand,
    orvane_tool::AddRawCommand,        orvane_tool::AddDemoCommand,
    orvane_tool::AddPlayCommand,       orvane_tool::AddBenchCommand,
    orvane_tool::AddRenderCommand,     orvane_tool::AddVersionCommand,
#ifdef ORVANE_TOOL_IMPORT
    orvane_tool::AddImportCommand,
#endif
};

// The subcommand the command line chose, if it got that far.
const CLI::App* Chosen(const CLI::App& tool) {
    for (const CLI::App* sub : tool.get_subcommands())
        if (sub->get_name() != "help") return sub;
    return nullptr;
}

int Run(int argc, char** argv) {
    CLI::App tool("Inspects, verifies and rewrites Orvane content files.", "orvane");
    auto formatter = std::make_shared<CLI::Formatter>();
    formatter->label("Usage", "usage");
    formatter->column_width(24);
    tool.formatter(formatter);
    tool.set_version_flag("--version", OrvaneGetVersionString(), "print the library's version");
    tool.set_help_flag("-h,--help", "print this help (every command has its own)");
    tool.require_subcommand(1);
    tool.footer(
        "Run 'orvane COMMAND --help' for a command's arguments. Failures are reported on "
        "stderr with exit status 1.");

    std::vector<Command> commands;
    for (AddCommand add : kCommands)
        commands.push_back(add(tool));
    for (Command& command : commands)
        command.app->set_help_flag("-h,--help", "print this help");
    CLI::App* help = tool.add_subcommand("help", "Prints this help.");

    try {
        tool.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return tool.exit(error);  // --help, --version
        const CLI::App* chosen = Chosen(tool);
        const std::string name = chosen ? "orvane " + chosen->get_name() : "orvane";
        std::fprintf(stderr, "%s: %s\n", name.c_str(), error.what());
        std::fprintf(stderr, "%s", formatter->make_usage(chosen ? chosen : &tool, name).c_str());
        std::fprintf(stderr, "Run '%s --help' for more.\n", name.c_str());
        return 1;
    }
    if (help->parsed()) {
        std::printf("%s",
                    formatter->make_help(&tool, "orvane", CLI::AppFormatMode::Normal).c_str());
        return 0;
    }
    for (const Command& command : commands)
        if (command.app->parsed()) return command.run();
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!OrvaneVersionsMatch()) return 1;
    orvane_log_callback callback = {orvane_tool::PrintLibraryMessage, nullptr};
    OrvaneSetLogCallback(&callback);
    const int status = Run(argc, argv);
    OrvaneSetLogCallback(nullptr);
    return status;
}
