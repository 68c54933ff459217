// Marshalling fixups over type descriptions stored in the file's 32-byte record layout.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/sections_fixture.h"
#include "orvane/file.h"
#include "orvane/types.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;
using orvane_test::Sections;

namespace {

// Section 0 holds descriptions and names, section 1 the objects to reverse.
class MarshallTest : public ::testing::Test {
protected:
    static constexpr uint32_t kTypeBytes = 512;
    static constexpr uint32_t kObjectBytes = 256;

    MarshallTest() : s({kTypeBytes, kObjectBytes}, {64, 0}) {}

    // Writes a 32-byte file record at offset; name and reference are section-0 offsets or ~0u
    // for none. Their slots get pointer fixups, as the loader's first phase leaves them.
    void Record(uint32_t offset, int32_t kind, uint32_t name, uint32_t reference, int32_t width) {
        uint8_t* r = s.memory[0].data() + offset;
        std::memset(r, 0, 32);
        std::memcpy(r, &kind, 4);
        std::memcpy(r + 12, &width, 4);
        if (name != ~0u) fixups.push_back({offset + 4, {0, name}});
        if (reference != ~0u) fixups.push_back({offset + 8, {0, reference}});
    }
    void Name(uint32_t offset, const char* text) {
        std::memcpy(s.memory[0].data() + offset, text, std::strlen(text) + 1);
    }
    bool FixUp() { return OrvaneOVNFixUp(&s.view, 0, uint32_t(fixups.size()), fixups.data()); }
    bool Marshall(uint32_t count, uint32_t objectOffset, orvane_ovn_reference type) {
        orvane_ovn_marshalling_fixup fixup = {count, objectOffset, type};
        return OrvaneOVNMarshall(&s.view, 1, 1, &fixup);
    }

    Sections s;
    std::vector<orvane_ovn_pointer_fixup> fixups;
};

// Writes the big-endian bytes of value.
template <typename T>
void PutReversed(uint8_t* at, T value) {
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i)
        at[i] = bytes[sizeof(T) - 1 - i];
}

template <typename T>
T Get(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

TEST_F(MarshallTest, ReversesEachMemberByItsOwnWidth) {
    // Int32, UInt16 ×3, UInt8, Inline (at 288: Int16 ×2, UInt32), String, Real32,
    // ReferenceToArray.
    Record(0, OrvaneInt32Member, 448, ~0u, 0);
    Record(32, OrvaneUInt16Member, 450, ~0u, 3);
    Record(64, OrvaneUInt8Member, 452, ~0u, 1);
    Record(96, OrvaneInlineMember, 454, 288, 5);  // an inline member's width is ignored
    Record(128, OrvaneStringMember, 456, ~0u, 0);
    Record(160, OrvaneReal32Member, 458, ~0u, 0);
    Record(192, OrvaneReferenceToArrayMember, 460, ~0u, 0);
    Record(224, OrvaneEndMember, ~0u, ~0u, 0);
    Record(288, OrvaneInt16Member, 462, ~0u, 2);
    Record(320, OrvaneUInt32Member, 464, ~0u, 0);
    Record(352, OrvaneEndMember, ~0u, ~0u, 0);
    for (uint32_t at = 448; at < 466; at += 2)
        Name(at, "n");
    ASSERT_TRUE(FixUp());

    constexpr uint32_t kSize = 4 + 6 + 1 + 8 + 4 + 4 + 8;  // 35 bytes in the file layout
    const uint32_t objectOffset = 3;  // objects of mixed widths may sit anywhere
    for (int object = 0; object < 2; ++object) {
        uint8_t* o = s.memory[1].data() + objectOffset + object * kSize;
        PutReversed<int32_t>(o, -123456 - object);
        PutReversed<uint16_t>(o + 4, 0x1234);
        PutReversed<uint16_t>(o + 6, 0x5678);
        PutReversed<uint16_t>(o + 8, 0x9ABC);
        o[10] = 0xC5;
        PutReversed<int16_t>(o + 11, -2);
        PutReversed<int16_t>(o + 13, 300);
        PutReversed<uint32_t>(o + 15, 0xDEADBEEFu);
        std::memcpy(o + 19, "\x01\x02\x03\x04", 4);  // a string slot is not reversed
        PutReversed<float>(o + 23, 1.5f);
        PutReversed<int32_t>(o + 27, 7);
        PutReversed<uint32_t>(o + 31, 0x00000002u);  // the array's slot: swapped, fixed later
    }
    s.memory[1][objectOffset + 2 * kSize] = 0x99;  // the byte after the objects stays

    ASSERT_TRUE(Marshall(2, objectOffset, {0, 0}));
    for (int object = 0; object < 2; ++object) {
        const uint8_t* o = s.memory[1].data() + objectOffset + object * kSize;
        EXPECT_EQ(Get<int32_t>(o), -123456 - object);
        EXPECT_EQ(Get<uint16_t>(o + 4), 0x1234);
        EXPECT_EQ(Get<uint16_t>(o + 6), 0x5678);
        EXPECT_EQ(Get<uint16_t>(o + 8), 0x9ABC);
        EXPECT_EQ(o[10], 0xC5);
        EXPECT_EQ(Get<int16_t>(o + 11), -2);
        EXPECT_EQ(Get<int16_t>(o + 13), 300);
        EXPECT_EQ(Get<uint32_t>(o + 15), 0xDEADBEEFu);
        EXPECT_EQ(std::memcmp(o + 19, "\x01\x02\x03\x04", 4), 0);
        EXPECT_EQ(Get<float>(o + 23), 1.5f);
        EXPECT_EQ(Get<int32_t>(o + 27), 7);
        EXPECT_EQ(Get<uint32_t>(o + 31), 2u);
    }
    EXPECT_EQ(s.memory[1][objectOffset + 2 * kSize], 0x99);
}

TEST_F(MarshallTest, RefusesObjectsAndDescriptionsOutsideTheirSections) {
    Record(0, OrvaneInt32Member, ~0u, ~0u, 0);
    Record(32, OrvaneUInt8Member, ~0u, ~0u, 4);
    Record(64, OrvaneEndMember, ~0u, ~0u, 0);  // 8 bytes per object
    // A description whose terminator lies past the end of section 0.
    Record(kTypeBytes - 32, OrvaneInt32Member, ~0u, ~0u, 0);
    ASSERT_TRUE(FixUp());
    for (uint32_t i = 0; i < kObjectBytes; ++i)
        s.memory[1][i] = uint8_t(i * 13 + 1);
    std::vector<uint8_t> before = s.memory[1];

    LogCapture log;
    EXPECT_TRUE(Marshall(32, 0, {0, 0}));  // exactly fills section 1
    EXPECT_NE(s.memory[1], before);
    EXPECT_EQ(s.memory[1][3], before[0]);  // the Int32 is reversed
    EXPECT_EQ(s.memory[1][4], before[4]);  // the bytes are not
    EXPECT_TRUE(Marshall(32, 0, {0, 0}));  // twice is the identity
    EXPECT_EQ(s.memory[1], before);

    const struct {
        uint32_t count, offset;
        orvane_ovn_reference type;
    } faults[] = {
        {33, 0, {0, 0}},                // one object too many
        {1, kObjectBytes - 7, {0, 0}},  // the last object crosses the end
        {1, kObjectBytes + 1, {0, 0}},  // starts past the end
        {0x80000000u, 0, {0, 0}},       // a count above INT32_MAX
        {0x20000000u, 0, {0, 0}},       // count × size wraps 32 bits
        {1, 0, {0, kTypeBytes - 32}},   // the terminator is outside section 0
        {1, 0, {0, kTypeBytes + 4}},    // the description starts outside
        {1, 0, {2, 0}},                 // no such section
    };
    for (const auto& fault : faults) {
        log.Clear();
        EXPECT_FALSE(Marshall(fault.count, fault.offset, fault.type))
            << fault.count << " " << fault.offset;
        EXPECT_EQ(log.errors(), 1u);
        EXPECT_EQ(s.memory[1], before);
    }
}

TEST_F(MarshallTest, RefusesMalformedDescriptionsWithoutTouchingTheObjects) {
    // 0: an inline member that embeds its own description (an endless object).
    Record(0, OrvaneInlineMember, ~0u, 0, 0);
    Record(32, OrvaneEndMember, ~0u, ~0u, 0);
    // 64: a member kind outside the table.
    Record(64, 21, ~0u, ~0u, 0);
    Record(96, OrvaneEndMember, ~0u, ~0u, 0);
    // 128: an inline member whose type slot has no fixup (a stored value that is no handle).
    Record(128, OrvaneInlineMember, ~0u, ~0u, 0);
    std::memcpy(s.memory[0].data() + 128 + 8, "\x40\x00\x00\x00", 4);
    Record(160, OrvaneEndMember, ~0u, ~0u, 0);
    // 192: a negative array width.
    Record(192, OrvaneInt16Member, ~0u, ~0u, -1);
    Record(224, OrvaneEndMember, ~0u, ~0u, 0);
    ASSERT_TRUE(FixUp());
    for (uint32_t i = 0; i < kObjectBytes; ++i)
        s.memory[1][i] = uint8_t(i);
    std::vector<uint8_t> before = s.memory[1];
    LogCapture log;
    for (uint32_t type : {0u, 64u, 192u}) {
        log.Clear();
        EXPECT_FALSE(Marshall(1, 0, {0, type})) << type;
        EXPECT_EQ(log.errors(), 1u);
        EXPECT_EQ(s.memory[1], before);
    }
    // The slot that is no handle decodes to null, never to an address.
    Marshall(1, 0, {0, 128});
    EXPECT_EQ(s.memory[1], before);
}

TEST_F(MarshallTest, RefusesObjectsThatOverlapTheirOwnDescription) {
    // The description lies in section 1 among the objects it would reverse: reversing them
    // would rewrite the records under the walk.
    uint8_t* r = s.memory[1].data();
    const int32_t kinds[4] = {OrvaneInt32Member, OrvaneUInt16Member, OrvaneUInt8Member, 0};
    for (int i = 0; i < 4; ++i)
        std::memcpy(r + 32 * i, &kinds[i], 4);  // 7 bytes per object
    std::vector<uint8_t> before = s.memory[1];
    LogCapture log;
    EXPECT_FALSE(Marshall(20, 0, {1, 0}));
    EXPECT_FALSE(Marshall(1, 90, {1, 32}));  // a shorter description, still among them
    EXPECT_EQ(s.memory[1], before);
    EXPECT_EQ(log.errors(), 2u);
    // Objects after the description are fine.
    EXPECT_TRUE(Marshall(2, 128, {1, 0}));
}

TEST_F(MarshallTest, ArgumentsThatCannotBeUsedAreRefused) {
    LogCapture log;
    orvane_ovn_marshalling_fixup fixup = {1, 0, {0, 0}};
    EXPECT_FALSE(OrvaneOVNMarshall(nullptr, 1, 1, &fixup));
    EXPECT_FALSE(OrvaneOVNMarshall(&s.view, 2, 1, &fixup));
    EXPECT_FALSE(OrvaneOVNMarshall(&s.view, 1, 1, nullptr));
    s.Unload(1);
    EXPECT_FALSE(OrvaneOVNMarshall(&s.view, 1, 1, &fixup));
    EXPECT_EQ(log.errors(), 4u);
    EXPECT_TRUE(OrvaneOVNMarshall(&s.view, 0, 0, nullptr));
}

}  // namespace
