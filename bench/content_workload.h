// The content of the file benchmarks: the example content at about 70 MB, with 2 million
// vertices, half a million indices and some 15,000 small pointer-holding objects (bones,
// transform tracks, curves), built in memory once. The loading and writing benchmarks measure
// the same content.
#ifndef ORVANE_BENCH_CONTENT_WORKLOAD_H
#define ORVANE_BENCH_CONTENT_WORKLOAD_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "orvane/file.h"
#include "testing/example_content.h"

namespace orvane_bench {

constexpr int32_t kVertexCount = 2000000;
constexpr int32_t kIndexCount = 500000;
constexpr int32_t kBoneCount = 5000;
constexpr int32_t kTrackCount = 5000;
// Bones, tracks and (at least) one curve per track.
constexpr int64_t kPointerObjects = kBoneCount + kTrackCount + kTrackCount;

inline orvane_example::ExampleContent& BigContent() {
    static orvane_example::ExampleContent content(
        orvane_example::ExampleSize{kVertexCount, kIndexCount, kBoneCount, kTrackCount});
    return content;
}

// The content's file image in the standard sections, uncompressed and native; empty when it
// cannot be written.
inline const std::vector<uint8_t>& BigFileBytes() {
    static const std::vector<uint8_t> bytes = [] {
        const std::string path = std::string(OrvaneGetTemporaryDirectory()) + "orvane_bench_" +
                                 std::to_string(getpid()) + ".ovn";
        std::vector<uint8_t> image;
        if (orvane_example::WriteExampleFile(BigContent(), path.c_str())) {
            if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
                std::fseek(f, 0, SEEK_END);
                image.resize(size_t(std::ftell(f)));
                std::fseek(f, 0, SEEK_SET);
                if (std::fread(image.data(), 1, image.size(), f) != image.size()) image.clear();
                std::fclose(f);
            }
        }
        std::remove(path.c_str());
        return image;
    }();
    return bytes;
}

}  // namespace orvane_bench

#endif  // ORVANE_BENCH_CONTENT_WORKLOAD_H
