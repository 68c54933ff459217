// Controls: their pool and global ring, the lazy local clock with its loops, completion, ease
// curves and the effective weight.
#include "instance/orvane_model_instance.h"

#include "core/orvane_log.h"
#include "core/orvane_memory.h"

#include <cmath>
#include <cstring>

namespace orvane {
namespace {

constexpr float kUnbounded = ORVANE_UNBOUNDED_REAL32;
constexpr uint32_t kDefaultEaseIn = 0xFFFF0000u;   // 0, 0, 255, 255 from the lowest byte
constexpr uint32_t kDefaultEaseOut = 0x0000FFFFu;  // 255, 255, 0, 0

orvane_fixed_allocator& ControlPool() {
    static orvane_fixed_allocator pool = [] {
        orvane_fixed_allocator p;
        OrvaneInitializeFixedAllocator(&p, int32_t(sizeof(orvane_control)));
        return p;
    }();
    return pool;
}

// The global ring's head; only its links are used. Linked to itself on first use, under the
// lock.
orvane_control& ControlRing() {
    static orvane_control head = [] {
        orvane_control h{};
        return h;
    }();
    if (head.GlobalNext == nullptr) head.GlobalNext = head.GlobalPrevious = &head;
    return head;
}

int32_t gLiveControls = 0;

// Loops to move by for a local clock: the whole loops in l / duration (a real32, truncated
// towards zero), one more down for a clock before the start, kept within int32. A clock run
// back by an exact multiple of the duration so lands at the end of the loop before, where a
// clock running backwards is still inside that loop.
int32_t LoopsIn(float l, float duration) {
    double n = std::trunc(double(float(l / duration)));
    if (l < 0.0f) n -= 1.0;
    if (!(n > -2147483647.0)) return -2147483647;
    if (n > 2147483647.0) return 2147483647;
    return int32_t(n);
}

// Moves the local clock into the loop its value lies in, within the loop count.
void Rewrap(orvane_control& c, int32_t baseLoop) {
    int64_t index = int64_t(baseLoop) + LoopsIn(c.LocalClock, c.LocalDuration);
    if (c.LoopCount != 0) {
        if (index < 0) index = 0;
        if (index > int64_t(c.LoopCount) - 1) index = int64_t(c.LoopCount) - 1;
    }
    if (index > INT32_MAX) index = INT32_MAX;
    if (index < INT32_MIN + 1) index = INT32_MIN + 1;
    const int64_t d = index - c.LoopIndex;
    if (d != 0) {
        c.LoopIndex = int32_t(index);
        c.LocalClock -= float(double(d) * double(c.LocalDuration));
    }
}

float CurveByte(uint32_t values, int i) {
    return float((values >> (8 * i)) & 0xFFu) * 0.003921569f;
}

float EaseCurve(uint32_t values, float start, float end, float c) {
    float t;
    if (end - start == 0.0f) {
        t = start > c ? 0.0f : 1.0f;
    } else {
        t = (c - start) / (end - start);
        if (t < 0.0f) t = 0.0f;
        if (t > 1.0f) t = 1.0f;
    }
    const float u = 1.0f - t;
    return u * u * u * CurveByte(values, 0) + 3.0f * u * u * t * CurveByte(values, 1) +
           3.0f * u * t * t * CurveByte(values, 2) + t * t * t * CurveByte(values, 3);
}

// Values outside [0, 1] are clamped so that one byte cannot spill into its neighbour.
uint32_t PackCurve(float v0, float v1, float v2, float v3) {
    const float v[4] = {v0, v1, v2, v3};
    uint32_t packed = 0;
    for (int i = 0; i < 4; ++i) {
        float x = v[i];
        if (!(x >= 0.0f)) x = 0.0f;
        if (x > 1.0f) x = 1.0f;
        packed |= uint32_t(std::lround(x * 255.0f)) << (8 * i);
    }
    return packed;
}

float EaseMultiplier(const orvane_control& c) {
    const float clock = c.CurrentClock;
    const bool in = c.Flags & OrvaneControlEaseIn;
    const bool out = c.Flags & OrvaneControlEaseOut;
    if (in && out && c.EaseInStartClock >= c.EaseOutStartClock) {
        if (clock <= c.EaseOutEndClock)
            return EaseCurve(c.EaseOutValues, c.EaseOutStartClock, c.EaseOutEndClock, clock);
        if (clock <= c.EaseInStartClock) {
            const float span = c.EaseInStartClock - c.EaseOutEndClock;
            const float t = span != 0.0f ? (clock - c.EaseOutEndClock) / span : 1.0f;
            return (1.0f - t) * CurveByte(c.EaseOutValues, 3) + t * CurveByte(c.EaseInValues, 0);
        }
        if (clock <= c.EaseInEndClock)
            return EaseCurve(c.EaseInValues, c.EaseInStartClock, c.EaseInEndClock, clock);
        return 1.0f;
    }
    float m = 1.0f;
    if (out && clock >= c.EaseOutStartClock)
        m = EaseCurve(c.EaseOutValues, c.EaseOutStartClock, c.EaseOutEndClock, clock);
    if (in && clock <= c.EaseInEndClock)
        m = EaseCurve(c.EaseInValues, c.EaseInStartClock, c.EaseInEndClock, clock);
    return m;
}

}  // namespace

void UpdateLocalClock(orvane_control& c) {
    if (c.PendingClockDelta == 0.0f) return;
    const float l = c.LocalClock + c.Speed * c.PendingClockDelta;
    c.LocalClock = l;
    c.PendingClockDelta = 0.0f;
    // A clip without length (a file may say so) has no loops to wrap into.
    if (!(c.LocalDuration > 0.0f) || !std::isfinite(l)) return;
    if (l < 0.0f) {
        if (c.LoopCount != 0 && c.LoopIndex <= 0) return;
    } else {
        if (l < c.LocalDuration) return;
        if (c.LoopCount != 0 && int64_t(c.LoopIndex) >= int64_t(c.LoopCount) - 1) return;
    }
    Rewrap(c, c.LoopIndex);
}

float ClampedLocalClock(orvane_control& c) {
    UpdateLocalClock(c);
    float l = c.LocalClock;
    if (l > c.LocalDuration) l = c.LocalDuration;
    if (!(l >= 0.0f)) l = 0.0f;
    return l;
}

void LoopState(orvane_control& c, bool* before, bool* after) {
    UpdateLocalClock(c);
    bool b, a;
    if (c.Flags & OrvaneControlForceClampedLooping) {
        b = a = false;
    } else if (c.LoopCount == 0) {
        b = a = true;
    } else {
        b = c.LoopIndex > 0;
        a = int64_t(c.LoopIndex) < int64_t(c.LoopCount) - 1;
    }
    if (before) *before = b;
    if (after) *after = a;
}

float EffectiveWeight(const orvane_control& c) {
    if (!(c.Flags & OrvaneControlActive)) return 0.0f;
    return EaseMultiplier(c) * c.Weight;
}

void FreeBindingNode(orvane_model_control_binding* b) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    orvane_control* control = ReleaseBindingNode(b);
    if ((control->Flags & OrvaneControlFreeWhenUnbound) &&
        control->BindingHead.ControlNext == &control->BindingHead)
        OrvaneFreeControl(control);
}

int32_t LiveControlCount() {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return gLiveControls;
}

}  // namespace orvane

using namespace orvane;

ORVANE_API orvane_control* OrvaneCreateControl(orvane_real32 CurrentClock,
                                               orvane_real32 LocalDuration) {
    // The clock divides by the duration and shifts by both: a control never holds a value
    // that is not a number or infinite.
    if (!std::isfinite(CurrentClock) || !std::isfinite(LocalDuration)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "CurrentClock %f or LocalDuration %f is not finite",
                         double(CurrentClock), double(LocalDuration));
        return nullptr;
    }
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    auto* c = static_cast<orvane_control*>(OrvaneAllocateFixed(&ControlPool()));
    if (c == nullptr) return nullptr;
    std::memset(static_cast<void*>(c), 0, sizeof(*c));
    c->BindingHead.ControlNext = c->BindingHead.ControlPrevious = &c->BindingHead;
    c->BindingHead.Control = c;
    c->Flags = OrvaneControlActive;
    c->CurrentClock = CurrentClock;
    c->Speed = 1.0f;
    c->LocalDuration = LocalDuration;
    c->LoopCount = 1;
    c->Weight = 1.0f;
    c->EaseInValues = kDefaultEaseIn;
    c->EaseOutValues = kDefaultEaseOut;
    orvane_control& head = ControlRing();
    c->GlobalNext = head.GlobalNext;
    c->GlobalPrevious = &head;
    head.GlobalNext->GlobalPrevious = c;
    head.GlobalNext = c;
    ++gLiveControls;
    return c;
}

ORVANE_API void OrvaneFreeControl(orvane_control* Control) {
    if (Control == nullptr) return;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    // Cleared first so that the free-when-unbound rule cannot free it a second time.
    Control->Flags &= ~uint32_t(OrvaneControlActive | OrvaneControlCheckCompletion |
                                OrvaneControlFreeWhenUnbound);
    Control->GlobalPrevious->GlobalNext = Control->GlobalNext;
    Control->GlobalNext->GlobalPrevious = Control->GlobalPrevious;
    orvane_model_control_binding* head = &Control->BindingHead;
    while (head->ControlNext != head)
        FreeBindingNode(head->ControlNext);
    --gLiveControls;
    OrvaneDeallocateFixed(&ControlPool(), Control);
}

ORVANE_API void OrvaneFreeControlOnceUnused(orvane_control* Control) {
    if (Control == nullptr) return;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    Control->Flags |= OrvaneControlFreeWhenUnbound;
    if (Control->BindingHead.ControlNext == &Control->BindingHead) OrvaneFreeControl(Control);
}

ORVANE_API orvane_bool OrvaneControlIsComplete(const orvane_control* Control) {
    return (Control->Flags & OrvaneControlCheckCompletion) &&
           Control->CurrentClock >= Control->CompletionClock;
}

ORVANE_API orvane_bool OrvaneFreeControlIfComplete(orvane_control* Control) {
    if (Control == nullptr || !OrvaneControlIsComplete(Control)) return false;
    OrvaneFreeControl(Control);
    return true;
}

ORVANE_API void OrvaneCompleteControlAt(orvane_control* Control, orvane_real32 AtClock) {
    Control->CompletionClock = AtClock;
    Control->Flags |= OrvaneControlCheckCompletion;
}

ORVANE_API orvane_real32 OrvaneGetControlCompletionClock(const orvane_control* Control) {
    return Control->CompletionClock;
}

ORVANE_API orvane_bool OrvaneGetControlCompletionCheckFlag(const orvane_control* Control) {
    return (Control->Flags & OrvaneControlCheckCompletion) != 0;
}

ORVANE_API void OrvaneSetControlCompletionCheckFlag(orvane_control* Control, orvane_bool Check) {
    if (Check)
        Control->Flags |= OrvaneControlCheckCompletion;
    else
        Control->Flags &= ~uint32_t(OrvaneControlCheckCompletion);
}

ORVANE_API orvane_real32 OrvaneGetControlClock(const orvane_control* Control) {
    return Control->CurrentClock;
}

ORVANE_API void OrvaneSetControlClock(orvane_control* Control, orvane_real32 NewClock) {
    if (!std::isfinite(NewClock)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "NewClock %f is not finite", double(NewClock));
        return;
    }
    Control->PendingClockDelta += NewClock - Control->CurrentClock;
    Control->CurrentClock = NewClock;
}

ORVANE_API void OrvaneSetControlClockOnly(orvane_control* Control, orvane_real32 NewClock) {
    if (!std::isfinite(NewClock)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "NewClock %f is not finite", double(NewClock));
        return;
    }
    Control->CurrentClock = NewClock;
}

ORVANE_API orvane_real32 OrvaneGetControlRawLocalClock(orvane_control* Control) {
    UpdateLocalClock(*Control);
    return Control->LocalClock;
}

ORVANE_API void OrvaneSetControlRawLocalClock(orvane_control* Control, orvane_real32 LocalClock) {
    if (!std::isfinite(LocalClock)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "LocalClock %f is not finite", double(LocalClock));
        return;
    }
    Control->LocalClock = LocalClock;
    Control->PendingClockDelta = 0.0f;
}

ORVANE_API orvane_real32 OrvaneGetControlClampedLocalClock(orvane_control* Control) {
    return ClampedLocalClock(*Control);
}

ORVANE_API orvane_real32 OrvaneGetControlLocalDuration(const orvane_control* Control) {
    return Control->LocalDuration;
}

ORVANE_API orvane_real32 OrvaneGetControlDuration(const orvane_control* Control) {
    const orvane_control& c = *Control;
    if (c.LoopCount == 0 || c.Speed == 0.0f) return kUnbounded;
    if (c.Speed > 0.0f) return c.LocalDuration / c.Speed * float(c.LoopCount);
    return -c.LocalDuration / c.Speed * float(c.LoopCount);
}

ORVANE_API orvane_real32 OrvaneGetControlDurationLeft(orvane_control* Control) {
    orvane_control& c = *Control;
    UpdateLocalClock(c);
    if (c.LoopCount == 0 || c.Speed == 0.0f) return kUnbounded;
    const float s = 1.0f / c.Speed;
    const float l = c.LocalClock;
    if (c.Speed > 0.0f) {
        if (c.LoopIndex >= c.LoopCount) return 0.0f;
        // In 64 bits: a loop index set far below 0 would overflow the count of loops left.
        return s * c.LocalDuration * float(int64_t(c.LoopCount) - c.LoopIndex - 1) +
               s * (c.LocalDuration - l);
    }
    if (c.LoopIndex < 0) return 0.0f;
    return -s * c.LocalDuration * float(c.LoopIndex) - s * l;
}

ORVANE_API orvane_real32 OrvaneGetControlSpeed(const orvane_control* Control) {
    return Control->Speed;
}

ORVANE_API void OrvaneSetControlSpeed(orvane_control* Control, orvane_real32 Speed) {
    if (!std::isfinite(Speed)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Speed %f is not finite", double(Speed));
        return;
    }
    Control->Speed = Speed;
}

ORVANE_API orvane_int32 OrvaneGetControlLoopCount(const orvane_control* Control) {
    return Control->LoopCount;
}

ORVANE_API void OrvaneSetControlLoopCount(orvane_control* Control, orvane_int32 LoopCount) {
    Control->LoopCount = LoopCount;
}

ORVANE_API orvane_int32 OrvaneGetControlLoopIndex(orvane_control* Control) {
    UpdateLocalClock(*Control);
    return Control->LoopIndex;
}

ORVANE_API void OrvaneSetControlLoopIndex(orvane_control* Control, orvane_int32 LoopIndex) {
    Control->LoopIndex = LoopIndex;
}

ORVANE_API void OrvaneGetControlLoopState(orvane_control* Control, orvane_bool* UnderflowLoop,
                                          orvane_bool* OverflowLoop) {
    bool before, after;
    LoopState(*Control, &before, &after);
    if (UnderflowLoop) *UnderflowLoop = before;
    if (OverflowLoop) *OverflowLoop = after;
}

ORVANE_API orvane_real32 OrvaneGetControlWeight(const orvane_control* Control) {
    return Control->Weight;
}

ORVANE_API void OrvaneSetControlWeight(orvane_control* Control, orvane_real32 Weight) {
    if (!std::isfinite(Weight)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Weight %f is not finite", double(Weight));
        return;
    }
    const bool wasZero = Control->Weight == 0.0f;
    Control->Weight = Weight;
    if (wasZero != (Weight == 0.0f)) ReorderControlBindings(*Control);
}

ORVANE_API orvane_bool OrvaneControlIsActive(const orvane_control* Control) {
    return (Control->Flags & OrvaneControlActive) != 0;
}

ORVANE_API void OrvaneSetControlActive(orvane_control* Control, orvane_bool Active) {
    const bool was = (Control->Flags & OrvaneControlActive) != 0;
    if (was == bool(Active)) return;
    if (Active)
        Control->Flags |= OrvaneControlActive;
    else
        Control->Flags &= ~uint32_t(OrvaneControlActive);
    ReorderControlBindings(*Control);
}

ORVANE_API orvane_real32 OrvaneGetControlEffectiveWeight(const orvane_control* Control) {
    return EffectiveWeight(*Control);
}

ORVANE_API orvane_real32 OrvaneGetControlEaseCurveMultiplier(const orvane_control* Control) {
    return EaseMultiplier(*Control);
}

ORVANE_API void OrvaneSetControlEaseIn(orvane_control* Control, orvane_bool EaseIn) {
    if (EaseIn)
        Control->Flags |= OrvaneControlEaseIn;
    else
        Control->Flags &= ~uint32_t(OrvaneControlEaseIn);
}

ORVANE_API void OrvaneSetControlEaseOut(orvane_control* Control, orvane_bool EaseOut) {
    if (EaseOut)
        Control->Flags |= OrvaneControlEaseOut;
    else
        Control->Flags &= ~uint32_t(OrvaneControlEaseOut);
}

ORVANE_API void OrvaneSetControlEaseInCurve(orvane_control* Control, orvane_real32 StartClock,
                                            orvane_real32 EndClock, orvane_real32 V0,
                                            orvane_real32 V1, orvane_real32 V2, orvane_real32 V3) {
    if (!std::isfinite(StartClock) || !std::isfinite(EndClock)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "StartClock %f or EndClock %f is not finite",
                         double(StartClock), double(EndClock));
        return;
    }
    Control->EaseInStartClock = StartClock;
    Control->EaseInEndClock = EndClock;
    Control->EaseInValues = PackCurve(V0, V1, V2, V3);
}

ORVANE_API void OrvaneSetControlEaseOutCurve(orvane_control* Control, orvane_real32 StartClock,
                                             orvane_real32 EndClock, orvane_real32 V0,
                                             orvane_real32 V1, orvane_real32 V2, orvane_real32 V3) {
    if (!std::isfinite(StartClock) || !std::isfinite(EndClock)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "StartClock %f or EndClock %f is not finite",
                         double(StartClock), double(EndClock));
        return;
    }
    Control->EaseOutStartClock = StartClock;
    Control->EaseOutEndClock = EndClock;
    Control->EaseOutValues = PackCurve(V0, V1, V2, V3);
}

ORVANE_API orvane_real32 OrvaneEaseControlIn(orvane_control* Control, orvane_real32 Duration,
                                             orvane_bool FromCurrent) {
    const float c = Control->CurrentClock;
    if (!std::isfinite(c + Duration)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Duration %f is not finite", double(Duration));
        return c;
    }
    const float m = FromCurrent ? EaseMultiplier(*Control) : 0.0f;
    Control->Flags |= OrvaneControlEaseIn;
    Control->Flags &= ~uint32_t(OrvaneControlEaseOut);
    OrvaneSetControlEaseInCurve(Control, c, c + Duration, m, m, 1.0f, 1.0f);
    return c + Duration;
}

ORVANE_API orvane_real32 OrvaneEaseControlOut(orvane_control* Control, orvane_real32 Duration) {
    const float c = Control->CurrentClock;
    if (!std::isfinite(c + Duration)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Duration %f is not finite", double(Duration));
        return c;
    }
    const float m = EaseMultiplier(*Control);
    Control->Flags &= ~uint32_t(OrvaneControlEaseIn);
    Control->Flags |= OrvaneControlEaseOut;
    OrvaneSetControlEaseOutCurve(Control, c, c + Duration, m, m, 0.0f, 0.0f);
    return c + Duration;
}

ORVANE_API void OrvaneSetControlForceClampedLooping(orvane_control* Control, orvane_bool Clamp) {
    if (Clamp)
        Control->Flags |= OrvaneControlForceClampedLooping;
    else
        Control->Flags &= ~uint32_t(OrvaneControlForceClampedLooping);
}

ORVANE_API void OrvaneSetControlTargetState(orvane_control* Control, orvane_real32 CurrentClock,
                                            orvane_real32 TargetClock,
                                            orvane_real32 LocalClockAtTarget,
                                            orvane_int32 LoopIndexAtTarget) {
    if (!std::isfinite(CurrentClock) || !std::isfinite(TargetClock) ||
        !std::isfinite(LocalClockAtTarget)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                         "CurrentClock %f, TargetClock %f or LocalClockAtTarget %f is not finite",
                         double(CurrentClock), double(TargetClock), double(LocalClockAtTarget));
        return;
    }
    orvane_control& c = *Control;
    c.PendingClockDelta = 0.0f;
    c.CurrentClock = CurrentClock;
    c.LoopIndex = LoopIndexAtTarget;
    c.LocalClock = LocalClockAtTarget - (TargetClock - CurrentClock) * c.Speed;
    if (c.LocalDuration > 0.0f && std::isfinite(c.LocalClock)) Rewrap(c, LoopIndexAtTarget);
}

ORVANE_API void OrvaneRecenterControlClocks(orvane_control* Control, orvane_real32 Delta) {
    if (!std::isfinite(Delta)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Delta %f is not finite", double(Delta));
        return;
    }
    Control->CurrentClock += Delta;
    Control->CompletionClock += Delta;
    Control->EaseInStartClock += Delta;
    Control->EaseInEndClock += Delta;
    Control->EaseOutStartClock += Delta;
    Control->EaseOutEndClock += Delta;
}

ORVANE_API void OrvaneRecenterAllControlClocks(orvane_real32 Delta) {
    if (!std::isfinite(Delta)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Delta %f is not finite", double(Delta));
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    orvane_control& head = ControlRing();
    for (orvane_control* c = head.GlobalNext; c != &head; c = c->GlobalNext)
        OrvaneRecenterControlClocks(c, Delta);
}

ORVANE_API void** OrvaneGetControlUserDataArray(orvane_control* Control) {
    return Control->UserData;
}

ORVANE_API orvane_control* OrvaneGetGlobalControlsBegin(void) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return ControlRing().GlobalNext;
}

ORVANE_API orvane_control* OrvaneGetGlobalControlsEnd(void) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return &ControlRing();
}

ORVANE_API orvane_control* OrvaneGetGlobalNextControl(orvane_control* Control) {
    if (Control == nullptr) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return Control->GlobalNext;
}
