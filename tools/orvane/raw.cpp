// orvane raw: the file info written as a flat raw memory image.
#include <cstdio>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace orvane_tool {

namespace {

struct RawOptions {
    std::string in, out;
    bool ignoreCrc = false;
};

}  // namespace

Command AddRawCommand(CLI::App& tool) {
    auto options = std::make_shared<RawOptions>();
    CLI::App* app = tool.add_subcommand(
        "raw", "Writes a content file's info as a flat raw memory image, one section.");
    app->add_option("IN", options->in, "the content file to read")->required();
    app->add_option("OUT", options->out, "the file to write (not IN)")->required();
    app->add_flag("--ignore-crc", options->ignoreCrc,
                  "convert a file whose CRC does not match its contents (a damaged file)");
    return {app, [options] {
                const RawOptions& o = *options;
                const int status = WriteContent(
                    "raw", o.in, o.out, false, o.ignoreCrc,
                    [&](const char* out) { return OrvaneConvertFileToRaw(o.in.c_str(), out); },
                    "cannot be written as a raw image");
                if (status == 0) Say("%s -> %s (raw image)", o.in.c_str(), o.out.c_str());
                return status;
            }};
}

}  // namespace orvane_tool
