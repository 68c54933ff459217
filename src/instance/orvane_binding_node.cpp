// Binding nodes: the library lock, the node pool, and the two rings each node sits in (its
// control's and its model instance's). Controls and model instances both build on this; it
// calls neither.
#include "instance/orvane_model_instance.h"

#include <cstring>

#include "core/orvane_memory.h"
#include "orvane/controlled_animation.h"

namespace orvane {
namespace {

orvane_fixed_allocator& BindingPool() {
    static orvane_fixed_allocator pool = [] {
        orvane_fixed_allocator p;
        OrvaneInitializeFixedAllocator(&p, int32_t(sizeof(orvane_model_control_binding)));
        return p;
    }();
    return pool;
}

void UnlinkFromModelRing(orvane_model_control_binding* b) {
    b->ModelPrevious->ModelNext = b->ModelNext;
    b->ModelNext->ModelPrevious = b->ModelPrevious;
}

void LinkIntoModelRing(orvane_model_control_binding* b, orvane_model_instance* instance,
                       bool atFront) {
    orvane_model_control_binding* head = &instance->BindingHead;
    if (atFront) {
        b->ModelPrevious = head;
        b->ModelNext = head->ModelNext;
    } else {
        b->ModelNext = head;
        b->ModelPrevious = head->ModelPrevious;
    }
    b->ModelPrevious->ModelNext = b;
    b->ModelNext->ModelPrevious = b;
}

}  // namespace

std::recursive_mutex& InstanceLock() {
    static std::recursive_mutex lock;
    return lock;
}

orvane_model_control_binding* BindControlToModel(const ControlBindingCallbacks* callbacks,
                                                 orvane_control* control,
                                                 orvane_model_instance* instance, bool atFront,
                                                 const void* initialData) {
    if (control == nullptr || instance == nullptr) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    auto* b = static_cast<orvane_model_control_binding*>(OrvaneAllocateFixed(&BindingPool()));
    if (b == nullptr) return nullptr;
    std::memset(static_cast<void*>(b), 0, sizeof(*b));
    b->Callbacks = callbacks;
    b->Control = control;
    b->ModelInstance = instance;
    orvane_model_control_binding* head = &control->BindingHead;
    b->ControlPrevious = head;
    b->ControlNext = head->ControlNext;
    head->ControlNext->ControlPrevious = b;
    head->ControlNext = b;
    LinkIntoModelRing(b, instance, atFront);
    if (callbacks && callbacks->InitializeBinding &&
        !callbacks->InitializeBinding(b, initialData)) {
        // A node whose kind could not set it up (its animation binding failed to build) is
        // never left where a sampling walk would find it. Its payload holds nothing to
        // release, and the control stays, whatever its free-when-unbound flag says: the
        // caller asked for a binding and decides what to do without one.
        UnlinkFromModelRing(b);
        b->ControlPrevious->ControlNext = b->ControlNext;
        b->ControlNext->ControlPrevious = b->ControlPrevious;
        OrvaneDeallocateFixed(&BindingPool(), b);
        return nullptr;
    }
    return b;
}

orvane_control* ReleaseBindingNode(orvane_model_control_binding* b) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    UnlinkFromModelRing(b);
    b->ControlPrevious->ControlNext = b->ControlNext;
    b->ControlNext->ControlPrevious = b->ControlPrevious;
    if (b->Callbacks && b->Callbacks->ReleaseBinding) b->Callbacks->ReleaseBinding(b);
    orvane_control* control = b->Control;
    OrvaneDeallocateFixed(&BindingPool(), b);
    return control;
}

void ReorderControlBindings(orvane_control& control) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    const bool front = ControlIsPlaying(control);
    orvane_model_control_binding* head = &control.BindingHead;
    for (orvane_model_control_binding* b = head->ControlNext; b != head; b = b->ControlNext) {
        UnlinkFromModelRing(b);
        LinkIntoModelRing(b, b->ModelInstance, front);
    }
}

}  // namespace orvane

using namespace orvane;

// What a node holds, whatever its kind: through the kind's callbacks, null where it has none.
ORVANE_API orvane_animation_binding* OrvaneGetAnimationBindingFromControlBinding(
    orvane_model_control_binding* Binding) {
    if (Binding == nullptr || Binding->Callbacks == nullptr ||
        Binding->Callbacks->AnimationBindingField == nullptr)
        return nullptr;
    return *Binding->Callbacks->AnimationBindingField(Binding);
}

ORVANE_API orvane_local_pose* OrvaneGetLocalPoseFromControlBinding(
    orvane_model_control_binding* Binding) {
    if (Binding == nullptr || Binding->Callbacks == nullptr ||
        Binding->Callbacks->LocalPoseField == nullptr)
        return nullptr;
    return *Binding->Callbacks->LocalPoseField(Binding);
}
