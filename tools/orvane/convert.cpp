// orvane convert: the file rewritten in a given byte order.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace orvane_tool {

namespace {

struct ConvertOptions {
    std::string in, out, order;
};

int Convert(const ConvertOptions& o) {
    const orvane_file_byte_order byteOrder =
        o.order == "big" ? OrvaneBigEndianByteOrder : OrvaneLittleEndianByteOrder;
    if (!OrvaneConvertFileByteOrder(o.in.c_str(), o.out.c_str(), byteOrder))
        return Fail("%s: cannot be converted", o.in.c_str());
    std::printf("%s -> %s (%s-endian)\n", o.in.c_str(), o.out.c_str(), o.order.c_str());
    return 0;
}

}  // namespace

Command AddConvertCommand(CLI::App& tool) {
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* app = tool.add_subcommand(
        "convert", "Rewrites a content file in the given byte order, keeping its codecs.");
    app->add_option("IN", options->in, "the content file to read")->required();
    app->add_option("OUT", options->out, "the file to write")->required();
    app->add_option("--byte-order", options->order, "the byte order of the written file")
        ->required()
        ->check(CLI::IsMember({"little", "big"}));
    return {app, [options] { return Convert(*options); }};
}

}  // namespace orvane_tool
