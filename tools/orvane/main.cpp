// The orvane command-line tool: inspects, verifies and rewrites content files, and builds an
// example file from code. Each command is in a file of its own (see tool.h); this file holds
// the command line as a whole: the command list, help, and how failures end the tool.
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

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
    orvane_tool::AddRenderCommand,     orvane_tool::AddViewCommand,
    orvane_tool::AddVersionCommand,
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

// The first argument that is not an option: the command's name, when there is one.
const char* CommandName(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-') return argv[i];
    return nullptr;
}

// The command of that name, or null.
CLI::App* FindCommand(CLI::App& tool, const std::string& name) {
    for (CLI::App* sub : tool.get_subcommands({}))
        if (sub->get_name() == name) return sub;
    return nullptr;
}

std::string CommandList(const CLI::App& tool) {
    std::string names;
    for (const CLI::App* sub : tool.get_subcommands({}))
        names += (names.empty() ? "" : ", ") + sub->get_name();
    return names;
}

int Run(int argc, char** argv) {
    CLI::App tool("Inspects, verifies and rewrites Orvane content files.", "orvane");
    auto formatter = std::make_shared<CLI::Formatter>();
    formatter->label("Usage", "usage");
    formatter->column_width(24);
    tool.formatter(formatter);
    // Every option's default shows in --help.
    tool.option_defaults()->always_capture_default();
    tool.set_version_flag("--version", OrvaneGetVersionString(), "print the library's version");
    tool.set_help_flag("-h,--help", "print this help (every command has its own)");
    bool quiet = false, verbose = false;
    tool.add_flag("-q,--quiet", quiet,
                  "print nothing but errors (before or after COMMAND; wins over --verbose)");
    tool.add_flag("-v,--verbose", verbose,
                  "also print the library's own log lines, with their source module and line");
    tool.require_subcommand(1);
    tool.footer(
        "Run 'orvane COMMAND --help' or 'orvane help COMMAND' for a command's arguments. "
        "Failures are reported on stderr with exit status 1.");

    std::vector<Command> commands;
    for (AddCommand add : kCommands)
        commands.push_back(add(tool));
    for (Command& command : commands) {
        command.app->set_help_flag("-h,--help", "print this help");
        command.app->fallthrough();  // --quiet and --verbose after the command too
    }
    CLI::App* help = tool.add_subcommand("help", "Prints this help, or a command's: help COMMAND.");
    std::string helpTopic;
    help->add_option("COMMAND", helpTopic, "the command to describe");

    const char* name = CommandName(argc, argv);
    if (name && !FindCommand(tool, name)) {
        std::fprintf(stderr, "orvane: unknown command '%s'; the commands are: %s\n", name,
                     CommandList(tool).c_str());
        std::fprintf(stderr, "Run 'orvane --help' for more.\n");
        return 1;
    }
    try {
        tool.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return tool.exit(error);  // --help, --version
        const CLI::App* chosen = Chosen(tool);
        const std::string usage = chosen ? "orvane " + chosen->get_name() : "orvane";
        std::fprintf(stderr, "%s: %s\n", usage.c_str(), error.what());
        std::fprintf(stderr, "%s", formatter->make_usage(chosen ? chosen : &tool, usage).c_str());
        std::fprintf(stderr, "Run '%s --help' for more.\n", usage.c_str());
        return 1;
    }
    orvane_tool::SetVerbosity(quiet     ? orvane_tool::Verbosity::Quiet
                              : verbose ? orvane_tool::Verbosity::Verbose
                                        : orvane_tool::Verbosity::Normal);
    if (quiet) {
        // Nothing but errors: what the commands print on stdout goes nowhere.
        std::fflush(stdout);
        const int nowhere = open("/dev/null", O_WRONLY);
        if (nowhere >= 0) {
            dup2(nowhere, 1);
            close(nowhere);
        }
    }
    if (help->parsed()) {
        if (helpTopic.empty()) {
            std::printf("%s",
                        formatter->make_help(&tool, "orvane", CLI::AppFormatMode::Normal).c_str());
            return 0;
        }
        const CLI::App* topic = FindCommand(tool, helpTopic);
        if (topic == nullptr || topic == help) {
            std::fprintf(stderr, "orvane help: unknown command '%s'; the commands are: %s\n",
                         helpTopic.c_str(), CommandList(tool).c_str());
            return 1;
        }
        std::printf(
            "%s",
            formatter->make_help(topic, "orvane " + helpTopic, CLI::AppFormatMode::Normal).c_str());
        return 0;
    }
    for (const Command& command : commands)
        if (command.app->parsed()) return command.run();
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!OrvaneVersionsMatch()) {
        int major = 0, minor = 0, customization = 0, build = 0;
        OrvaneGetVersion(&major, &minor, &customization, &build);
        std::fprintf(stderr,
                     "orvane: the Orvane library is version %d.%d.%d.%d; this tool was built "
                     "for %d.%d.%d.%d\n",
                     major, minor, customization, build, ORVANE_VERSION_MAJOR, ORVANE_VERSION_MINOR,
                     ORVANE_VERSION_CUSTOMIZATION, ORVANE_VERSION_BUILD);
        return 1;
    }
    orvane_log_callback callback = {orvane_tool::PrintLibraryMessage, nullptr};
    OrvaneSetLogCallback(&callback);
    int status = 1;
    // Nothing unexpected leaves the tool as an abort: one line and exit status 1.
    try {
        status = Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "orvane: out of memory\n");
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "orvane: unexpected failure: %s\n", error.what());
    } catch (...) {
        std::fflush(stdout);
        std::fprintf(stderr, "orvane: unexpected failure\n");
    }
    OrvaneSetLogCallback(nullptr);
    return status;
}
