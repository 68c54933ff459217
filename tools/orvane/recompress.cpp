// orvane recompress: every section rewritten with another codec.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace orvane_tool {

namespace {

struct RecompressOptions {
    std::string in, out, codec, level = "default";
};

int Recompress(const RecompressOptions& o) {
    int32_t compression = OrvaneNoCompression;
    if (o.codec == "pelma0") compression = OrvanePelma0Compression;
    if (o.codec == "pelma1") compression = OrvanePelma1Compression;
    Progress progress("recompress");
    progress.Step("compressing");
    const int32_t mapping[3] = {compression, compression, compression};
    if (!OrvaneRecompressFileAtLevel(o.in.c_str(), o.out.c_str(), 3, mapping, LevelOf(o.level)))
        return Fail("%s: cannot be recompressed", o.in.c_str());
    std::printf("%s -> %s (%s)\n", o.in.c_str(), o.out.c_str(), o.codec.c_str());
    return 0;
}

}  // namespace

Command AddRecompressCommand(CLI::App& tool) {
    auto options = std::make_shared<RecompressOptions>();
    CLI::App* app = tool.add_subcommand(
        "recompress",
        "Rewrites every section of a content file with the given codec, keeping its byte order.");
    app->add_option("IN", options->in, "the content file to read")->required();
    app->add_option("OUT", options->out, "the file to write")->required();
    app->add_option("--codec", options->codec, "the codec of every section")
        ->required()
        ->check(CLI::IsMember({"none", "pelma0", "pelma1"}));
    app->add_option("--level", options->level, "how hard the codec compresses")
        ->capture_default_str()
        ->check(CLI::IsMember(kLevelNames));
    return {app, [options] { return Recompress(*options); }};
}

}  // namespace orvane_tool
