// Where the tests, the benchmarks and the tool's tests find the project's data (data/ in the
// source tree): $ORVANE_DATA_DIR when it is set and not empty, else the data folder of the
// source tree this program was built from (ORVANE_DEFAULT_DATA_DIR, set by the build).
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

#ifndef ORVANE_DEFAULT_DATA_DIR
#error "ORVANE_DEFAULT_DATA_DIR is set by the build (link the orvane_data_dir target)"
#endif

namespace orvane_data {

// The data folder, without a trailing slash.
inline std::string Directory() {
    const char* dir = std::getenv("ORVANE_DATA_DIR");
    return (dir && *dir) ? std::string(dir) : std::string(ORVANE_DEFAULT_DATA_DIR);
}

// relative (for example "assets/gltf/Fox/Fox.glb") inside the data folder.
inline std::string Path(const std::string& relative) {
    return Directory() + "/" + relative;
}

// True when the file can be opened for reading.
inline bool Exists(const std::string& path) {
    return std::ifstream(path, std::ios::binary).good();
}

}  // namespace orvane_data

// In a GoogleTest body: skips the test, naming the file, when the data file is absent.
#define ORVANE_SKIP_WITHOUT_DATA(path)                                             \
    do {                                                                           \
        if (!orvane_data::Exists(path))                                            \
            GTEST_SKIP() << "data file absent: " << (path)                         \
                         << " (set ORVANE_DATA_DIR to the project's data folder)"; \
    } while (0)
