// Writes the golden files: the example content in both byte orders, uncompressed and with each
// section codec, as example_<order>_<codec>.ovn in the directory given, and the compact-format
// example's track in both byte orders as compact_<order>.ovn (its steady track, whose curves
// the fit stores in layout 5, as compact_line_<order>.ovn), and a track of the 8-byte constants
// as constants_<order>.ovn. (compact_layout<N>_<order>.ovn were written by earlier writers.)
//
// The golden files are committed and never regenerated in passing: the golden test compares
// what the current reader makes of files written by an earlier writer, so that a change made to
// writer and reader together cannot pass unnoticed. Regenerate them only for a deliberate change
// of the format or of the example content, and say so in the commit:
//   cmake --build build --target orvane_write_golden
//   build/tests/orvane_write_golden tests/file/golden
#include <cstdio>
#include <string>

#include "orvane/core.h"
#include "orvane/data_tree_writer.h"
#include "orvane/file_builder.h"
#include "testing/compact_example.h"
#include "testing/example_content.h"

namespace {

// A track as the root of a one-section file.
bool WriteTrackFile(orvane_transform_track& track, const char* path, orvane_file_byte_order order) {
    orvane_file_builder* builder =
        OrvaneBeginFile(1, ORVANE_CURRENT_FILE_TYPE_TAG, OrvaneGetTemporaryDirectory(), "golden");
    if (builder == nullptr) return false;
    OrvaneSetFileByteOrder(builder, order);
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneTransformTrackType, &track, 0, 0);
    if (writer == nullptr) {
        OrvaneAbortFile(builder);
        return false;
    }
    bool ok = OrvaneWriteDataTreeToFileBuilder(writer, builder);
    ok = OrvaneEndFile(builder, path) && ok;
    OrvaneEndFileDataTreeWriting(writer);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    struct Order {
        const char* name;
        orvane_file_byte_order order;
    };
    struct Codec {
        const char* name;
        int32_t compression;
    };
    const Order orders[2] = {{"little", OrvaneLittleEndianByteOrder},
                             {"big", OrvaneBigEndianByteOrder}};
    const Codec codecs[3] = {{"none", OrvaneNoCompression},
                             {"pelma0", OrvanePelma0Compression},
                             {"pelma1", OrvanePelma1Compression}};
    orvane_example::ExampleContent content;
    if (!content.ok()) {
        std::fprintf(stderr, "the example content cannot be built\n");
        return 1;
    }
    for (const Order& order : orders) {
        for (const Codec& codec : codecs) {
            const std::string path =
                std::string(argv[1]) + "/example_" + order.name + "_" + codec.name + ".ovn";
            orvane_example::ExampleFileOptions options;
            options.order = order.order;
            options.compression = codec.compression;
            if (!orvane_example::WriteExampleFile(content, path.c_str(), options)) {
                std::fprintf(stderr, "%s cannot be written\n", path.c_str());
                return 1;
            }
            std::printf("wrote %s\n", path.c_str());
        }
    }
    for (const bool steady : {false, true}) {
        orvane_example::CompactExample compact(steady);
        if (!compact.ok()) {
            std::fprintf(stderr, "the compact example cannot be built\n");
            return 1;
        }
        for (const Order& order : orders) {
            const std::string path = std::string(argv[1]) +
                                     (steady ? "/compact_line_" : "/compact_") + order.name +
                                     ".ovn";
            if (!WriteTrackFile(compact.track, path.c_str(), order.order)) {
                std::fprintf(stderr, "%s cannot be written\n", path.c_str());
                return 1;
            }
            std::printf("wrote %s\n", path.c_str());
        }
    }
    orvane_example::PackedConstantExample constants;
    if (!constants.ok()) {
        std::fprintf(stderr, "the 8-byte constants' example cannot be built\n");
        return 1;
    }
    for (const Order& order : orders) {
        const std::string path = std::string(argv[1]) + "/constants_" + order.name + ".ovn";
        if (!WriteTrackFile(constants.track, path.c_str(), order.order)) {
            std::fprintf(stderr, "%s cannot be written\n", path.c_str());
            return 1;
        }
        std::printf("wrote %s\n", path.c_str());
    }
    return 0;
}
