// Checks a description against the C struct that declares its native layout, and against the
// size its objects take in content files. Other modules' tests include it for their own
// descriptions (curve formats, vertex layouts).
#ifndef ORVANE_TESTS_TYPES_LAYOUT_CHECK_H
#define ORVANE_TESTS_TYPES_LAYOUT_CHECK_H

#include <cstddef>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "orvane/types.h"
#include "types/orvane_type_layout.h"

namespace orvane_test {

struct FieldOffset {
    const char* member;  // the member name in the description
    size_t offset;       // offsetof the struct field that holds it
};

// ORVANE_FIELD(orvane_bone, Name) -> {"Name", offsetof(orvane_bone, Name)}
#define ORVANE_FIELD(Struct, field)     \
    ::orvane_test::FieldOffset {        \
#field, offsetof(Struct, field) \
    }

// The description lists exactly `fields`, in order and by name; each member's offset computed
// from the description equals the field's offsetof; the native object size equals sizeof; and
// the file-layout object size equals fileSize.
inline void ExpectLayout(const char* label, const orvane_data_type_definition* type,
                         int32_t fileSize, size_t nativeSize,
                         std::initializer_list<FieldOffset> fields) {
    using orvane::DataLayout;
    using orvane::TypeRecords;
    SCOPED_TRACE(label);
    int32_t size = -1;
    ASSERT_TRUE(orvane::GetObjectSize(TypeRecords::Native(), DataLayout::File, type, &size));
    EXPECT_EQ(size, fileSize);
    ASSERT_TRUE(orvane::GetObjectSize(TypeRecords::Native(), DataLayout::Native, type, &size));
    EXPECT_EQ(size, static_cast<int32_t>(nativeSize));
    EXPECT_EQ(OrvaneGetTotalObjectSize(type), static_cast<int32_t>(nativeSize));
    const orvane_data_type_definition* member = type;
    for (const FieldOffset& field : fields) {
        ASSERT_NE(member->Type, OrvaneEndMember) << "description ends before " << field.member;
        EXPECT_EQ(std::string(member->Name), field.member);
        int32_t offset = -1;
        ASSERT_TRUE(orvane::GetMemberOffset(TypeRecords::Native(), DataLayout::Native, type, member,
                                            &offset));
        EXPECT_EQ(offset, static_cast<int32_t>(field.offset)) << field.member;
        ++member;
    }
    EXPECT_EQ(member->Type, OrvaneEndMember) << "description has more members than the struct";
}

}  // namespace orvane_test

#endif  // ORVANE_TESTS_TYPES_LAYOUT_CHECK_H
