// Pointer rebasing: every pointer of a tree moved by one offset, strings optionally through a
// callback, descriptions reached through variants rebased with their objects.
#include "core/orvane_log.h"
#include "core/orvane_pointer_hash.h"
#include "diag/orvane_timing.h"
#include "types/orvane_convert.h"
#include "types/orvane_member_iterator.h"
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

using Type = orvane_data_type_definition;
using Byte = unsigned char;

constexpr int32_t kPointerBytes = static_cast<int32_t>(sizeof(void*));

template <typename T>
T* Moved(T* pointer, intptr_t offset) {
    if (pointer == nullptr) return nullptr;
    return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(pointer) +
                                static_cast<uintptr_t>(offset));
}

struct PendingObject {
    const Type* type;
    Byte* object;
};

// Each object, each array of pointers and each description is processed once (keyed by
// address, in separate sets since an array starts where its first element does), so shared
// sub-objects are moved once and cycles terminate. The walk is iterative: long chains cannot
// exhaust the stack.
class RebaseWalk {
public:
    RebaseWalk(intptr_t offset, bool rebaseStrings, orvane_rebase_string_callback callback,
               void* userData)
        : offset_(offset),
          rebaseStrings_(rebaseStrings),
          callback_(callback),
          userData_(userData) {}
    ~RebaseWalk() {
        DeletePointerHash(objects_);
        DeletePointerHash(arrays_);
        DeletePointerHash(types_);
    }

    bool Open() {
        objects_ = NewPointerHash();
        arrays_ = NewPointerHash();
        types_ = NewPointerHash();
        return objects_ && arrays_ && types_;
    }

    // False when the walk ran out of memory for its work (part of the tree is not moved).
    bool Run(const Type* type, void* object) {
        Reach(type, object);
        PendingObject item;
        while (stack_.Pop(&item))
            Walk(item);
        return ok_;
    }

private:
    bool FirstVisit(PointerHash* set, const void* key) {
        if (HashedPointerKeyExists(set, key, nullptr)) return false;
        return AddPointerHashEntry(set, key, nullptr);
    }

    void Push(const Type* type, Byte* object) {
        if (!stack_.Push({type, object})) ok_ = false;
    }

    // An object reached through a pointer (or as an array element).
    void Reach(const Type* type, void* object) {
        if (object == nullptr || type == nullptr || !OrvaneTypeHasPointers(type)) return;
        if (FirstVisit(objects_, object)) Push(type, static_cast<Byte*>(object));
    }

    char* MovedName(const char* name) {
        if (rebaseStrings_) return Moved(const_cast<char*>(name), offset_);
        if (callback_) return callback_(userData_, reinterpret_cast<uintptr_t>(name));
        return const_cast<char*>(name);
    }

    // A description reached through a variant: its names and referenced descriptions (and type
    // tables with their entries) are moved, each description and table once.
    void RebaseDescription(Type* type) {
        Array<Type*> pending;
        if (type == nullptr || !FirstVisit(types_, type)) return;
        if (!pending.Push(type)) ok_ = false;
        Type* description;
        while (pending.Pop(&description)) {
            for (Type* member = description; member->Type != OrvaneEndMember; ++member) {
                member->Name = MovedName(member->Name);
                if (member->ReferenceType == nullptr) continue;
                member->ReferenceType = Moved(member->ReferenceType, offset_);
                if (member->Type == OrvaneSwitchableTypeMember) {
                    auto** table = reinterpret_cast<Type**>(member->ReferenceType);
                    if (!FirstVisit(types_, table)) continue;
                    for (int32_t i = 0; table[i] != nullptr; ++i) {
                        table[i] = Moved(table[i], offset_);
                        if (FirstVisit(types_, table[i]) && !pending.Push(table[i])) ok_ = false;
                    }
                } else {
                    Type* referenced = member->ReferenceType;
                    if (FirstVisit(types_, referenced) && !pending.Push(referenced)) ok_ = false;
                }
            }
        }
    }

    void WalkElements(const Type* type, Byte* array, int32_t count) {
        if (array == nullptr || !OrvaneTypeHasPointers(type)) return;
        const int32_t size = NativeObjectSize(type);
        for (int32_t i = 0; i < count; ++i)
            Reach(type, array + static_cast<int64_t>(i) * size);
    }

    void Walk(const PendingObject& item) {
        for (MemberIterator it = MemberIterator::OverMembers(item.type, item.object); it.Valid();
             it.Advance()) {
            switch (it.kind) {
                case OrvaneInlineMember:
                    // Walked as part of its parent, also when it starts at the parent's address.
                    if (OrvaneTypeHasPointers(it.member->ReferenceType))
                        Push(it.member->ReferenceType, it.data);
                    break;
                case OrvaneReferenceMember:
                case OrvaneSwitchableTypeMember: {
                    void* pointer = Moved(it.Pointer(), offset_);
                    it.SetPointer(pointer);
                    Reach(it.subType, pointer);
                    break;
                }
                case OrvaneVariantReferenceMember: {
                    Type* type = Moved(it.Type(), offset_);
                    it.SetType(type);
                    RebaseDescription(type);
                    void* pointer = Moved(it.Pointer(), offset_);
                    it.SetPointer(pointer);
                    Reach(type, pointer);
                    break;
                }
                case OrvaneReferenceToArrayMember: {
                    auto* array = Moved(static_cast<Byte*>(it.ArrayPointer()), offset_);
                    it.SetArrayPointer(array);
                    WalkElements(it.subType, array, it.Count());
                    break;
                }
                case OrvaneReferenceToVariantArrayMember: {
                    Type* type = Moved(it.Type(), offset_);
                    it.SetType(type);
                    RebaseDescription(type);
                    auto* array = Moved(static_cast<Byte*>(it.ArrayPointer()), offset_);
                    it.SetArrayPointer(array);
                    WalkElements(type, array, it.Count());
                    break;
                }
                case OrvaneArrayOfReferencesMember: {
                    auto* array = Moved(static_cast<Byte*>(it.ArrayPointer()), offset_);
                    it.SetArrayPointer(array);
                    if (array == nullptr || !FirstVisit(arrays_, array)) break;
                    const int32_t count = it.Count();
                    for (int32_t i = 0; i < count; ++i) {
                        Byte* entry = array + static_cast<int64_t>(i) * kPointerBytes;
                        void* pointer;
                        std::memcpy(&pointer, entry, sizeof pointer);
                        pointer = Moved(pointer, offset_);
                        std::memcpy(entry, &pointer, sizeof pointer);
                        Reach(it.subType, pointer);
                    }
                    break;
                }
                case OrvaneStringMember: {
                    char* text = static_cast<char*>(it.Pointer());
                    if (rebaseStrings_)
                        it.SetPointer(Moved(text, offset_));
                    else if (callback_)
                        it.SetPointer(callback_(userData_, reinterpret_cast<uintptr_t>(text)));
                    break;
                }
                default:
                    break;
            }
        }
    }

    intptr_t offset_;
    bool rebaseStrings_;
    orvane_rebase_string_callback callback_;
    void* userData_;
    PointerHash* objects_ = nullptr;
    PointerHash* arrays_ = nullptr;
    PointerHash* types_ = nullptr;
    Array<PendingObject> stack_;
    bool ok_ = true;
};

bool Rebase(const Type* type, void* object, intptr_t offset, bool rebaseStrings,
            orvane_rebase_string_callback callback, void* userData) {
    RebaseWalk walk(offset, rebaseStrings, callback, userData);
    if (!walk.Open()) return false;
    return walk.Run(type, object);
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_bool OrvaneRebasePointers(const orvane_data_type_definition* Type, void* Object,
                                            intptr_t Offset, orvane_bool RebaseStrings) {
    ORVANE_TIMING_BLOCK("RebasePointers");
    return Rebase(Type, Object, Offset, RebaseStrings != 0, nullptr, nullptr);
}

ORVANE_API orvane_bool OrvaneRebasePointersStringCallback(const orvane_data_type_definition* Type,
                                                          void* Object, intptr_t Offset,
                                                          orvane_rebase_string_callback Callback,
                                                          void* UserData) {
    ORVANE_TIMING_BLOCK("RebasePointers");
    return Rebase(Type, Object, Offset, false, Callback, UserData);
}

}  // extern "C"
