// Strings, parsing, wildcard matching, CRC-32, the pointer map, string tables and the version.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "core/orvane_pointer_hash.h"
#include "core/orvane_string.h"
#include "orvane/skeleton.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

TEST(Strings, DifferenceOrdersNullsFirst) {
    EXPECT_LT(OrvaneStringDifference("abc", "abd"), 0);
    EXPECT_GT(OrvaneStringDifference("abc", "ab"), 0);
    EXPECT_EQ(OrvaneStringDifference("abc", "abc"), 0);
    EXPECT_EQ(OrvaneStringDifference(nullptr, "a"), -1);
    EXPECT_EQ(OrvaneStringDifference("a", nullptr), 1);
    EXPECT_EQ(OrvaneStringDifference(nullptr, nullptr), 0);
}

TEST(Strings, EqualityAndPrefixesWithAndWithoutFolding) {
    using namespace orvane;
    EXPECT_TRUE(StringsAreEqual(nullptr, nullptr));
    EXPECT_FALSE(StringsAreEqual("a", nullptr));
    EXPECT_FALSE(StringsAreEqual("Bone", "bone"));
    EXPECT_TRUE(StringsAreEqualLowercase("Bone_01", "bONE_01"));
    EXPECT_FALSE(StringsAreEqualLowercase("Bone", "Bones"));
    EXPECT_TRUE(StringBeginsWith("Bip01 Head", "Bip01"));
    EXPECT_FALSE(StringBeginsWith("Bip", "Bip01"));
    EXPECT_TRUE(StringBeginsWithLowercase("BIP01 Head", "bip01"));
    EXPECT_EQ(StringLength(nullptr), 0);
    EXPECT_EQ(StringLength("four"), 4);
    const char* path = "c:\\art/models\\hero.ovn";
    EXPECT_STREQ(FindLastSlash(path), "\\hero.ovn");
    EXPECT_EQ(FindLastSlash("plain"), std::string("plain"));
}

TEST(Strings, BoundedCopyWarnsWhenItCuts) {
    LogCapture log;
    char buffer[4];
    orvane::CopyStringMaxLength(buffer, 4, "abcdef");
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(log.warnings(), 1u);
    EXPECT_TRUE(
        log.Contains("String overflow in StringEquals (Source is 6 characters, but dest "
                     "can only hold 3)"));
    orvane::CopyStringMaxLength(buffer, 4, "xyz");
    EXPECT_STREQ(buffer, "xyz");
    EXPECT_EQ(log.warnings(), 1u);
}

TEST(Strings, ParsingStopsAtTheFirstOtherCharacter) {
    EXPECT_EQ(orvane::ParseInteger("-12x"), -12);
    EXPECT_EQ(orvane::ParseInteger("+7"), 7);
    EXPECT_EQ(orvane::ParseInteger("x"), 0);
    EXPECT_EQ(orvane::ParseInteger("99999999999"), INT32_MAX);
    EXPECT_DOUBLE_EQ(orvane::ParseReal("3.25", true), 3.25);
    EXPECT_DOUBLE_EQ(orvane::ParseReal("3.25", false), 3.0);
    EXPECT_DOUBLE_EQ(orvane::ParseReal("-0.5e3", true), -0.5);
}

std::pair<bool, std::string> Wild(const char* name, const char* pattern) {
    char captured[256];
    bool matched = orvane::WildcardMatch(name, pattern, captured);
    return {matched, matched ? captured : ""};
}

TEST(Wildcards, CaptureWhatTheWildcardsTook) {
    EXPECT_EQ(Wild("Bone_Head", "bone_*"), std::make_pair(true, std::string("Head")));
    EXPECT_EQ(Wild("Bone_Head", "*_H?ad"), std::make_pair(true, std::string("Bonee")));
    EXPECT_EQ(Wild("Bone_Head", nullptr), std::make_pair(true, std::string("Bone_Head")));
    EXPECT_EQ(Wild("Bone", "bone"), std::make_pair(true, std::string("")));
    EXPECT_FALSE(Wild("Bone", "bones").first);
    EXPECT_FALSE(Wild("Bones", "bone").first);
    EXPECT_EQ(Wild("L_Arm_Upper", "*_Arm_*"), std::make_pair(true, std::string("LUpper")));
    EXPECT_EQ(Wild("ab", "a?c").first, false);
    EXPECT_EQ(Wild("Spine2", "Spine?"), std::make_pair(true, std::string("2")));
    // The star's literal run is case-sensitive, unlike the pattern's plain characters.
    EXPECT_FALSE(Wild("Bone_head", "*_Head").first);
    EXPECT_TRUE(Wild("x", "*").first);
    EXPECT_TRUE(Wild("", "*").first);
}

uint32_t OurCrc(const void* data, size_t size) {
    uint32_t crc;
    OrvaneBeginCRC32(&crc);
    OrvaneAddToCRC32(&crc, static_cast<uint32_t>(size), data);
    OrvaneEndCRC32(&crc);
    return crc;
}

TEST(Crc32, MatchesZlibOnRandomBuffersOfEveryShape) {
    EXPECT_EQ(OurCrc("abc", 3), 0x352441C2u);
    EXPECT_EQ(OurCrc("", 0), 0u);
    std::mt19937 random(1234);
    std::vector<unsigned char> data(70000);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    // Lengths around the folding path's limits and misaligned starts.
    for (size_t length : {1u, 7u, 15u, 16u, 63u, 64u, 65u, 127u, 128u, 1000u, 4097u, 69990u}) {
        for (size_t start : {0u, 1u, 3u, 8u}) {
            uLong expected = crc32(0, data.data() + start, static_cast<uInt>(length));
            EXPECT_EQ(OurCrc(data.data() + start, length), expected)
                << "length " << length << " start " << start;
        }
    }
    // Feeding in pieces gives the same CRC as feeding whole.
    uint32_t crc;
    OrvaneBeginCRC32(&crc);
    size_t at = 0;
    for (size_t piece : {3u, 61u, 200u, 1u, 5000u}) {
        OrvaneAddToCRC32(&crc, static_cast<uint32_t>(piece), data.data() + at);
        at += piece;
    }
    OrvaneEndCRC32(&crc);
    EXPECT_EQ(crc, crc32(0, data.data(), static_cast<uInt>(at)));
}

TEST(PointerHash, KeepsEntriesInOrderAndFindsThem) {
    orvane::PointerHash* hash = orvane::NewPointerHash();
    ASSERT_NE(hash, nullptr);
    std::vector<int> objects(5000);
    std::vector<size_t> order(objects.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (size_t i : order)
        ASSERT_TRUE(orvane::AddPointerHashEntry(hash, &objects[i], &objects[i] + 1));
    EXPECT_EQ(orvane::GetPointerHashCount(hash), 5000);
    for (size_t i = 0; i < objects.size(); ++i) {
        void* value = nullptr;
        ASSERT_TRUE(orvane::HashedPointerKeyExists(hash, &objects[i], &value));
        EXPECT_EQ(value, &objects[i] + 1);
    }
    int outside = 0;
    void* value = &outside;
    EXPECT_FALSE(orvane::HashedPointerKeyExists(hash, &outside, &value));
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(orvane::GetHashedPointer(hash, &outside), nullptr);
    EXPECT_TRUE(orvane::SetPointerHashEntry(hash, &objects[3], nullptr));
    EXPECT_EQ(orvane::GetHashedPointer(hash, &objects[3]), nullptr);
    EXPECT_FALSE(orvane::SetPointerHashEntry(hash, &outside, &outside));
    EXPECT_EQ(orvane::GetHashedPointer(hash, &outside), &outside);

    std::vector<const void*> keys;
    orvane::VisitPointerHash(
        hash,
        [](const void* key, void*, void* user) {
            static_cast<std::vector<const void*>*>(user)->push_back(key);
            return true;
        },
        &keys);
    EXPECT_EQ(keys.size(), 5001u);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end(), [](const void* a, const void* b) {
        return reinterpret_cast<uintptr_t>(a) < reinterpret_cast<uintptr_t>(b);
    }));
    orvane::DeletePointerHash(hash);
}

TEST(StringTable, KeepsOneCopyOfEachString) {
    orvane_string_table* table = OrvaneNewStringTable();
    ASSERT_NE(table, nullptr);
    std::string a = "Bip01 Spine", b = "Bip01 Spine";
    char* first = OrvaneMapString(table, a.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, a.c_str());
    EXPECT_EQ(OrvaneMapString(table, b.c_str()), first);
    EXPECT_STREQ(first, "Bip01 Spine");
    EXPECT_EQ(OrvaneMapString(table, nullptr), nullptr);
    // Long strings get a block of their own; short ones keep filling the current block.
    char* small1 = OrvaneMapString(table, "x");
    std::string big(5000, 'q');
    char* large = OrvaneMapString(table, big.c_str());
    char* small2 = OrvaneMapString(table, "y");
    EXPECT_EQ(std::string(large), big);
    EXPECT_EQ(small2, small1 + 2);
    for (int i = 0; i < 3000; ++i) {
        std::string name = "bone_" + std::to_string(i);
        char* copy = OrvaneMapString(table, name.c_str());
        ASSERT_STREQ(copy, name.c_str());
        ASSERT_EQ(OrvaneMapString(table, name.c_str()), copy);
    }
    OrvaneFreeStringTable(table);
    OrvaneFreeStringTable(nullptr);
}

TEST(Version, MatchesOnlyItself) {
    orvane_int32 v[4];
    OrvaneGetVersion(&v[0], &v[1], &v[2], &v[3]);
    EXPECT_EQ(v[0], 2);
    EXPECT_EQ(v[3], 13);
    EXPECT_STREQ(OrvaneGetVersionString(), "2.6.0.13");
    LogCapture log;
    EXPECT_TRUE(OrvaneVersionsMatch());
    EXPECT_FALSE(OrvaneVersionsMatch_(2, 6, 0, 12));
    ASSERT_EQ(log.warnings(), 1u);
    EXPECT_TRUE(log.Contains("Version of DLL (2.6.0.13) does not match version of .h (2.6.0.12)"));
    EXPECT_EQ(log.messages()[0].origin, OrvaneVersionCheckingOrigin);
}

TEST(NameComparison, UsesTheApplicationCallbackWhenSet) {
    EXPECT_FALSE(orvane::NamesAreEqual("Head", "head"));
    OrvaneSetStringComparisonCallback([](const char* a, const char* b) {
        return orvane::StringsAreEqualLowercase(a, b) ? 0 : 1;
    });
    EXPECT_TRUE(orvane::NamesAreEqual("Head", "head"));
    OrvaneSetStringComparisonCallback(nullptr);
    EXPECT_FALSE(orvane::NamesAreEqual("Head", "head"));
}

bool g_comparedNull = false;

orvane_int32 FoldingComparison(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) {
        g_comparedNull = true;
        return 1;
    }
    return orvane::StringsAreEqualLowercase(a, b) ? 0 : 1;
}

TEST(NameComparison, TheCallbackIsNeverGivenAMissingName) {
    g_comparedNull = false;
    OrvaneSetStringComparisonCallback(&FoldingComparison);
    EXPECT_FALSE(orvane::NamesAreEqual("Head", nullptr));
    EXPECT_FALSE(orvane::NamesAreEqual(nullptr, "Head"));
    EXPECT_TRUE(orvane::NamesAreEqual(nullptr, nullptr));
    EXPECT_TRUE(orvane::NamesAreEqual("Head", "HEAD"));
    orvane_string_comparison_callback compare = orvane::GetStringComparisonCallback();
    ASSERT_NE(compare, nullptr);
    EXPECT_LT(compare(nullptr, "a"), 0);
    EXPECT_GT(compare("a", nullptr), 0);
    EXPECT_EQ(compare(nullptr, nullptr), 0);

    // A skeleton whose first bone has no name (as a damaged file may give): the lookup passes
    // over it without handing the null to the application.
    orvane_bone bones[2] = {};
    bones[0].Name = nullptr;
    bones[0].ParentIndex = -1;
    char head[] = "Head";
    bones[1].Name = head;
    bones[1].ParentIndex = 0;
    orvane_skeleton skeleton = {};
    skeleton.BoneCount = 2;
    skeleton.Bones = bones;
    orvane_int32 index = -1;
    EXPECT_TRUE(OrvaneFindBoneByName(&skeleton, "head", &index));
    EXPECT_EQ(index, 1);
    OrvaneSetStringComparisonCallback(nullptr);
    EXPECT_EQ(orvane::GetStringComparisonCallback(), nullptr);
    EXPECT_FALSE(g_comparedNull);
}

}  // namespace
