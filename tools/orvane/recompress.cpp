// orvane recompress: every section rewritten with another codec.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace orvane_tool {

namespace {

struct RecompressOptions {
    std::string in, out, codec, level = "default";
    bool ignoreCrc = false;
};

int Recompress(const RecompressOptions& o) {
    int32_t compression = OrvaneNoCompression;
    if (o.codec == "pelma0") compression = OrvanePelma0Compression;
    if (o.codec == "pelma1") compression = OrvanePelma1Compression;
    Progress progress("recompress");
    progress.Step("compressing");
    const int32_t mapping[3] = {compression, compression, compression};
    const int status = WriteContent(
        "recompress", o.in, o.out, true, o.ignoreCrc,
        [&](const char* out) {
            return OrvaneRecompressFileAtLevel(o.in.c_str(), out, 3, mapping, LevelOf(o.level));
        },
        "cannot be recompressed");
    if (status == 0) Say("%s -> %s (%s)", o.in.c_str(), o.out.c_str(), o.codec.c_str());
    return status;
}

}  // namespace

Command AddRecompressCommand(CLI::App& tool) {
    auto options = std::make_shared<RecompressOptions>();
    CLI::App* app = tool.add_subcommand(
        "recompress",
        "Rewrites every section of a content file with the given codec, keeping its byte order. "
        "OUT may be IN: the file is rewritten in place, whole or not at all.");
    app->add_option("IN", options->in, "the content file to read")->required();
    app->add_option("OUT", options->out, "the file to write (may be IN)")->required();
    app->add_option("--codec", options->codec, "the codec of every section")
        ->required()
        ->check(CLI::IsMember({"none", "pelma0", "pelma1"}));
    app->add_option("--level", options->level, "how hard the codec compresses")
        ->capture_default_str()
        ->check(CLI::IsMember(kLevelNames));
    app->add_flag("--ignore-crc", options->ignoreCrc,
                  "rewrite a file whose CRC does not match its contents (a damaged file)");
    return {app, [options] { return Recompress(*options); }};
}

}  // namespace orvane_tool
