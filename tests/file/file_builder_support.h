// Test support for written content files: a small independent reader built on the format
// primitives (recognition, header checks, section reversal, pointer fixups, marshalling), and
// a member-by-member comparison of an in-memory tree with its image in a loaded file, through
// the native type descriptions.
#ifndef ORVANE_TESTS_FILE_BUILDER_SUPPORT_H
#define ORVANE_TESTS_FILE_BUILDER_SUPPORT_H

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "orvane/types.h"
#include "types/orvane_member_iterator.h"

namespace orvane_test {

inline std::string TempName(const std::string& name) {
    return std::string(OrvaneGetTemporaryDirectory()) + "orvane_builder_" +
           std::to_string(getpid()) + "_" + name;
}

// True when a file in the given byte order is stored reversed on this host (big-endian files
// on a little-endian host, little-endian ones on a big-endian host).
inline bool ReversedOnThisHost(orvane_file_byte_order order) {
    const bool big = order == OrvaneBigEndianByteOrder ||
                     (order == OrvaneNativeByteOrder && std::endian::native == std::endian::big);
    return big != (std::endian::native == std::endian::big);
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
}

inline void ReverseWords(uint8_t* data, size_t size) {
    for (size_t i = 0; i + 4 <= size; i += 4)
        std::reverse(data + i, data + i + 4);
}

// A content file read with the primitives. Sections hold the expanded data as the loader has
// it after both fixup phases; `stored` keeps each section's bytes before any fixup, in the
// file's own byte order.
struct LoadedFile {
    bool ok = false;
    bool reversed = false;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> headerBlock;
    orvane_file_header* header = nullptr;
    const orvane_ovn_section* table = nullptr;
    std::vector<std::vector<uint8_t>> memory;
    std::vector<std::vector<uint8_t>> stored;
    std::vector<void*> bases;
    std::vector<void*> pointers;
    orvane_file_sections sections = {};
    void* rootType = nullptr;
    void* rootObject = nullptr;

    uint32_t Word(const uint8_t* at) const {
        uint32_t v;
        std::memcpy(&v, at, 4);
        return reversed ? __builtin_bswap32(v) : v;
    }
    std::vector<orvane_ovn_pointer_fixup> PointerFixups(uint32_t s) const {
        std::vector<orvane_ovn_pointer_fixup> f(table[s].PointerFixupCount);
        for (uint32_t i = 0; i < f.size(); ++i) {
            const uint8_t* at = bytes.data() + table[s].PointerFixupOffset + 12 * i;
            f[i] = {Word(at), {Word(at + 4), Word(at + 8)}};
        }
        return f;
    }
    std::vector<orvane_ovn_marshalling_fixup> MarshallingFixups(uint32_t s) const {
        std::vector<orvane_ovn_marshalling_fixup> f(table[s].MarshallingFixupCount);
        for (uint32_t i = 0; i < f.size(); ++i) {
            const uint8_t* at = bytes.data() + table[s].MarshallingFixupOffset + 16 * i;
            f[i] = {Word(at), Word(at + 4), {Word(at + 8), Word(at + 12)}};
        }
        return f;
    }
    const void* Slot(const void* slot, uint32_t* available = nullptr) const {
        if (slot == nullptr) {
            ADD_FAILURE() << "decoding a slot at null";
            return nullptr;
        }
        return OrvaneDecodeOVNPointerSlot(&sections, slot, available);
    }
    uint32_t CRC() const { return uint32_t(crc32(0, bytes.data() + 88, uInt(bytes.size() - 88))); }
};

inline void LoadFile(const std::string& path, LoadedFile* f) {
    f->bytes = ReadBytes(path);
    ASSERT_GE(f->bytes.size(), 88u);
    uint32_t headerSize = 0;
    bool reversed = false;
    ASSERT_TRUE(
        OrvaneIsOrvaneFile(reinterpret_cast<const orvane_file_magic_record*>(f->bytes.data()),
                           &headerSize, &reversed));
    f->reversed = reversed;
    ASSERT_LE(32 + headerSize, f->bytes.size());
    f->headerBlock.assign(f->bytes.begin() + 32, f->bytes.begin() + 32 + headerSize);
    if (reversed) ReverseWords(f->headerBlock.data(), headerSize);
    f->header = reinterpret_cast<orvane_file_header*>(f->headerBlock.data());
    ASSERT_TRUE(OrvaneFileHeaderIsValid(f->header, headerSize));
    ASSERT_EQ(f->header->TotalSize, f->bytes.size());
    f->table = OrvaneGetOVNSectionArray(f->header);
    const uint32_t count = f->header->SectionCount;
    f->memory.resize(count);
    f->stored.resize(count);
    f->bases.assign(count, nullptr);
    for (uint32_t i = 0; i < count; ++i) {
        const orvane_ovn_section& s = f->table[i];
        if (s.ExpandedSize == 0) continue;
        f->memory[i].assign(s.ExpandedSize + 4, 0);
        std::vector<uint8_t> data(f->bytes.begin() + s.DataOffset,
                                  f->bytes.begin() + s.DataOffset + s.DataSize);
        data.resize(s.DataSize + 16, 0);
        ASSERT_TRUE(OrvaneDecompressData(int32_t(s.Compression), reversed, int32_t(s.DataSize),
                                         data.data(), int32_t(s.Start16Bit), int32_t(s.Start8Bit),
                                         int32_t(s.ExpandedSize), f->memory[i].data()));
        f->stored[i].assign(f->memory[i].begin(), f->memory[i].begin() + s.ExpandedSize);
        if (reversed)
            OrvaneReverseSection(s.Start16Bit, s.Start8Bit, s.ExpandedSize, f->memory[i].data());
        f->bases[i] = f->memory[i].data();
    }
    f->pointers.assign(OrvaneGetOVNPointerCount(int32_t(count), f->table), nullptr);
    f->sections = {int32_t(count), f->table, f->bases.data(), uint32_t(f->pointers.size()),
                   f->pointers.data()};
    for (uint32_t i = 0; i < count; ++i) {
        if (!f->bases[i]) continue;
        auto fixups = f->PointerFixups(i);
        ASSERT_TRUE(
            OrvaneOVNFixUp(&f->sections, int32_t(i), uint32_t(fixups.size()), fixups.data()));
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (!f->bases[i]) continue;
        if (reversed) {
            auto fixups = f->MarshallingFixups(i);
            ASSERT_TRUE(OrvaneOVNMarshall(&f->sections, int32_t(i), uint32_t(fixups.size()),
                                          fixups.data()));
        }
        auto fixups = f->PointerFixups(i);
        ASSERT_TRUE(
            OrvaneOVNFixUp(&f->sections, int32_t(i), uint32_t(fixups.size()), fixups.data()));
    }
    f->rootType = OrvaneDecodeOVNReference(&f->sections, &f->header->RootTypeReference);
    f->rootObject = OrvaneDecodeOVNReference(&f->sections, &f->header->RootObjectReference);
    f->ok = true;
}

// Compares in-memory objects with their file images through the native descriptions. Every
// native object must map to one file address (sharing in memory is sharing in the file).
// This is the tests' one reader of the file layout that does not go through the library's
// type layout or member iterator: it works the 32-bit slot offsets out by itself, so that a
// fault shared by the writer and the library's layout code cannot hide.
class TreeComparer {
public:
    explicit TreeComparer(const LoadedFile& file) : file_(file) {}

    // Stored string values when a string callback replaced the pointers.
    std::map<const char*, uint32_t>* callbackValues = nullptr;
    bool typesAsEmptyForVariants = false;

    void Object(const orvane_data_type_definition* type, const uint8_t* native,
                const uint8_t* image) {
        ASSERT_NE(image, nullptr);
        auto key = std::make_pair(static_cast<const void*>(native), type);
        auto found = objects_.find(key);
        if (found != objects_.end()) {
            EXPECT_EQ(found->second, image) << "an object shared in memory is not shared";
            return;
        }
        objects_[key] = image;
        Members(type, native, image);
    }

    void Type(const orvane_data_type_definition* type, const uint8_t* records) {
        ASSERT_NE(records, nullptr);
        if (!types_.insert({type, records}).second) return;
        for (int k = 0;; ++k) {
            const orvane_data_type_definition& m = type[k];
            const uint8_t* r = records + 32 * k;
            ASSERT_EQ(int32_t(Read32(r)), m.Type);
            if (m.Type == OrvaneEndMember) break;
            ASSERT_EQ(int32_t(Read32(r + 12)), m.ArrayWidth);
            if (callbackValues) {
                const char* key = m.Name;  // a packed field: copied, never bound by reference
                EXPECT_EQ(Read32(r + 4), (*callbackValues)[key]);
            } else {
                const char* name = static_cast<const char*>(file_.Slot(r + 4));
                ASSERT_NE(name, nullptr);
                EXPECT_STREQ(name, m.Name);
            }
            const void* ref = file_.Slot(r + 8);
            if (m.Type >= OrvaneInlineMember && m.Type <= OrvaneArrayOfReferencesMember &&
                m.ReferenceType) {
                Type(m.ReferenceType, static_cast<const uint8_t*>(ref));
            } else if (m.Type == OrvaneSwitchableTypeMember && m.ReferenceType) {
                auto* const* table =
                    reinterpret_cast<orvane_data_type_definition* const*>(m.ReferenceType);
                const auto* slots = static_cast<const uint8_t*>(ref);
                ASSERT_NE(slots, nullptr);
                for (int i = 0; table[i]; ++i)
                    Type(table[i], static_cast<const uint8_t*>(file_.Slot(slots + 4 * i)));
                EXPECT_EQ(Read32(slots + 4 * OrvaneGetTypeTableCount(table)), 0u);
            } else {
                EXPECT_EQ(ref, nullptr);
            }
        }
    }

    int objectCount() const { return int(objects_.size()); }

private:
    uint32_t Read32(const uint8_t* at) const {
        uint32_t v;
        std::memcpy(&v, at, 4);
        return v;
    }
    template <typename T>
    static T Native(const uint8_t* at) {
        T v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    void VariantType(const orvane_data_type_definition* type, const uint8_t* slot) {
        const auto* records = static_cast<const uint8_t*>(file_.Slot(slot));
        if (typesAsEmptyForVariants) {
            ASSERT_NE(records, nullptr);
            EXPECT_EQ(Read32(records), uint32_t(OrvaneEndMember));
        } else {
            Type(type, records);
        }
    }
    void Array(const orvane_data_type_definition* type, int32_t count, const uint8_t* native,
               const uint8_t* image) {
        ASSERT_NE(image, nullptr);
        const int32_t nativeSize = OrvaneGetTotalObjectSize(type);
        const int32_t fileSize = FileSize(type);
        for (int32_t i = 0; i < count; ++i)
            Members(type, native + size_t(nativeSize) * i, image + size_t(fileSize) * i);
    }
    static int32_t FileSize(const orvane_data_type_definition* type) {
        int32_t size = 0;
        for (const auto* m = type; m && m->Type != OrvaneEndMember; ++m)
            size += FileMemberSize(m);
        return size;
    }
    static int32_t FileMemberSize(const orvane_data_type_definition* m) {
        int32_t w = OrvaneGetMemberArrayWidth(m);
        switch (m->Type) {
            case OrvaneInlineMember:
                return FileSize(m->ReferenceType);
            case OrvaneReferenceMember:
            case OrvaneStringMember:
                return 4 * w;
            case OrvaneReferenceToArrayMember:
            case OrvaneArrayOfReferencesMember:
            case OrvaneSwitchableTypeMember:
            case OrvaneVariantReferenceMember:
                return 8 * w;
            case OrvaneReferenceToVariantArrayMember:
                return 12 * w;
            default:
                return OrvaneGetMemberTypeSize(m);
        }
    }
    void Members(const orvane_data_type_definition* type, const uint8_t* n, const uint8_t* f) {
        const size_t p = sizeof(void*);
        for (const auto* m = type; m && m->Type != OrvaneEndMember; ++m) {
            switch (m->Type) {
                case OrvaneInlineMember:
                    Members(m->ReferenceType, n, f);
                    break;
                case OrvaneReferenceMember: {
                    auto* target = Native<const uint8_t*>(n);
                    if (!target) {
                        EXPECT_EQ(file_.Slot(f), nullptr);
                    } else {
                        Object(m->ReferenceType, target,
                               static_cast<const uint8_t*>(file_.Slot(f)));
                    }
                    break;
                }
                case OrvaneStringMember: {
                    const char* text = Native<const char*>(n);
                    if (callbackValues) {
                        EXPECT_EQ(Read32(f), (*callbackValues)[text]);
                    } else {
                        const char* stored = static_cast<const char*>(file_.Slot(f));
                        ASSERT_NE(stored, nullptr) << m->Name;
                        EXPECT_STREQ(stored, text ? text : "");
                        strings_.insert(stored);
                    }
                    break;
                }
                case OrvaneReferenceToArrayMember: {
                    int32_t count = Native<int32_t>(n);
                    ASSERT_EQ(int32_t(Read32(f)), count) << m->Name;
                    auto* array = Native<const uint8_t*>(n + 4);
                    if (count && array)
                        Array(m->ReferenceType, count, array,
                              static_cast<const uint8_t*>(file_.Slot(f + 4)));
                    break;
                }
                case OrvaneArrayOfReferencesMember: {
                    int32_t count = Native<int32_t>(n);
                    ASSERT_EQ(int32_t(Read32(f)), count) << m->Name;
                    auto* array = Native<const uint8_t*>(n + 4);
                    if (!count || !array) break;
                    auto* slots = static_cast<const uint8_t*>(file_.Slot(f + 4));
                    ASSERT_NE(slots, nullptr);
                    for (int32_t i = 0; i < count; ++i) {
                        auto* target = Native<const uint8_t*>(array + p * i);
                        if (target)
                            Object(m->ReferenceType, target,
                                   static_cast<const uint8_t*>(file_.Slot(slots + 4 * i)));
                        else
                            EXPECT_EQ(file_.Slot(slots + 4 * i), nullptr);
                    }
                    break;
                }
                case OrvaneVariantReferenceMember: {
                    auto* vtype = Native<const orvane_data_type_definition*>(n);
                    auto* object = Native<const uint8_t*>(n + p);
                    if (!vtype) break;
                    VariantType(vtype, f);
                    if (object)
                        Object(vtype, object, static_cast<const uint8_t*>(file_.Slot(f + 4)));
                    break;
                }
                case OrvaneSwitchableTypeMember: {
                    int32_t index = Native<int32_t>(n);
                    ASSERT_EQ(int32_t(Read32(f)), index);
                    auto* object = Native<const uint8_t*>(n + 4);
                    auto* const* table =
                        reinterpret_cast<orvane_data_type_definition* const*>(m->ReferenceType);
                    if (object)
                        Object(table[index], object,
                               static_cast<const uint8_t*>(file_.Slot(f + 4)));
                    break;
                }
                case OrvaneReferenceToVariantArrayMember: {
                    auto* vtype = Native<const orvane_data_type_definition*>(n);
                    int32_t count = Native<int32_t>(n + p);
                    auto* array = Native<const uint8_t*>(n + p + 4);
                    ASSERT_EQ(int32_t(Read32(f + 4)), count);
                    if (!vtype) break;
                    VariantType(vtype, f);
                    if (count && array)
                        Array(vtype, count, array, static_cast<const uint8_t*>(file_.Slot(f + 8)));
                    break;
                }
                default:
                    EXPECT_EQ(std::memcmp(n, f, size_t(OrvaneGetMemberTypeSize(m))), 0)
                        << "member " << m->Name;
                    break;
            }
            n += OrvaneGetMemberTypeSize(m);
            f += FileMemberSize(m);
        }
    }

    const LoadedFile& file_;
    std::map<std::pair<const void*, const void*>, const uint8_t*> objects_;
    std::map<const void*, const uint8_t*> types_;
    std::set<const void*> strings_;
};

// Compares two native trees (the original and the loader's) member by member through the
// original's descriptions; the loaded side's descriptions are compared by kind, name and width.
class NativeComparer {
public:
    void Object(const orvane_data_type_definition* type, const uint8_t* a, const uint8_t* b) {
        ASSERT_NE(b, nullptr);
        auto key = std::make_pair(static_cast<const void*>(a), static_cast<const void*>(type));
        auto found = seen_.find(key);
        if (found != seen_.end()) {
            EXPECT_EQ(found->second, b) << "an object shared in memory is not shared";
            return;
        }
        seen_[key] = b;
        Members(type, a, b);
    }
    void Type(const orvane_data_type_definition* a, const orvane_data_type_definition* b) {
        ASSERT_NE(b, nullptr);
        if (!types_.insert(a).second) return;
        for (int k = 0;; ++k) {
            ASSERT_EQ(a[k].Type, b[k].Type);
            if (a[k].Type == OrvaneEndMember) break;
            EXPECT_STREQ(a[k].Name, b[k].Name);
            EXPECT_EQ(a[k].ArrayWidth, b[k].ArrayWidth);
            if (a[k].Type >= OrvaneInlineMember && a[k].Type <= OrvaneArrayOfReferencesMember &&
                a[k].ReferenceType)
                Type(a[k].ReferenceType, b[k].ReferenceType);
        }
    }
    int count() const { return int(seen_.size()); }

private:
    template <typename T>
    static T Get(const uint8_t* at) {
        T v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    // Both sides walked in step through the type system's member iterator: it knows where
    // each kind keeps its count, pointer and type in the native layout. (The file layout has
    // its own, deliberately independent reader above.)
    void Elements(orvane::MemberIterator a, orvane::MemberIterator b) {
        for (; a.Valid(); a.Advance(), b.Advance()) {
            ASSERT_TRUE(b.Valid());
            if (a.mode == orvane::kPointerEntries) {
                if (a.Pointer()) {
                    Object(a.subType, static_cast<const uint8_t*>(a.Pointer()),
                           static_cast<const uint8_t*>(b.Pointer()));
                }
            } else {
                Members(a.member, a.data, b.data);
            }
        }
    }
    void Members(const orvane_data_type_definition* type, const uint8_t* a, const uint8_t* b) {
        using orvane::MemberIterator;
        MemberIterator ia = MemberIterator::OverMembers(type, const_cast<uint8_t*>(a));
        MemberIterator ib = MemberIterator::OverMembers(type, const_cast<uint8_t*>(b));
        for (; ia.Valid(); ia.Advance(), ib.Advance()) {
            ASSERT_TRUE(ib.Valid());
            const orvane_data_type_definition* m = ia.member;
            const auto* pa = static_cast<const uint8_t*>(ia.Pointer());
            const auto* pb = static_cast<const uint8_t*>(ib.Pointer());
            switch (ia.kind) {
                case OrvaneInlineMember:
                    Members(m->ReferenceType, ia.data, ib.data);
                    break;
                case OrvaneReferenceMember:
                    if (pa)
                        Object(ia.subType, pa, pb);
                    else
                        EXPECT_EQ(pb, nullptr);
                    break;
                case OrvaneStringMember:
                    EXPECT_STREQ(reinterpret_cast<const char*>(pb),
                                 pa ? reinterpret_cast<const char*>(pa) : "");
                    break;
                case OrvaneReferenceToArrayMember:
                case OrvaneArrayOfReferencesMember:
                    ASSERT_EQ(ib.StoredCount(), ia.StoredCount()) << m->Name;
                    if (ia.Count() && ia.ArrayPointer()) {
                        ASSERT_NE(ib.ArrayPointer(), nullptr) << m->Name;
                        Elements(ia.SubArray(), ib.SubArray());
                    }
                    break;
                case OrvaneVariantReferenceMember:
                    if (!ia.Type()) break;
                    Type(ia.Type(), ib.Type());
                    if (pa) Object(ia.Type(), pa, pb);
                    break;
                case OrvaneSwitchableTypeMember:
                    ASSERT_EQ(ia.StoredCount(), ib.StoredCount());
                    if (pa && ia.subType) Object(ia.subType, pa, pb);
                    break;
                case OrvaneReferenceToVariantArrayMember:
                    ASSERT_EQ(ib.StoredCount(), ia.StoredCount());
                    if (!ia.Type()) break;
                    Type(ia.Type(), ib.Type());
                    if (ia.Count() && ia.ArrayPointer()) {
                        // The loaded side's elements are laid out by its own description.
                        MemberIterator eb = MemberIterator::OverArray(
                            orvane::kArrayElements, ia.Type(), ib.Count(), ib.ArrayPointer());
                        Elements(ia.SubArray(), eb);
                    }
                    break;
                default:
                    EXPECT_EQ(std::memcmp(ia.data, ib.data, size_t(ia.stride)), 0)
                        << "member " << m->Name;
                    break;
            }
        }
    }
    std::map<std::pair<const void*, const void*>, const uint8_t*> seen_;
    std::set<const void*> types_;
};

// Loads the file with the library's loader and compares its tree with the original.
inline void CompareWithLoader(const std::string& path, const orvane_data_type_definition* type,
                              const void* root) {
    orvane_file* file = OrvaneReadEntireFile(path.c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(OrvaneFileCRCIsValid(path.c_str()));
    orvane_variant tree = OrvaneGetDataTreeFromFile(file);
    NativeComparer compare;
    compare.Type(type, tree.Type);
    compare.Object(type, static_cast<const uint8_t*>(root),
                   static_cast<const uint8_t*>(tree.Object));
    OrvaneFreeFile(file);
}

}  // namespace orvane_test

#endif  // ORVANE_TESTS_FILE_BUILDER_SUPPORT_H
