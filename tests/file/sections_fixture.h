// Loaded sections for the fixup tests: vectors of exactly each section's expanded size (so that
// the sanitizer sees any access past them), their section table and the pointer table.
#ifndef ORVANE_TESTS_FILE_SECTIONS_FIXTURE_H
#define ORVANE_TESTS_FILE_SECTIONS_FIXTURE_H

#include <cstdint>
#include <vector>

#include "orvane/file.h"

namespace orvane_test {

struct Sections {
    explicit Sections(std::vector<uint32_t> sizes, std::vector<uint32_t> fixupCounts = {}) {
        fixupCounts.resize(sizes.size());
        for (size_t i = 0; i < sizes.size(); ++i) {
            orvane_ovn_section s{};
            s.ExpandedSize = sizes[i];
            s.Start16Bit = s.Start8Bit = sizes[i];
            s.PointerFixupCount = fixupCounts[i];
            table.push_back(s);
            memory.emplace_back(sizes[i]);
        }
        for (size_t i = 0; i < sizes.size(); ++i)
            bases.push_back(sizes[i] ? memory[i].data() : nullptr);
        pointers.resize(OrvaneGetOVNPointerCount(int32_t(table.size()), table.data()));
        Refresh();
    }
    void Refresh() {
        view.SectionCount = int32_t(table.size());
        view.SectionTable = table.data();
        view.Sections = bases.data();
        view.PointerCount = uint32_t(pointers.size());
        view.Pointers = pointers.data();
    }
    void Unload(int i) { bases[size_t(i)] = nullptr; }
    std::vector<orvane_ovn_section> table;
    std::vector<std::vector<uint8_t>> memory;
    std::vector<void*> bases;
    std::vector<void*> pointers;
    orvane_file_sections view{};
};

}  // namespace orvane_test

#endif  // ORVANE_TESTS_FILE_SECTIONS_FIXTURE_H
