// orvane raw: the file info written as a flat raw memory image.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace orvane_tool {

Command AddRawCommand(CLI::App& tool) {
    auto paths = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* app = tool.add_subcommand(
        "raw", "Writes a content file's info as a flat raw memory image, one section.");
    app->add_option("IN", paths->first, "the content file to read")->required();
    app->add_option("OUT", paths->second, "the file to write")->required();
    return {app, [paths] {
                const char* in = paths->first.c_str();
                const char* out = paths->second.c_str();
                if (!OrvaneConvertFileToRaw(in, out))
                    return Fail("%s: cannot be written as a raw image", in);
                std::printf("%s -> %s (raw image)\n", in, out);
                return 0;
            }};
}

}  // namespace orvane_tool
