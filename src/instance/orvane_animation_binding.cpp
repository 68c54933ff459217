// Animation bindings: identifiers, the cache with its unused list, eviction and counters,
// building (track matching, sampler and quaternion-mode choice, constant tracks, basis
// rebasing, loop motion), flushing, iteration, remapping and LOD error values.
#include "instance/orvane_animation_binding.h"

#include "track/orvane_content_checks.h"
#include "instance/orvane_model_instance.h"
#include "math/orvane_math_internal.h"
#include "track/orvane_track_group.h"
#include "track/orvane_track_sampler.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "core/orvane_string.h"
#include "orvane/controlled_animation.h"
#include "orvane/skeleton.h"
#include "orvane/track_group.h"

#include <cmath>
#include <cstring>

namespace orvane {
namespace {

constexpr float kUnbounded = ORVANE_UNBOUNDED_REAL32;
const char kAnyName[] = "*";

// The cache, under the instance lock. The all-bindings list is kept in key order; lookups
// walk it, which costs nothing per frame (bindings are acquired when controls are made).
struct Cache {
    orvane_animation_binding* first = nullptr;
    orvane_animation_binding* unusedFirst = nullptr;
    orvane_animation_binding* unusedLast = nullptr;
    int32_t maximum = 0;
    orvane_animation_binding_cache_status counters{};
};

Cache& TheCache() {
    static Cache cache;
    return cache;
}

int ComparePointers(const void* a, const void* b) {
    const uintptr_t x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

int ComparePatterns(const char* a, const char* b) {
    if (a == b) return 0;
    const int32_t d = OrvaneStringDifference(a, b);
    return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

// Member by member: the identifier holds pointers, which are not to be compared as raw words
// with whatever padding lies between them.
int CompareIDs(const orvane_animation_binding_identifier& a,
               const orvane_animation_binding_identifier& b) {
    if (int c = ComparePointers(a.Animation, b.Animation)) return c;
    if (a.SourceTrackGroupIndex != b.SourceTrackGroupIndex)
        return a.SourceTrackGroupIndex < b.SourceTrackGroupIndex ? -1 : 1;
    if (int c = ComparePointers(a.OnModel, b.OnModel)) return c;
    if (int c = ComparePointers(a.FromBasis, b.FromBasis)) return c;
    if (int c = ComparePointers(a.ToBasis, b.ToBasis)) return c;
    if (int c = ComparePatterns(a.TrackPattern, b.TrackPattern)) return c;
    return ComparePatterns(a.BonePattern, b.BonePattern);
}

void UnusedAppend(Cache& cache, orvane_animation_binding* b) {
    b->UnusedNext = nullptr;
    b->UnusedPrevious = cache.unusedLast;
    if (cache.unusedLast)
        cache.unusedLast->UnusedNext = b;
    else
        cache.unusedFirst = b;
    cache.unusedLast = b;
    b->OnUnusedList = true;
}

void UnusedRemove(Cache& cache, orvane_animation_binding* b) {
    if (!b->OnUnusedList) return;
    if (b->UnusedPrevious)
        b->UnusedPrevious->UnusedNext = b->UnusedNext;
    else
        cache.unusedFirst = b->UnusedNext;
    if (b->UnusedNext)
        b->UnusedNext->UnusedPrevious = b->UnusedPrevious;
    else
        cache.unusedLast = b->UnusedPrevious;
    b->UnusedNext = b->UnusedPrevious = nullptr;
    b->OnUnusedList = false;
}

void CacheInsert(Cache& cache, orvane_animation_binding* b) {
    orvane_animation_binding* previous = nullptr;
    orvane_animation_binding* at = cache.first;
    while (at && CompareIDs(at->ID, b->ID) <= 0) {
        previous = at;
        at = at->CacheNext;
    }
    b->CachePrevious = previous;
    b->CacheNext = at;
    if (previous)
        previous->CacheNext = b;
    else
        cache.first = b;
    if (at) at->CachePrevious = b;
}

void CacheRemove(Cache& cache, orvane_animation_binding* b) {
    if (b->CachePrevious)
        b->CachePrevious->CacheNext = b->CacheNext;
    else
        cache.first = b->CacheNext;
    if (b->CacheNext) b->CacheNext->CachePrevious = b->CachePrevious;
    b->CacheNext = b->CachePrevious = nullptr;
}

void Destroy(Cache& cache, orvane_animation_binding* b) {
    CacheRemove(cache, b);
    UnusedRemove(cache, b);
    ++cache.counters.TotalBindingsDestroyed;
    --cache.counters.CurrentTotalBindingCount;
    if (b->RebasingMemory) ORVANE_DEALLOCATE(b->RebasingMemory);
    ORVANE_DEALLOCATE(b);
}

void Evict(Cache& cache) {
    while (cache.counters.CurrentTotalBindingCount > cache.maximum && cache.unusedFirst) {
        ++cache.counters.OverflowFrees;
        Destroy(cache, cache.unusedFirst);
    }
}

void Acquire(Cache& cache, orvane_animation_binding* b) {
    if (b->UsedBy == 0) {
        UnusedRemove(cache, b);
        ++cache.counters.CurrentUsedBindingCount;
    }
    ++b->UsedBy;
}

// ---- Building ----

// The ID names a sound animation and one of its track groups.
const orvane_track_group* CheckedTrackGroup(const orvane_animation_binding_identifier& id) {
    if (!AnimationIsSound(id.Animation, OrvaneAnimationOrigin)) return nullptr;
    const orvane_animation& a = *id.Animation;
    if (id.SourceTrackGroupIndex < 0 || id.SourceTrackGroupIndex >= a.TrackGroupCount ||
        a.TrackGroups == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "SourceTrackGroupIndex %d is out of range [0, %d)",
                         id.SourceTrackGroupIndex, a.TrackGroups ? a.TrackGroupCount : 0);
        return nullptr;
    }
    const orvane_track_group* group = a.TrackGroups[id.SourceTrackGroupIndex];
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, group, nullptr);
    return group;
}

const orvane_skeleton* CheckedSkeleton(const orvane_model* model) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, model, nullptr);
    const orvane_skeleton* s = model->Skeleton;
    if (s == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "OnModel->Skeleton is not allowed to be 0");
        return nullptr;
    }
    return SkeletonIsSound(s, OrvaneAnimationOrigin) ? s : nullptr;
}

bool IsAnyPattern(const char* p) {
    return p == nullptr || (p[0] == '*' && p[1] == 0);
}

int32_t MatchTrack(const orvane_animation_binding_identifier& id, const orvane_track_group* group,
                   const char* boneName) {
    int32_t index = -1;
    if (GetStringComparisonCallback() ||
        (IsAnyPattern(id.TrackPattern) && IsAnyPattern(id.BonePattern))) {
        if (!OrvaneFindTrackByName(group, boneName, &index)) return -1;
    } else {
        char captured[1024];
        if (StringLength(boneName) >= int32_t(sizeof(captured))) return -1;
        if (!WildcardMatch(boneName, id.BonePattern, captured)) return -1;
        if (!OrvaneFindTrackByRule(group, captured, id.TrackPattern, &index)) return -1;
    }
    return index;
}

// The last key of a curve of dimension 4 (the first for constants, the identity otherwise).
void LastValue(const orvane_curve2* curve, int32_t dimension, const float* identity, float* out) {
    const CurveKind kind = ClassifyCurve(curve, dimension);
    if (kind == CurveKind::Animated) {
        const int32_t n = OrvaneCurveGetKnotCount(curve);
        if (n > 0) {
            OrvaneCurveExtractKnotValue(curve, n - 1, out, identity);
            return;
        }
    }
    CurveFirstValue(curve, dimension, identity, out);
}

void BindTrack(TrackBinding& t, const orvane_transform_track* track, int32_t index,
               const orvane_bone& bone) {
    t.TrackIndex = index;
    t.SourceTrack = track;
    t.LODError = kUnbounded;
    BuildTrackConstantTransform(track, &t.LODTransform);
    if (!OrvaneTransformTrackIsAnimated(track)) t.LODError = 0.0f;
    t.Sampler = OrvaneGetTrackSamplerFor(track);
    float qf[4], ql[4];
    CurveFirstValue(&track->OrientationCurve, 4, OrvaneCurveIdentityOrientation, qf);
    LastValue(&track->OrientationCurve, 4, OrvaneCurveIdentityOrientation, ql);
    const float* r = bone.Transform.Orientation;
    const float fl = qf[0] * ql[0] + qf[1] * ql[1] + qf[2] * ql[2] + qf[3] * ql[3];
    const float fr = qf[0] * r[0] + qf[1] * r[1] + qf[2] * r[2] + qf[3] * r[3];
    t.QuaternionMode = fl < 0.0f ? 2 : (fr < 0.0f ? 1 : 0);
}

void UnbindTrack(TrackBinding& t, const orvane_bone& bone) {
    t.TrackIndex = -1;
    t.SourceTrack = nullptr;
    t.Sampler = OrvaneGetTrackSamplerSSS();
    t.QuaternionMode = 0;
    t.LODError = kUnbounded;
    t.LODTransform = bone.Transform;
}

// ---- Basis rebasing ----

struct RebasedCurveShape {
    int32_t knots;
    int32_t degree;
};

RebasedCurveShape ShapeOf(const orvane_curve2* curve, int32_t dimension) {
    if (ClassifyCurve(curve, dimension) == CurveKind::Animated) {
        const int32_t n = OrvaneCurveGetKnotCount(curve);
        if (n > 0) return {n, OrvaneCurveGetDegree(curve)};
    }
    return {1, 0};
}

const orvane_curve2* CurveOf(const orvane_transform_track& t, int c) {
    return c == 0 ? &t.PositionCurve : (c == 1 ? &t.OrientationCurve : &t.ScaleShearCurve);
}

orvane_curve2* CurveOf(orvane_transform_track& t, int c) {
    return c == 0 ? &t.PositionCurve : (c == 1 ? &t.OrientationCurve : &t.ScaleShearCurve);
}

constexpr int32_t kDimensions[3] = {3, 4, 9};

size_t AlignUp(size_t n) {
    return (n + alignof(void*) - 1) & ~(alignof(void*) - 1);
}

// Copies every rebasable bound track with its curves re-expressed against the target basis.
void Rebase(orvane_animation_binding& b, const orvane_skeleton& onSkeleton) {
    // A basis without a skeleton (or none at all) has no bone that both bases share: nothing is
    // rebased, and there is nothing wrong to report.
    const orvane_model* fromModel = b.ID.FromBasis;
    const orvane_model* toModel = b.ID.ToBasis;
    if (fromModel == nullptr || toModel == nullptr || fromModel->Skeleton == nullptr ||
        toModel->Skeleton == nullptr)
        return;
    const orvane_skeleton* from = CheckedSkeleton(b.ID.FromBasis);
    const orvane_skeleton* to = CheckedSkeleton(b.ID.ToBasis);
    if (from == nullptr || to == nullptr) return;
    const orvane_track_group* group = BindingTrackGroup(b);
    // Which bones have a basis pair, and how big their copies are.
    size_t bytes = 0;
    for (int32_t i = 0; i < b.TrackBindingCount; ++i) {
        const TrackBinding& t = b.TrackBindings[i];
        if (t.TrackIndex < 0) continue;
        const char* name = onSkeleton.Bones[i].Name;
        int32_t fi, ti;
        if (!OrvaneFindBoneByName(from, name, &fi) || !OrvaneFindBoneByName(to, name, &ti))
            continue;
        bytes += AlignUp(sizeof(orvane_transform_track));
        for (int c = 0; c < 3; ++c) {
            const RebasedCurveShape s = ShapeOf(CurveOf(*t.SourceTrack, c), kDimensions[c]);
            bytes += AlignUp(sizeof(orvane_curve_data_da_k32f_c32f)) +
                     AlignUp(size_t(s.knots) * 4 * size_t(1 + kDimensions[c]));
        }
    }
    if (bytes == 0) return;
    char* block = static_cast<char*>(ORVANE_ALLOCATE(alignof(void*), bytes));
    if (block == nullptr) {
        ORVANE_LOG_WARNING(OrvaneAnimationOrigin, "Out of memory for rebasing track group \"%s\".",
                           group->Name);
        return;
    }
    b.RebasingMemory = block;
    b.RebasingBytes = bytes;
    char* at = block;
    orvane_track_sample_context context{};
    context.SampleDuration = b.ID.Animation->Duration;
    for (int32_t i = 0; i < b.TrackBindingCount; ++i) {
        TrackBinding& t = b.TrackBindings[i];
        if (t.TrackIndex < 0) continue;
        const char* name = onSkeleton.Bones[i].Name;
        int32_t fi, ti;
        if (!OrvaneFindBoneByName(from, name, &fi) || !OrvaneFindBoneByName(to, name, &ti))
            continue;
        orvane_transform basis;
        OrvaneBuildInverse(&basis, &from->Bones[fi].Transform);
        OrvanePostMultiplyBy(&basis, &to->Bones[ti].Transform);
        auto* copy = reinterpret_cast<orvane_transform_track*>(at);
        at += AlignUp(sizeof(orvane_transform_track));
        copy->Name = t.SourceTrack->Name;
        bool finite = TransformIsFinite(basis);
        for (int c = 0; c < 3; ++c) {
            const orvane_curve2* source = CurveOf(*t.SourceTrack, c);
            const int32_t d = kDimensions[c];
            const RebasedCurveShape s = ShapeOf(source, d);
            void* data = at;
            at += AlignUp(sizeof(orvane_curve_data_da_k32f_c32f));
            auto* knots = reinterpret_cast<float*>(at);
            float* controls = knots + s.knots;
            at += AlignUp(size_t(s.knots) * 4 * size_t(1 + d));
            if (s.knots > 1 || ClassifyCurve(source, d) == CurveKind::Animated)
                OrvaneCurveExtractKnotValues(source, 0, s.knots, knots, nullptr,
                                             OrvaneCurveIdentityPosition);
            else
                knots[0] = 0.0f;
            for (int32_t k = 0; k < s.knots; ++k) {
                context.SampleTime = knots[k];
                orvane_transform sample;
                sample.Flags = 0;
                OrvaneSampleTrackUUULocal(&context, t.SourceTrack, nullptr, &sample);
                OrvanePostMultiplyBy(&sample, &basis);
                const float* value = c == 0
                                         ? sample.Position
                                         : (c == 1 ? sample.Orientation : &sample.ScaleShear[0][0]);
                std::memcpy(controls + size_t(k) * size_t(d), value, size_t(d) * 4);
                for (int32_t j = 0; j < d; ++j)
                    finite = finite && std::isfinite(value[j]);
            }
            OrvaneCurveMakeStaticDaK32fC32f(CurveOf(*copy, c), data, s.knots, s.degree, d, knots,
                                            controls);
        }
        if (!finite) {
            // Rest transforms far from any sound scale or orientation (a damaged file) make
            // values that are not numbers: the bone plays its track as it is.
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                             "The change of basis of bone \"%s\" is not finite; its track is "
                             "played without it",
                             name ? name : "");
            continue;
        }
        t.SourceTrack = copy;
        t.Sampler = OrvaneGetTrackSamplerFor(copy);
        BuildTrackConstantTransform(copy, &t.LODTransform);
    }
}

void ComputeLoopMotion(orvane_animation_binding& b) {
    for (int i = 0; i < 3; ++i)
        b.LoopTranslation[i] = b.LoopRotation[i] = 0.0f;
    if (b.TrackBindingCount == 0 || b.TrackBindings[0].TrackIndex < 0) return;
    const orvane_transform_track* root = b.TrackBindings[0].SourceTrack;
    float p0[3], p1[3];
    if (CurveFirstValue(&root->PositionCurve, 3, OrvaneCurveIdentityPosition, p0)) {
        LastValue(&root->PositionCurve, 3, OrvaneCurveIdentityPosition, p1);
        for (int i = 0; i < 3; ++i)
            b.LoopTranslation[i] = p1[i] - p0[i];
    }
    float q0[4], q1[4];
    if (CurveFirstValue(&root->OrientationCurve, 4, OrvaneCurveIdentityOrientation, q0)) {
        LastValue(&root->OrientationCurve, 4, OrvaneCurveIdentityOrientation, q1);
        // The turn the root makes over one loop, however far: a root that turns by 270
        // degrees gives 270 degrees, not the quarter turn back to the same orientation.
        RotationVectorBetween(b.LoopRotation, q0, q1);
    }
}

// The bytes a binding's copy of a match pattern takes (none for the shared "*" and for null).
size_t PatternBytes(const char* pattern) {
    if (pattern == nullptr || pattern == kAnyName) return 0;
    return std::strlen(pattern) + 1;
}

const char* CopyPattern(const char* pattern, char* at, size_t bytes) {
    if (bytes == 0) return pattern;
    std::memcpy(at, pattern, bytes);
    return at;
}

void WarnKeyframed(const orvane_track_group& group) {
    ORVANE_LOG_WARNING(OrvaneAnimationOrigin,
                       "The track group \"%s\" has keyframed animation tracks, which are meant "
                       "for preprocessing only.  They will be ignored during playback.",
                       group.Name);
}

orvane_animation_binding* Build(const orvane_animation_binding_identifier& id) {
    const orvane_track_group* group = CheckedTrackGroup(id);
    if (group == nullptr) return nullptr;
    const orvane_skeleton* skeleton = CheckedSkeleton(id.OnModel);
    if (skeleton == nullptr) return nullptr;
    const int32_t count = skeleton->BoneCount;
    const size_t header = AlignUp(sizeof(orvane_animation_binding));
    size_t bytes;
    if (!CheckedArrayBytes(count, sizeof(TrackBinding), &bytes)) return nullptr;
    // The patterns are part of the key the binding stays in the cache under: the binding keeps
    // its own copies, so the caller's strings need not outlive it.
    const size_t trackPatternBytes = PatternBytes(id.TrackPattern);
    const size_t bonePatternBytes = PatternBytes(id.BonePattern);
    auto* b = static_cast<orvane_animation_binding*>(ORVANE_ALLOCATE(
        alignof(orvane_animation_binding), header + bytes + trackPatternBytes + bonePatternBytes));
    if (b == nullptr) return nullptr;
    std::memset(static_cast<void*>(b), 0, header);
    b->ID = id;
    b->TrackBindingCount = count;
    b->TrackBindings = reinterpret_cast<TrackBinding*>(reinterpret_cast<char*>(b) + header);
    char* patterns = reinterpret_cast<char*>(b) + header + bytes;
    b->ID.TrackPattern = CopyPattern(id.TrackPattern, patterns, trackPatternBytes);
    b->ID.BonePattern = CopyPattern(id.BonePattern, patterns + trackPatternBytes, bonePatternBytes);
    bool keyframed = false;
    for (int32_t i = 0; i < count; ++i) {
        TrackBinding& t = b->TrackBindings[i];
        const orvane_bone& bone = skeleton->Bones[i];
        const int32_t index = MatchTrack(id, group, bone.Name);
        if (index < 0) {
            UnbindTrack(t, bone);
            continue;
        }
        if (index >= group->TransformTrackCount) {
            ORVANE_LOG_WARNING(OrvaneAnimationOrigin,
                               "Track %d for bone \"%s\" is out of range [0, %d); left unbound",
                               index, bone.Name, group->TransformTrackCount);
            UnbindTrack(t, bone);
            continue;
        }
        const orvane_transform_track* track = &group->TransformTracks[index];
        if (const char* problem = TrackCurvesProblem(*track)) {
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Track %d for bone \"%s\" has %s; left unbound",
                             index, bone.Name ? bone.Name : "", problem);
            UnbindTrack(t, bone);
            continue;
        }
        if (OrvaneTransformTrackHasKeyframedCurves(track)) {
            // Keyframes are for preprocessing: the bone shows its rest pose, as the warning
            // below promises, rather than a frame chosen by the clock.
            keyframed = true;
            UnbindTrack(t, bone);
            continue;
        }
        BindTrack(t, track, index, bone);
    }
    if (keyframed) WarnKeyframed(*group);
    if (id.FromBasis != id.ToBasis) Rebase(*b, *skeleton);
    ComputeLoopMotion(*b);
    return b;
}

// Whether the track is a rebased copy held in the binding's own block.
bool IsRebasedCopy(const orvane_animation_binding& b, const orvane_transform_track* track) {
    if (b.RebasingMemory == nullptr) return false;
    const uintptr_t at = reinterpret_cast<uintptr_t>(track);
    const uintptr_t start = reinterpret_cast<uintptr_t>(b.RebasingMemory);
    return at >= start && at - start < b.RebasingBytes;
}

bool IndexIsValid(const orvane_animation_binding* b, int32_t index) {
    if (b == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Binding is not allowed to be 0");
        return false;
    }
    if (index < 0 || index >= b->TrackBindingCount) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "TrackBindingIndex %d is out of range [0, %d)",
                         index, b->TrackBindingCount);
        return false;
    }
    return true;
}

// The group's LOD error of a bound track, or null when it has none.
float* GroupLODError(const orvane_animation_binding& b, const TrackBinding& t) {
    if (t.TrackIndex < 0) return nullptr;
    const orvane_track_group* group = BindingTrackGroup(b);
    if (group->TransformLODErrors == nullptr || t.TrackIndex >= group->TransformLODErrorCount)
        return nullptr;
    return &group->TransformLODErrors[t.TrackIndex];
}

// Whether sampling without an allowed error shows the track's LOD transform (with the given
// error, or its own): the playing nodes plan their passes on this.
bool ShowsLODTransform(const TrackBinding& t, float error) {
    return t.SourceTrack != nullptr && error <= 0.0f;
}

bool ShowsLODTransform(const TrackBinding& t) {
    return ShowsLODTransform(t, t.LODError);
}

void ResetLODTransform(TrackBinding& t) {
    if (t.SourceTrack) BuildTrackConstantTransform(t.SourceTrack, &t.LODTransform);
}

}  // namespace

void GetBindingCacheCounters(orvane_animation_binding_cache_status* status) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    *status = TheCache().counters;
}

}  // namespace orvane

using namespace orvane;

ORVANE_API orvane_bool OrvaneFindTrackGroupForModel(const orvane_animation* Animation,
                                                    const char* ModelName,
                                                    orvane_int32* TrackGroupIndex) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Animation, false);
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, TrackGroupIndex, false);
    const int32_t count = Animation->TrackGroups ? Animation->TrackGroupCount : 0;
    orvane_string_comparison_callback compare = GetStringComparisonCallback();
    for (int32_t i = 0; i < count; ++i) {
        const orvane_track_group* group = Animation->TrackGroups[i];
        if (group == nullptr) continue;
        const bool equal = compare ? compare(group->Name, ModelName) == 0
                                   : StringsAreEqualLowercase(group->Name, ModelName);
        if (equal) {
            *TrackGroupIndex = i;
            return true;
        }
    }
    *TrackGroupIndex = count < 0 ? 0 : count;
    return false;
}

ORVANE_API void OrvaneMakeDefaultAnimationBindingID(orvane_animation_binding_identifier* ID,
                                                    const orvane_animation* Animation,
                                                    orvane_int32 TrackGroupIndex) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, ID, );
    *ID = {.Animation = Animation,
           .SourceTrackGroupIndex = TrackGroupIndex,
           .TrackPattern = kAnyName,
           .BonePattern = kAnyName,
           .OnModel = nullptr,
           .FromBasis = nullptr,
           .ToBasis = nullptr};
}

ORVANE_API orvane_animation_binding* OrvaneAcquireAnimationBindingFromID(
    const orvane_animation_binding_identifier* ID) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, ID, nullptr);
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    Cache& cache = TheCache();
    ++cache.counters.IndirectAcquireCount;
    for (orvane_animation_binding* b = cache.first; b; b = b->CacheNext) {
        const int c = CompareIDs(b->ID, *ID);
        if (c > 0) break;
        if (c == 0) {
            ++cache.counters.CacheHits;
            Acquire(cache, b);
            return b;
        }
    }
    ++cache.counters.CacheMisses;
    orvane_animation_binding* b = Build(*ID);
    if (b == nullptr) return nullptr;
    ++cache.counters.TotalBindingsCreated;
    ++cache.counters.CurrentTotalBindingCount;
    CacheInsert(cache, b);
    UnusedAppend(cache, b);
    Acquire(cache, b);
    Evict(cache);
    return b;
}

ORVANE_API orvane_animation_binding* OrvaneAcquireAnimationBinding(
    orvane_animation_binding* Binding) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Binding, nullptr);
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    Cache& cache = TheCache();
    ++cache.counters.DirectAcquireCount;
    ++cache.counters.CacheHits;
    Acquire(cache, Binding);
    return Binding;
}

ORVANE_API void OrvaneReleaseAnimationBinding(orvane_animation_binding* Binding) {
    if (Binding == nullptr) return;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    Cache& cache = TheCache();
    ++cache.counters.ReleaseCount;
    if (Binding->UsedBy <= 0) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Binding released more often than acquired");
        return;
    }
    if (--Binding->UsedBy == 0) {
        --cache.counters.CurrentUsedBindingCount;
        UnusedAppend(cache, Binding);
        Evict(cache);
    }
}

ORVANE_API orvane_int32 OrvaneGetMaximumAnimationBindingCount(void) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return TheCache().maximum;
}

ORVANE_API void OrvaneSetMaximumAnimationBindingCount(orvane_int32 BindingCountMax) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    TheCache().maximum = BindingCountMax;
    Evict(TheCache());
}

ORVANE_API void OrvaneFlushAllUnusedAnimationBindings(void) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    Cache& cache = TheCache();
    ++cache.counters.ExplicitFlushCount;
    while (cache.unusedFirst) {
        ++cache.counters.ExplicitFlushFrees;
        Destroy(cache, cache.unusedFirst);
    }
}

ORVANE_API void OrvaneFlushAllBindingsForAnimation(const orvane_animation* Animation) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    Cache& cache = TheCache();
    // Bindings in use are reported and skipped; the others go.
    orvane_animation_binding* b = cache.first;
    while (b) {
        orvane_animation_binding* next = b->CacheNext;
        if (b->ID.Animation == Animation) {
            if (b->UsedBy > 0) {
                ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                                 "FlushAllBindingsForAnimation() tried to flush an animation still "
                                 "in use (%s)",
                                 Animation ? Animation->Name : nullptr);
            } else {
                Destroy(cache, b);
            }
        }
        b = next;
    }
}

ORVANE_API void OrvaneFlushAnimationBinding(orvane_animation_binding* Binding) {
    if (Binding == nullptr) return;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    if (Binding->UsedBy > 0) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                         "FlushAnimationBinding() tried to flush an animation still in use (%s)",
                         Binding->ID.Animation ? Binding->ID.Animation->Name : nullptr);
        return;
    }
    Destroy(TheCache(), Binding);
}

ORVANE_API orvane_animation_binding* OrvaneGetFirstBindingForAnimation(
    const orvane_animation* Animation) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    for (orvane_animation_binding* b = TheCache().first; b; b = b->CacheNext)
        if (b->ID.Animation == Animation) return b;
    return nullptr;
}

ORVANE_API orvane_animation_binding* OrvaneGetNextBindingForAnimation(
    const orvane_animation* Animation, orvane_animation_binding* Binding) {
    if (Binding == nullptr) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    orvane_animation_binding* next = Binding->CacheNext;
    return next && next->ID.Animation == Animation ? next : nullptr;
}

ORVANE_API orvane_animation_binding* OrvaneGetFirstUnusedAnimationBinding(void) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return TheCache().unusedFirst;
}

ORVANE_API orvane_animation_binding* OrvaneGetNextUnusedAnimationBinding(
    orvane_animation_binding* Binding) {
    if (Binding == nullptr) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return Binding->UnusedNext;
}

ORVANE_API orvane_bool OrvaneIsAnimationUsed(const orvane_animation* Animation) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    for (orvane_animation_binding* b = TheCache().first; b; b = b->CacheNext)
        if (b->ID.Animation == Animation && b->UsedBy > 0) return true;
    return false;
}

ORVANE_API void OrvaneRemapAnimationBindingPointers(orvane_animation_binding* Binding,
                                                    const orvane_animation* NewAnimationPointer) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Binding, );
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, NewAnimationPointer, );
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    Cache& cache = TheCache();
    orvane_animation_binding_identifier id = Binding->ID;
    id.Animation = NewAnimationPointer;
    const orvane_track_group* group = CheckedTrackGroup(id);
    if (group == nullptr) return;
    CacheRemove(cache, Binding);
    Binding->ID.Animation = NewAnimationPointer;
    const orvane_bone* bones = Binding->ID.OnModel->Skeleton->Bones;
    bool keyframed = false;
    for (int32_t i = 0; i < Binding->TrackBindingCount; ++i) {
        TrackBinding& t = Binding->TrackBindings[i];
        if (t.TrackIndex < 0) continue;
        if (t.TrackIndex >= group->TransformTrackCount) {
            ORVANE_LOG_WARNING(OrvaneAnimationOrigin,
                               "Track %d is out of range [0, %d) in the remapped animation; left "
                               "unbound",
                               t.TrackIndex, group->TransformTrackCount);
            UnbindTrack(t, bones[i]);
            continue;
        }
        const orvane_transform_track* track = &group->TransformTracks[t.TrackIndex];
        if (IsRebasedCopy(*Binding, t.SourceTrack)) {
            // Rebased copies were derived from the same curves and stay; only their name came
            // from the old animation.
            const_cast<orvane_transform_track*>(t.SourceTrack)->Name = track->Name;
            continue;
        }
        // A track used as it is follows the new animation (the old one may be gone), which is
        // checked as a new binding's tracks are.
        if (const char* problem = TrackCurvesProblem(*track)) {
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Track %d for bone \"%s\" has %s; left unbound",
                             t.TrackIndex, bones[i].Name ? bones[i].Name : "", problem);
            UnbindTrack(t, bones[i]);
            continue;
        }
        if (OrvaneTransformTrackHasKeyframedCurves(track)) {
            keyframed = true;
            UnbindTrack(t, bones[i]);
            continue;
        }
        t.SourceTrack = track;
    }
    if (keyframed) WarnKeyframed(*group);
    CacheInsert(cache, Binding);
    // Playing controls planned their sampling on the old tracks, which may soon be gone.
    ReplanAnimationNodes(Binding, true);
}

ORVANE_API void OrvaneRemapAllAnimationBindingPointers(
    const orvane_animation* OldAnimationPointer, const orvane_animation* NewAnimationPointer) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, NewAnimationPointer, );
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    // Collect first: remapping moves bindings within the ordered list.
    for (;;) {
        orvane_animation_binding* found = nullptr;
        for (orvane_animation_binding* b = TheCache().first; b; b = b->CacheNext) {
            if (b->ID.Animation == OldAnimationPointer) {
                found = b;
                break;
            }
        }
        if (found == nullptr || OldAnimationPointer == NewAnimationPointer) return;
        const orvane_animation* before = found->ID.Animation;
        OrvaneRemapAnimationBindingPointers(found, NewAnimationPointer);
        if (found->ID.Animation == before) return;  // refused (logged): stop rather than spin
    }
}

ORVANE_API void OrvaneGetAnimationBindingCacheStatus(
    orvane_animation_binding_cache_status* Status) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Status, );
    GetBindingCacheCounters(Status);
}

ORVANE_API const orvane_animation_binding_identifier* OrvaneGetAnimationBindingID(
    const orvane_animation_binding* Binding) {
    return Binding ? &Binding->ID : nullptr;
}

ORVANE_API orvane_int32
OrvaneGetAnimationBindingTrackCount(const orvane_animation_binding* Binding) {
    return Binding ? Binding->TrackBindingCount : 0;
}

ORVANE_API orvane_int32 OrvaneGetAnimationBindingTrackIndex(const orvane_animation_binding* Binding,
                                                            orvane_int32 TrackBindingIndex) {
    if (Binding == nullptr || TrackBindingIndex < 0 ||
        TrackBindingIndex >= Binding->TrackBindingCount)
        return -1;
    return Binding->TrackBindings[TrackBindingIndex].TrackIndex;
}

ORVANE_API orvane_int32 OrvaneGetAnimationBindingUseCount(const orvane_animation_binding* Binding) {
    if (Binding == nullptr) return 0;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return Binding->UsedBy;
}

// ---- LOD error values ----

ORVANE_API orvane_real32 OrvaneGetLODErrorValue(const orvane_animation_binding* Binding,
                                                orvane_int32 TrackBindingIndex) {
    if (!IndexIsValid(Binding, TrackBindingIndex)) return kUnbounded;
    return Binding->TrackBindings[TrackBindingIndex].LODError;
}

ORVANE_API void OrvaneSetLODErrorValue(orvane_animation_binding* Binding,
                                       orvane_int32 TrackBindingIndex, orvane_real32 ErrorValue) {
    if (!IndexIsValid(Binding, TrackBindingIndex)) return;
    TrackBinding& t = Binding->TrackBindings[TrackBindingIndex];
    const bool replan = ShowsLODTransform(t) != ShowsLODTransform(t, ErrorValue);
    t.LODError = ErrorValue;
    if (replan) ReplanAnimationNodes(Binding, false);
}

ORVANE_API void OrvaneSetAllLODErrorValues(orvane_animation_binding* Binding,
                                           orvane_real32 ErrorValue) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Binding, );
    bool replan = false;
    for (int32_t i = 0; i < Binding->TrackBindingCount; ++i) {
        TrackBinding& t = Binding->TrackBindings[i];
        replan |= ShowsLODTransform(t) != ShowsLODTransform(t, ErrorValue);
        t.LODError = ErrorValue;
        ResetLODTransform(t);
    }
    if (replan) ReplanAnimationNodes(Binding, false);
}

ORVANE_API void OrvaneResetLODErrorValues(orvane_animation_binding* Binding) {
    OrvaneSetAllLODErrorValues(Binding, kUnbounded);
}

ORVANE_API void OrvaneCopyLODErrorValuesToAnimation(orvane_animation_binding* Binding,
                                                    orvane_real32 Scale,
                                                    orvane_bool OnlyIfGreater) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Binding, );
    for (int32_t i = 0; i < Binding->TrackBindingCount; ++i) {
        const TrackBinding& t = Binding->TrackBindings[i];
        float* stored = GroupLODError(*Binding, t);
        if (stored == nullptr) continue;
        const float v = Scale * t.LODError;
        if (!OnlyIfGreater || v > *stored) *stored = v;
    }
}

ORVANE_API void OrvaneCopyLODErrorValuesFromAnimation(orvane_animation_binding* Binding,
                                                      orvane_real32 Scale) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Binding, );
    bool replan = false;
    for (int32_t i = 0; i < Binding->TrackBindingCount; ++i) {
        TrackBinding& t = Binding->TrackBindings[i];
        const float* stored = GroupLODError(*Binding, t);
        if (stored == nullptr) continue;
        const float error = Scale * *stored;
        replan |= ShowsLODTransform(t) != ShowsLODTransform(t, error);
        t.LODError = error;
        ResetLODTransform(t);
    }
    if (replan) ReplanAnimationNodes(Binding, false);
}

ORVANE_API void OrvaneCopyLODErrorValuesToAllAnimations(orvane_control* Control,
                                                        orvane_real32 Scale,
                                                        orvane_bool OnlyIfGreater) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Control, );
    for (orvane_model_control_binding* b = OrvaneControlModelsBegin(Control);
         b != OrvaneControlModelsEnd(Control); b = b->ControlNext) {
        if (orvane_animation_binding* a = OrvaneGetAnimationBindingFromControlBinding(b))
            OrvaneCopyLODErrorValuesToAnimation(a, Scale, OnlyIfGreater);
    }
}

ORVANE_API void OrvaneCopyLODErrorValuesFromAllAnimations(orvane_control* Control,
                                                          orvane_real32 Scale) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Control, );
    for (orvane_model_control_binding* b = OrvaneControlModelsBegin(Control);
         b != OrvaneControlModelsEnd(Control); b = b->ControlNext) {
        if (orvane_animation_binding* a = OrvaneGetAnimationBindingFromControlBinding(b))
            OrvaneCopyLODErrorValuesFromAnimation(a, Scale);
    }
}
