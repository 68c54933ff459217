// Content files for the loader's tests and benchmark: a tree written through the data tree
// writer and the file builder, in either byte order, with chosen section codecs and sections,
// returned as the file's bytes.
#ifndef ORVANE_TESTS_FILE_LOAD_TEST_SUPPORT_H
#define ORVANE_TESTS_FILE_LOAD_TEST_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "file/offline/orvane_pelma_encode.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "orvane/types.h"

namespace orvane_test {

struct TreeFileOptions {
    orvane_file_byte_order byteOrder = OrvaneNativeByteOrder;
    int32_t sectionCount = 4;
    int32_t compression = OrvaneNoCompression;  // for every section that holds data
    uint32_t typeTag = ORVANE_CURRENT_FILE_TYPE_TAG;
    // Objects of these types go to these sections; everything else to section 0.
    std::vector<std::pair<const orvane_data_type_definition*, int32_t>> sectionOfType;
    std::vector<std::pair<const void*, int32_t>> sectionOfObject;
    uint32_t treeFlags = 0;  // OrvaneSetFileDataTreeFlags
};

inline std::string LoadTestPath(const std::string& name) {
    return std::string(OrvaneGetTemporaryDirectory()) + "orvane_load_" + std::to_string(getpid()) +
           "_" + name;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
}

inline uint32_t FileWord(const std::vector<uint8_t>& file, size_t at, bool swap) {
    uint32_t v;
    std::memcpy(&v, file.data() + at, 4);
    return swap ? __builtin_bswap32(v) : v;
}
inline void SetFileWord(std::vector<uint8_t>& file, size_t at, uint32_t v, bool swap) {
    if (swap) v = __builtin_bswap32(v);
    std::memcpy(file.data() + at, &v, 4);
}

// Compresses every non-empty section of an uncompressed file with the codec: the stream is
// appended at the end of the file and the section entry, TotalSize and CRC are updated. A
// stream for a file of the other byte order is made of words of that order.
inline void CompressSections(std::vector<uint8_t>& file, int32_t compression) {
    uint32_t headerSize = 0;
    bool swap = false;
    if (file.size() < 88 ||
        !OrvaneIsOrvaneFile(reinterpret_cast<const orvane_file_magic_record*>(file.data()),
                            &headerSize, &swap))
        return;
    const orvane::PelmaCodec codec = compression == OrvanePelma0Compression
                                         ? orvane::PelmaCodec::Pelma0
                                         : orvane::PelmaCodec::Pelma1;
    const uint32_t count = FileWord(file, 48, swap);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t e = 88 + 44 * size_t(i);
        const uint32_t offset = FileWord(file, e + 4, swap);
        const uint32_t expanded = FileWord(file, e + 12, swap);
        const uint32_t stops[3] = {FileWord(file, e + 20, swap), FileWord(file, e + 24, swap),
                                   expanded};
        if (expanded == 0) continue;
        orvane::PelmaEncoder* encoder = orvane::NewPelmaEncoder(codec, expanded, 3);
        uint32_t start = 0;
        for (uint32_t stop : stops) {
            orvane::PelmaEncodeContent(encoder, file.data() + offset + start, stop - start);
            start = stop;
        }
        const uint8_t* stream = nullptr;
        const int64_t size = orvane::PelmaFinish(encoder, &stream);
        std::vector<uint8_t> coded(stream, stream + size);
        orvane::FreePelmaEncoder(encoder);
        if (swap) {
            const size_t words = codec == orvane::PelmaCodec::Pelma0 ? coded.size() / 4 : 9;
            for (size_t w = 0; w < words; ++w) {
                std::swap(coded[4 * w], coded[4 * w + 3]);
                std::swap(coded[4 * w + 1], coded[4 * w + 2]);
            }
        }
        SetFileWord(file, e + 0, uint32_t(compression), swap);
        SetFileWord(file, e + 4, uint32_t(file.size()), swap);
        SetFileWord(file, e + 8, uint32_t(coded.size()), swap);
        file.insert(file.end(), coded.begin(), coded.end());
    }
    SetFileWord(file, 36, uint32_t(file.size()), swap);
    uint32_t crc = 0;
    OrvaneBeginCRC32(&crc);
    OrvaneAddToCRC32(&crc, uint32_t(file.size() - 88), file.data() + 88);
    OrvaneEndCRC32(&crc);
    SetFileWord(file, 40, crc, swap);
}

// Writes the tree to `path`; false when any step fails.
inline bool WriteTreeFile(const std::string& path, orvane_data_type_definition* type, void* object,
                          const TreeFileOptions& options = {}) {
    orvane_file_builder* builder = OrvaneBeginFile(
        options.sectionCount, options.typeTag, OrvaneGetTemporaryDirectory(), "orvane_load_test");
    if (builder == nullptr) return false;
    OrvaneSetFileByteOrder(builder, options.byteOrder);
    orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(type, object, 0, 0);
    if (writer == nullptr) {
        OrvaneAbortFile(builder);
        return false;
    }
    for (const auto& [t, section] : options.sectionOfType)
        OrvaneSetFileSectionForObjectsOfType(writer, t, section);
    for (const auto& [o, section] : options.sectionOfObject)
        OrvaneSetFileSectionForObject(writer, o, section);
    OrvaneSetFileDataTreeFlags(writer, options.treeFlags);
    bool ok = OrvaneWriteDataTreeToFileBuilder(writer, builder);
    ok = OrvaneEndFile(builder, path.c_str()) && ok;
    OrvaneEndFileDataTreeWriting(writer);
    return ok;
}

// The tree as the bytes of a content file.
inline std::vector<uint8_t> WriteTreeBytes(orvane_data_type_definition* type, void* object,
                                           const TreeFileOptions& options = {}) {
    static int serial = 0;
    const std::string path = LoadTestPath("tree" + std::to_string(serial++) + ".ovn");
    std::vector<uint8_t> bytes;
    if (WriteTreeFile(path, type, object, options)) bytes = ReadFileBytes(path);
    if (options.compression != OrvaneNoCompression) CompressSections(bytes, options.compression);
    std::remove(path.c_str());
    return bytes;
}

}  // namespace orvane_test

#endif  // ORVANE_TESTS_FILE_LOAD_TEST_SUPPORT_H
