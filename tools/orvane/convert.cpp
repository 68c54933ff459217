// orvane convert: the file rewritten in a given byte order.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace orvane_tool {

namespace {

struct ConvertOptions {
    std::string in, out, order;
    bool ignoreCrc = false;
};

int Convert(const ConvertOptions& o) {
    const orvane_file_byte_order byteOrder =
        o.order == "big" ? OrvaneBigEndianByteOrder : OrvaneLittleEndianByteOrder;
    const int status = WriteContent(
        "convert", o.in, o.out, true, o.ignoreCrc,
        [&](const char* out) { return OrvaneConvertFileByteOrder(o.in.c_str(), out, byteOrder); },
        "cannot be converted");
    if (status == 0) Say("%s -> %s (%s-endian)", o.in.c_str(), o.out.c_str(), o.order.c_str());
    return status;
}

}  // namespace

Command AddConvertCommand(CLI::App& tool) {
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* app = tool.add_subcommand(
        "convert",
        "Rewrites a content file in the given byte order, keeping its codecs. OUT may be IN: "
        "the file is rewritten in place, whole or not at all.");
    app->add_option("IN", options->in, "the content file to read")->required();
    app->add_option("OUT", options->out, "the file to write (may be IN)")->required();
    app->add_option("--byte-order", options->order, "the byte order of the written file")
        ->required()
        ->check(CLI::IsMember({"little", "big"}));
    app->add_flag("--ignore-crc", options->ignoreCrc,
                  "rewrite a file whose CRC does not match its contents (a damaged file)");
    return {app, [options] { return Convert(*options); }};
}

}  // namespace orvane_tool
