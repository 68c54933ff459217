// The variant builder: a type description and one object of it, assembled member by member.
#include <climits>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "types/orvane_type_layout.h"
#include "orvane/variant_builder.h"

namespace {

// One member: its record, then its value bytes in the same allocation.
struct VariantMemberNode {
    orvane_data_type_definition record;
    void* value;
    VariantMemberNode* next;
};

}  // namespace

struct orvane_variant_builder {
    orvane_string_table* strings;
    int32_t memberCount;  // the terminator included
    int32_t objectSize;
    VariantMemberNode* first;
    VariantMemberNode* last;
};

namespace orvane {
namespace {

// Appends a member whose value is `valueSize` bytes at `value` followed by zeros up to the
// member size; null (builder unchanged) when the name cannot be interned or memory runs out.
orvane_variant_builder* AddMember(orvane_variant_builder* builder, orvane_member_type kind,
                                  const char* name, orvane_data_type_definition* type,
                                  int32_t width, const void* value, size_t valueSize) {
    if (builder == nullptr) {
        ORVANE_LOG_ERROR(OrvaneMemberIteratorOrigin, "Builder is not allowed to be 0");
        return nullptr;
    }
    orvane_data_type_definition record = MemberRecord(kind, nullptr, type, width);
    if (name != nullptr) {
        record.Name = OrvaneMapString(builder->strings, name);
        if (record.Name == nullptr) return nullptr;
    }
    const int32_t size = NativeMemberSize(&record);
    if (builder->objectSize > INT32_MAX - size || builder->memberCount == INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneMemberIteratorOrigin, "Variant is too large to add member %s", name);
        return nullptr;
    }
    void* memory = ORVANE_ALLOCATE(alignof(VariantMemberNode), sizeof(VariantMemberNode) + size);
    if (memory == nullptr) return nullptr;
    auto* node = new (memory) VariantMemberNode{record, nullptr, nullptr};
    node->value = node + 1;
    std::memset(node->value, 0, static_cast<size_t>(size));
    Copy(valueSize < static_cast<size_t>(size) ? valueSize : static_cast<size_t>(size), value,
         node->value);
    if (builder->last) {
        builder->last->next = node;
    } else {
        builder->first = node;
    }
    builder->last = node;
    ++builder->memberCount;
    builder->objectSize += size;
    return builder;
}

void FreeBuilder(orvane_variant_builder* builder) {
    for (VariantMemberNode* node = builder->first; node != nullptr;) {
        VariantMemberNode* next = node->next;
        ORVANE_DEALLOCATE(node);
        node = next;
    }
    ORVANE_DEALLOCATE(builder);
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_variant_builder* OrvaneBeginVariant(orvane_string_table* StringTable) {
    ORVANE_CHECK_NOT_NULL(OrvaneMemberIteratorOrigin, StringTable, nullptr);
    void* memory = ORVANE_ALLOCATE(alignof(orvane_variant_builder), sizeof(orvane_variant_builder));
    if (memory == nullptr) return nullptr;
    return new (memory) orvane_variant_builder{StringTable, 1, 0, nullptr, nullptr};
}

ORVANE_API orvane_variant_builder* OrvaneAddScalarMember(orvane_variant_builder* Builder,
                                                         const char* Name, orvane_real32 Value) {
    return AddMember(Builder, OrvaneReal32Member, Name, nullptr, 0, &Value, sizeof Value);
}

ORVANE_API orvane_variant_builder* OrvaneAddIntegerMember(orvane_variant_builder* Builder,
                                                          const char* Name, orvane_int32 Value) {
    return AddMember(Builder, OrvaneInt32Member, Name, nullptr, 0, &Value, sizeof Value);
}

ORVANE_API orvane_variant_builder* OrvaneAddScalarArrayMember(orvane_variant_builder* Builder,
                                                              const char* Name, orvane_int32 Width,
                                                              const orvane_real32* Values) {
    if (Width < 0) {
        ORVANE_LOG_ERROR(OrvaneMemberIteratorOrigin, "Width %d is out of range [0, %d)",
                         static_cast<int>(Width), INT32_MAX);
        return nullptr;
    }
    if (Values == nullptr && Width > 0) {
        ORVANE_LOG_ERROR(OrvaneMemberIteratorOrigin, "Values is not allowed to be 0");
        return nullptr;
    }
    return AddMember(Builder, OrvaneReal32Member, Name, nullptr, Width, Values,
                     static_cast<size_t>(Width) * sizeof(orvane_real32));
}

ORVANE_API orvane_variant_builder* OrvaneAddStringMember(orvane_variant_builder* Builder,
                                                         const char* Name, const char* Value) {
    char* interned = nullptr;
    if (Builder != nullptr && Value != nullptr) {
        interned = OrvaneMapString(Builder->strings, Value);
        if (interned == nullptr) return nullptr;
    }
    return AddMember(Builder, OrvaneStringMember, Name, nullptr, 0, &interned, sizeof interned);
}

ORVANE_API orvane_variant_builder* OrvaneAddReferenceMember(orvane_variant_builder* Builder,
                                                            const char* Name,
                                                            orvane_data_type_definition* Type,
                                                            void* Value) {
    return AddMember(Builder, OrvaneReferenceMember, Name, Type, 0, &Value, sizeof Value);
}

ORVANE_API orvane_variant_builder* OrvaneAddDynamicArrayMember(orvane_variant_builder* Builder,
                                                               const char* Name, orvane_int32 Count,
                                                               orvane_data_type_definition* Type,
                                                               void* ArrayEntries) {
    if (Count < 0) {
        ORVANE_LOG_ERROR(OrvaneMemberIteratorOrigin, "Count %d is out of range [0, %d)",
                         static_cast<int>(Count), INT32_MAX);
        return nullptr;
    }
    // The member's value: the count, then the pointer, packed as in every content record.
    unsigned char value[sizeof(orvane_int32) + sizeof(void*)];
    std::memcpy(value, &Count, sizeof Count);
    std::memcpy(value + sizeof Count, &ArrayEntries, sizeof ArrayEntries);
    return AddMember(Builder, OrvaneReferenceToArrayMember, Name, Type, 0, value, sizeof value);
}

ORVANE_API orvane_int32 OrvaneGetResultingVariantTypeSize(const orvane_variant_builder* Builder) {
    if (Builder == nullptr) return 0;
    return Builder->memberCount * static_cast<int32_t>(sizeof(orvane_data_type_definition));
}

ORVANE_API orvane_int32 OrvaneGetResultingVariantObjectSize(const orvane_variant_builder* Builder) {
    if (Builder == nullptr) return 0;
    return Builder->objectSize == 0 ? 4 : Builder->objectSize;
}

ORVANE_API orvane_bool OrvaneEndVariantInPlace(orvane_variant_builder* Builder, void* TypeMemory,
                                               orvane_data_type_definition** ResultType,
                                               void* ObjectMemory, void** ResultObject) {
    orvane_data_type_definition* type = nullptr;
    void* object = nullptr;
    if (Builder != nullptr) {
        if (TypeMemory != nullptr && ObjectMemory != nullptr) {
            type = static_cast<orvane_data_type_definition*>(TypeMemory);
            object = ObjectMemory;
            auto* record = static_cast<unsigned char*>(TypeMemory);
            auto* value = static_cast<unsigned char*>(ObjectMemory);
            for (VariantMemberNode* node = Builder->first; node != nullptr; node = node->next) {
                std::memcpy(record, &node->record, sizeof node->record);
                record += sizeof node->record;
                const int32_t size = NativeMemberSize(&node->record);
                Copy(static_cast<size_t>(size), node->value, value);
                value += size;
            }
            // A whole terminator, not only its kind: the record may be written to a file as it
            // stands, and its other fields must not carry whatever the memory held.
            const orvane_data_type_definition end = EndRecord();
            std::memcpy(record, &end, sizeof end);
            if (Builder->objectSize == 0) std::memset(ObjectMemory, 0, 4);
        }
        FreeBuilder(Builder);
    }
    if (ResultType) *ResultType = type;
    if (ResultObject) *ResultObject = object;
    return type != nullptr && object != nullptr;
}

ORVANE_API orvane_bool OrvaneEndVariant(orvane_variant_builder* Builder,
                                        orvane_data_type_definition** ResultType,
                                        void** ResultObject) {
    if (ResultType) *ResultType = nullptr;
    if (ResultObject) *ResultObject = nullptr;
    if (Builder == nullptr) return false;
    // The block is released through the type pointer: a result without it could never be freed.
    if (ResultType == nullptr) {
        ORVANE_LOG_ERROR(OrvaneMemberIteratorOrigin, "ResultType is not allowed to be 0");
        return OrvaneEndVariantInPlace(Builder, nullptr, nullptr, nullptr, nullptr);
    }
    const size_t typeSize = static_cast<size_t>(OrvaneGetResultingVariantTypeSize(Builder));
    const size_t objectSize = static_cast<size_t>(OrvaneGetResultingVariantObjectSize(Builder));
    void* block = ORVANE_ALLOCATE(alignof(orvane_data_type_definition), typeSize + objectSize);
    void* objectMemory = block ? static_cast<unsigned char*>(block) + typeSize : nullptr;
    return OrvaneEndVariantInPlace(Builder, block, ResultType, objectMemory, ResultObject);
}

}  // extern "C"
