// The object tree of `orvane info --tree`, walked through the type descriptions.
#include <cstdio>
#include <cstring>

#include "tool.h"
#include "types/orvane_member_iterator.h"

namespace orvane_tool {

namespace {

template <typename T>
T Get(const uint8_t* at) {
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

constexpr int kElementsShown = 6;

void Indent(int depth) {
    for (int i = 0; i < depth; ++i)
        std::fputs("  ", stdout);
}

void DumpValue(const orvane_data_type_definition* m, const uint8_t* at) {
    const int32_t width = OrvaneGetMemberArrayWidth(m);
    const int32_t shown = width < 16 ? width : 16;
    for (int32_t i = 0; i < shown; ++i) {
        if (i) std::fputs(" ", stdout);
        switch (m->Type) {
            case OrvaneReal32Member:
                std::printf("%g", double(Get<float>(at + 4 * i)));
                break;
            case OrvaneInt8Member:
            case OrvaneBinormalInt8Member:
                std::printf("%d", int(Get<int8_t>(at + i)));
                break;
            case OrvaneUInt8Member:
            case OrvaneNormalUInt8Member:
                std::printf("%u", unsigned(at[i]));
                break;
            case OrvaneInt16Member:
            case OrvaneBinormalInt16Member:
                std::printf("%d", int(Get<int16_t>(at + 2 * i)));
                break;
            case OrvaneUInt16Member:
            case OrvaneNormalUInt16Member:
                std::printf("%u", unsigned(Get<uint16_t>(at + 2 * i)));
                break;
            case OrvaneInt32Member:
                std::printf("%d", Get<int32_t>(at + 4 * i));
                break;
            case OrvaneUInt32Member:
                std::printf("%u", Get<uint32_t>(at + 4 * i));
                break;
            case OrvaneTransformMember: {
                const uint8_t* t = at + 68 * i;
                std::printf("{flags %u, position %g %g %g, orientation %g %g %g %g}",
                            Get<uint32_t>(t), double(Get<float>(t + 4)), double(Get<float>(t + 8)),
                            double(Get<float>(t + 12)), double(Get<float>(t + 16)),
                            double(Get<float>(t + 20)), double(Get<float>(t + 24)),
                            double(Get<float>(t + 28)));
                break;
            }
            default:
                break;
        }
    }
    if (shown < width) std::printf(" ... (%d values)", width);
    std::printf("\n");
}

// Elements of an array (mode kArrayElements) or the objects behind an array of pointers (mode
// kPointerEntries), the first few of them.
void DumpElements(orvane::MemberIterator elements, int32_t count, int depth, int maxDepth) {
    int32_t shown = 0;
    for (; elements.Valid() && shown < kElementsShown; elements.Advance(), ++shown) {
        Indent(depth);
        if (elements.mode == orvane::kPointerEntries) {
            const auto* target = static_cast<const uint8_t*>(elements.Pointer());
            std::printf("[%d]%s\n", shown, target ? "" : " null");
            if (target) DumpObject(elements.subType, target, depth + 1, maxDepth);
        } else {
            std::printf("[%d]\n", shown);
            DumpObject(elements.member, elements.data, depth + 1, maxDepth);
        }
    }
    if (count > shown && shown == kElementsShown) {
        Indent(depth);
        std::printf("... %d more\n", count - shown);
    }
}

}  // namespace

// Walks the members through the type system's iterator, which knows where each kind keeps its
// count, pointer and type in the native layout.
void DumpObject(const orvane_data_type_definition* type, const uint8_t* object, int depth,
                int maxDepth) {
    if (type == nullptr || object == nullptr) return;
    for (orvane::MemberIterator it =
             orvane::MemberIterator::OverMembers(type, const_cast<uint8_t*>(object));
         it.Valid(); it.Advance()) {
        const orvane_data_type_definition* m = it.member;
        Indent(depth);
        std::printf("%s: ", m->Name ? m->Name : "?");
        const bool deeper = depth < maxDepth;
        switch (it.kind) {
            case OrvaneInlineMember:
                std::printf("\n");
                DumpObject(m->ReferenceType, it.data, depth + 1, maxDepth);
                break;
            case OrvaneStringMember: {
                const auto* text = static_cast<const char*>(it.Pointer());
                std::printf(text ? "\"%s\"\n" : "null\n", text);
                break;
            }
            case OrvaneReferenceMember: {
                const auto* target = static_cast<const uint8_t*>(it.Pointer());
                std::printf("%s\n", target ? DescribeType(it.subType) : "null");
                if (target && deeper) DumpObject(it.subType, target, depth + 1, maxDepth);
                break;
            }
            case OrvaneReferenceToArrayMember:
                std::printf("%d x %s\n", it.Count(), DescribeType(it.subType));
                if (it.ArrayPointer() && deeper)
                    DumpElements(it.SubArray(), it.Count(), depth + 1, maxDepth);
                break;
            case OrvaneArrayOfReferencesMember:
                std::printf("%d references to %s\n", it.Count(), DescribeType(it.subType));
                if (it.ArrayPointer() && deeper)
                    DumpElements(it.SubArray(), it.Count(), depth + 1, maxDepth);
                break;
            case OrvaneVariantReferenceMember: {
                const auto* target = static_cast<const uint8_t*>(it.Pointer());
                std::printf("variant %s\n", target ? DescribeType(it.Type()) : "null");
                if (it.Type() && target && deeper)
                    DumpObject(it.Type(), target, depth + 1, maxDepth);
                break;
            }
            case OrvaneSwitchableTypeMember:
                std::printf("switchable, entry %d\n", it.StoredCount());
                break;
            case OrvaneReferenceToVariantArrayMember:
                std::printf("%d x variant %s\n", it.Count(), DescribeType(it.Type()));
                if (it.Type() && it.ArrayPointer() && deeper)
                    DumpElements(it.SubArray(), it.Count(), depth + 1, maxDepth);
                break;
            default:
                DumpValue(m, it.data);
                break;
        }
    }
}

}  // namespace orvane_tool
