// The importer's animation part: clips sampled on their keys' grid and compressed, checked at
// and between samples against the keys' own blend; clips kept as keys; root motion.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "orvane/compress.h"
#include "orvane/curve.h"
#include "orvane/math.h"
#include "orvane/track_group.h"
#include "orvane/track_group_builder.h"
#include "orvane/track_sampler.h"
#include "orvane_exact_curves.h"
#include "orvane_importer.h"

namespace orvane_import {

using orvane_import::ChannelCurve;
using orvane_import::Constant;
using orvane_import::CurveDataBytes;
using orvane_import::ExactCurve;
using orvane_import::HoldIfStill;
using orvane_import::KeepLastIntervalWhenLooping;
using orvane_import::ScaleShear;

namespace {

// The node's local transform at Time (ticks) from its channel, as assimp's own evaluation
// does: keys clamped at both ends, linear position and scale, spherical orientation.
template <typename Key, typename Value>
Value Interpolate(const Key* keys, unsigned count, double time, Value fallback) {
    if (count == 0) return fallback;
    if (count == 1 || time <= keys[0].mTime) return keys[0].mValue;
    if (time >= keys[count - 1].mTime) return keys[count - 1].mValue;
    unsigned hi = unsigned(std::upper_bound(keys, keys + count, time,
                                            [](double t, const Key& k) { return t < k.mTime; }) -
                           keys);
    const Key& a = keys[hi - 1];
    const Key& b = keys[hi];
    const double span = b.mTime - a.mTime;
    const float f = span > 0 ? float((time - a.mTime) / span) : 0.0f;
    if constexpr (std::is_same_v<Value, aiQuaternion>) {
        aiQuaternion out;
        aiQuaternion::Interpolate(out, a.mValue, b.mValue, f);
        return out.Normalize();
    } else {
        return a.mValue + (b.mValue - a.mValue) * f;
    }
}

// The rate of a frame grid that holds every key of the clip (each within a thousandth of a
// frame, as frame times stored in single precision round): the finest key spacing's, or the
// whole rate near it when that grid holds the keys too. 0 when no grid up to MaximumRate holds
// them all; -1 when no two keys are apart (a one-frame clip).
double KeyGridRate(const aiAnimation* animation, double ticksPerSecond, double maximumRate) {
    std::vector<double> times;
    for (unsigned c = 0; c < animation->mNumChannels; ++c) {
        const aiNodeAnim* ch = animation->mChannels[c];
        for (unsigned k = 0; k < ch->mNumPositionKeys; ++k)
            times.push_back(ch->mPositionKeys[k].mTime / ticksPerSecond);
        for (unsigned k = 0; k < ch->mNumRotationKeys; ++k)
            times.push_back(ch->mRotationKeys[k].mTime / ticksPerSecond);
        for (unsigned k = 0; k < ch->mNumScalingKeys; ++k)
            times.push_back(ch->mScalingKeys[k].mTime / ticksPerSecond);
    }
    std::sort(times.begin(), times.end());
    double step = 0;
    for (size_t k = 1; k < times.size(); ++k) {
        const double d = times[k] - times[k - 1];
        if (d > 1e-7 && (step == 0 || d < step)) step = d;
    }
    if (step == 0) return -1;
    auto holds = [&](double rate) {
        if (!(rate <= maximumRate)) return false;
        for (double t : times) {
            const double frame = t * rate;
            if (std::fabs(frame - std::round(frame)) > 1e-3) return false;
        }
        return true;
    };
    const double rate = 1 / step;
    if (holds(std::round(rate))) return std::round(rate);
    return holds(rate) ? rate : 0;
}

// A clip's name: its own, unless it is missing or is the name of one of the many nodes it
// moves (a reader that gathers a file's per-node animations into one clip names it after the
// first of them, a camera say), then Fallback (the file's name).
std::string ClipName(const aiAnimation* animation, const std::string& fallback) {
    const std::string own = animation->mName.C_Str();
    if (own.empty()) return fallback;
    if (animation->mNumChannels > 1)
        for (unsigned c = 0; c < animation->mNumChannels; ++c)
            if (own == animation->mChannels[c]->mNodeName.C_Str()) return fallback;
    return own;
}

// The scene reader's keys of a channel as a linear keyed channel (its own evaluation blends
// linearly, orientations along the arc); keys at or before the one they follow are dropped.
orvane_import::GltfChannel KeyedChannel(const aiNodeAnim* ch, orvane_import::GltfPath path,
                                        double ticksPerSecond, int bone) {
    orvane_import::GltfChannel out;
    out.node = bone;
    out.path = path;
    out.interpolation = orvane_import::GltfInterpolation::Linear;
    out.components = path == orvane_import::GltfPath::Rotation ? 4 : 3;
    auto add = [&](double ticks, const float* v) {
        const float t = float(ticks / ticksPerSecond);
        if (!out.times.empty() && !(t > out.times.back())) return;
        out.times.push_back(t);
        out.values.insert(out.values.end(), v, v + out.components);
    };
    if (path == orvane_import::GltfPath::Translation)
        for (unsigned k = 0; k < ch->mNumPositionKeys; ++k) {
            const aiVector3D& p = ch->mPositionKeys[k].mValue;
            const float v[3] = {p.x, p.y, p.z};
            add(ch->mPositionKeys[k].mTime, v);
        }
    else if (path == orvane_import::GltfPath::Rotation)
        for (unsigned k = 0; k < ch->mNumRotationKeys; ++k) {
            const aiQuaternion& q = ch->mRotationKeys[k].mValue;
            const float v[4] = {q.x, q.y, q.z, q.w};
            add(ch->mRotationKeys[k].mTime, v);
        }
    else
        for (unsigned k = 0; k < ch->mNumScalingKeys; ++k) {
            const aiVector3D& s = ch->mScalingKeys[k].mValue;
            const float v[3] = {s.x, s.y, s.z};
            add(ch->mScalingKeys[k].mTime, v);
        }
    return out;
}

bool AllFinite(const std::vector<float>& values) {
    for (float v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

bool Import::BuildClip(const aiAnimation* animation, const aiScene* source,
                       const std::string& fallbackName, const char* sourcePath) {
    const std::string name = ClipName(animation, fallbackName);
    // assimp leaves the rate 0 where a format has none: its own evaluation then takes 25.
    const double tps = animation->mTicksPerSecond > 0 ? animation->mTicksPerSecond : 25.0;
    if (!std::isfinite(animation->mDuration) || animation->mDuration < 0 || !std::isfinite(tps))
        return Fail(__LINE__, "clip \"%s\": bad duration", name.c_str());
    double duration = animation->mDuration / tps;

    // Channels matched to the bones by name; bones without one keep their node's transform in
    // the clip's own scene (clips stored apart), else their rest transform.
    std::vector<const aiNodeAnim*> channel(bones.size(), nullptr);
    std::vector<aiMatrix4x4> still(bones.size());
    int matched = 0;
    for (unsigned c = 0; c < animation->mNumChannels; ++c) {
        auto it = boneByName.find(animation->mChannels[c]->mNodeName.C_Str());
        if (it == boneByName.end()) continue;
        if (!channel[size_t(it->second)]) ++matched;
        channel[size_t(it->second)] = animation->mChannels[c];
    }
    if (matched == 0) {
        Report("animation \"%s\": no channel matches a bone, skipped", name.c_str());
        return true;
    }
    for (size_t i = 0; i < bones.size(); ++i) {
        if (!bones[i].node) continue;  // the root motion bone rests at the origin
        const aiNode* own = source->mRootNode->FindNode(bones[i].node->mName);
        still[i] = own ? own->mTransformation : bones[i].node->mTransformation;
    }

    // The keys as the file's reader blends them (linearly, orientations along the arc): the
    // clip itself where they lie off every frame grid, else the reference that the compressed
    // curves are checked against between their samples.
    KeyedClip keyed;
    keyed.name = name;
    keyed.duration = float(duration);
    for (size_t i = 0; i < bones.size(); ++i) {
        if (!channel[i]) continue;
        for (auto path : {orvane_import::GltfPath::Translation, orvane_import::GltfPath::Rotation,
                          orvane_import::GltfPath::Scale}) {
            orvane_import::GltfChannel ch = KeyedChannel(channel[i], path, tps, int(i));
            if (ch.times.empty()) continue;
            if (!AllFinite(ch.values) || !std::isfinite(ch.times.back()))
                return Fail(__LINE__, "clip \"%s\": keys that are not finite", name.c_str());
            keyed.duration = std::max(keyed.duration, ch.times.back());
            keyed.channels.push_back(std::move(ch));
        }
    }
    double rate = KeyGridRate(animation, tps, double(options->MaximumSampleRate));
    if (rate == 0) return BuildExactClip(keyed, still, "linear keys off any frame grid");
    // A clip without two keys apart takes the file's own frame time where it has one.
    if (rate < 0) rate = tps <= double(options->MaximumSampleRate) ? tps : 30;
    // Samples between keys where a turn between two keys is wide (above a tenth of a radian of
    // half angle, more than captures and baked clips turn in a frame) and blending the samples
    // would leave the arc the file's reader follows (by what it moves the farthest vertex the
    // bone carries, within a quarter of the tolerance): every key stays a sample. Motion
    // capture's frames are its data: one sample each.
    if (Extension(sourcePath) != "bvh") {
        const std::vector<double> carried = CarriedReach();
        const double allowed = 0.25 * double(summary->ToleranceUsed);
        int split = 1;
        for (size_t i = 0; i < bones.size(); ++i) {
            const aiNodeAnim* ch = channel[i];
            if (!ch) continue;
            const double lever = std::max(carried[i], allowed);
            for (unsigned k = 1; k < ch->mNumRotationKeys; ++k) {
                const aiQuaternion& a = ch->mRotationKeys[k - 1].mValue;
                const aiQuaternion& b = ch->mRotationKeys[k].mValue;
                const double dot = std::fabs(double(a.x) * b.x + double(a.y) * b.y +
                                             double(a.z) * b.z + double(a.w) * b.w);
                const double half = std::acos(std::min(1.0, dot));
                if (half <= 0.1) continue;
                const double frames = std::max(
                    1.0, std::round((ch->mRotationKeys[k].mTime - ch->mRotationKeys[k - 1].mTime) /
                                    tps * rate));
                int parts = 1;
                while (parts < 64 && orvane_import::BlendAngleError(half / parts) * lever > allowed)
                    ++parts;
                split = std::max(split, int(std::ceil(parts / frames)));
            }
        }
        while (split > 1 && rate * split > double(options->MaximumSampleRate))
            --split;
        rate *= split;
    }
    // Intervals of the clip at that rate: a whole number when the clip's end falls on a frame
    // (up to the rounding of a frame time stored as a float, a BVH's 0.041666668 s, which must
    // not add an interval); a clip that ends between frames holds its end to the next frame.
    const double intervals = duration * rate;
    const double whole = std::round(intervals);
    const double count = std::fabs(intervals - whole) <= 1e-3 ? whole : std::ceil(intervals);
    if (count > 1e6) return Fail(__LINE__, "clip \"%s\": too long", name.c_str());
    const double step = 1 / rate;
    const int samples = std::max(2, int(count) + 1);
    duration = count * step;
    // Looping plays a curve's last knot as its first: one sample more, past the end and never
    // played, repeats the first frame so that the last frame keeps its interval.
    const int frames = count >= 1 ? samples + 1 : samples;

    orvane_track_group_sampler* sampler = OrvaneBeginSampledAnimation(skeleton->BoneCount, frames);
    if (!sampler) return Fail(__LINE__, "clip \"%s\": no memory for its samples", name.c_str());
    std::vector<Pose> previous(bones.size()), first(bones.size()), last(bones.size());
    RootTravel travel;
    for (int f = 0; f < frames; ++f) {
        const double t =
            (f < samples ? std::min(f * step, double(animation->mDuration) / tps) : 0) * tps;
        std::vector<Pose> local(bones.size());
        for (size_t i = 0; i < bones.size(); ++i) {
            const aiMatrix4x4 m = channel[i] ? ChannelTransform(channel[i], t, still[i]) : still[i];
            local[i] = Decompose(m);
            if (convert) {
                static const float none[3] = {0, 0, 0};
                OrvaneInPlaceSimilarityTransform(bones[i].parent < 0 ? affine : none, linear,
                                                 inverse, local[i].position, local[i].orientation,
                                                 local[i].scaleShear);
            }
        }
        // The loop's extra sample repeats the first frame, but the travel keeps its end: the
        // clip's travel per loop is its last key less its first.
        if (rootMotionBone >= 0) TakeOutTravel(&local, &travel, f >= samples);
        // Samples go in skeleton order: track i is skeleton bone i.
        std::vector<Pose> frame(bones.size());
        for (size_t i = 0; i < bones.size(); ++i) {
            Pose p = local[i];
            // Neighbouring samples on the same side of the quaternion sphere.
            if (f > 0) {
                const float* q = previous[i].orientation;
                float dot = 0;
                for (int k = 0; k < 4; ++k)
                    dot += q[k] * p.orientation[k];
                if (dot < 0)
                    for (float& k : p.orientation)
                        k = -k;
            }
            previous[i] = p;
            if (f == 0) first[i] = p;
            if (f == samples - 1) last[i] = p;
            frame[size_t(remap[i])] = p;
        }
        for (size_t i = 0; i < bones.size(); ++i)
            OrvaneSetTransformSample(sampler, int(i), frame[i].position, frame[i].orientation,
                                     frame[i].scaleShear);
        OrvanePushSampledFrame(sampler);
    }

    orvane_animation_compression_options compression;
    OrvaneGetDefaultAnimationCompressionOptions(&compression);
    compression.ErrorBudget = kMeasuredShare * summary->ToleranceUsed;
    if (options->CompactCurves) compression.AllowedFormats |= 1u << OrvaneCurveFormatDaCompact;
    const std::vector<float> shells = ShellDistances();
    compression.BoneShellDistances = shells.data();
    struct ProgressState {
        Import* self;
        std::string step;
    } state = {this, "animation " + name};
    compression.Progress = [](int done, int total, void* user) {
        auto* s = static_cast<ProgressState*>(user);
        s->self->Progress(s->step.c_str(), done, total);
    };
    compression.ProgressUserData = &state;

    // The keys' own blend, which the compressed curves must follow between their samples too.
    keyed.timeStep = float(step);
    std::unique_ptr<ClipOut> reference;
    std::string referenceLine;
    if (!ExactClip(keyed, still, "the compressed curves left the keys' blend", &reference,
                   &referenceLine)) {
        OrvaneEndSampledAnimation(sampler);
        return false;
    }
    // Motion capture's frames are its data: what lies between them is no one's (a capture's
    // first frame is often a T-pose that the next frame leaves at once), so it is checked at
    // its frames, and the compressor holds its curves near them in between.
    const bool capture = Extension(sourcePath) == "bvh";
    std::vector<double> times;
    for (int f = 0; f < samples; ++f) {
        times.push_back(f * step);
        if (f + 1 < samples && !capture) times.push_back((f + 0.5) * step);
    }
    // Compressed, then checked at every sample and half way between samples. Curves that leave
    // the keys' blend by more than the tolerance are made again with straight segments, 16-bit
    // knot times and a quarter of the budget, and where those leave it as well the keys are
    // kept as they are.
    std::unique_ptr<ClipOut> clip;
    orvane_animation_compression_statistics stats = {};
    double between = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1) {
            // Knots on the samples: 8-bit knot times fall between samples of a long clip.
            compression.ErrorBudget *= 0.25f;
            compression.AllowedDegrees = 1u << 1;
            compression.AllowedFormats &=
                ~((1u << OrvaneCurveFormatDaK8uC8u) | (1u << OrvaneCurveFormatD4nK8uC7u) |
                  (1u << OrvaneCurveFormatD3K8uC8u) | (1u << OrvaneCurveFormatD9I1K8uC8u) |
                  (1u << OrvaneCurveFormatD9I3K8uC8u));
        }
        clip = std::make_unique<ClipOut>();
        clip->name = name;
        clip->group = OrvaneCompressAnimation(skeleton, sampler, frames, float(step),
                                              clip->name.c_str(), &compression, &stats);
        if (!clip->group) {
            OrvaneEndSampledAnimation(sampler);
            return Fail(__LINE__, "clip \"%s\": the compressor failed", name.c_str());
        }
        clip->maxError = stats.MaxError;
        between = reference
                      ? ClipDistance(clip->group, reference->group, times, float(duration), shells)
                      : 0;
        if (between <= double(summary->ToleranceUsed)) break;
    }
    OrvaneEndSampledAnimation(sampler);
    if (between > double(summary->ToleranceUsed)) {
        Report(
            "animation \"%s\": compressed, %g from the keys' blend between samples "
            "(tolerance %g): the keys are kept instead",
            name.c_str(), between, double(summary->ToleranceUsed));
        Report("%s", referenceLine.c_str());
        clips.push_back(std::move(reference));
        return true;
    }
    clip->maxError = std::max(clip->maxError, float(between));
    std::string motion = "no root motion";
    if (rootMotionBone >= 0) {
        last[0] = first[0];  // the travel leaves the pose when played with root motion
        // Played with root motion by default: the root motion bone's change each frame moves
        // the model, and leaves the pose.
        uint32_t flags = 0, dofs = 0;
        OrvaneGetTrackGroupFlags(clip->group, &flags, &dofs);
        OrvaneSetTrackGroupFlags(clip->group, flags | 4, dofs);
        const Pose& end = travel.last;
        for (int k = 0; k < 3; ++k)
            clip->group->LoopTranslation[k] = end.position[k];
        char text[160];
        std::snprintf(text, sizeof text,
                      "root motion from \"%s\": %.4g file units, turning %.3g degrees",
                      bones[size_t(rootMotionBone)].name.c_str(),
                      std::sqrt(double(end.position[0]) * end.position[0] +
                                double(end.position[1]) * end.position[1] +
                                double(end.position[2]) * end.position[2]),
                      (travel.heading - travel.heading0) * 180 / M_PI);
        motion = text;
    }
    clip->animation.Name = clip->name.data();
    clip->animation.Duration = float(duration);
    clip->animation.TimeStep = float(step);
    clip->animation.Oversampling = 1;
    clip->animation.TrackGroupCount = 1;
    clip->animation.TrackGroups = &clip->group;
    // The group was built with the clip's name pointer; keep it on the stable copy.
    clip->group->Name = clip->name.data();
    Report(
        "animation \"%s\": %.3f s, %d samples at %.6g/s, one on each key (%g ticks/s), %d of "
        "%d bones moved, max error %g of %g at the joints and farthest vertices, at %s "
        "(file units), %d bytes of curves (%d of them plain floats); %s; %s",
        name.c_str(), duration, samples, rate, tps, matched, skeleton->BoneCount,
        double(clip->maxError), double(summary->ToleranceUsed),
        capture ? "the frames" : "and between samples", stats.CurveDataBytes, stats.ExactComponents,
        LoopText(first, last).c_str(), motion.c_str());
    clips.push_back(std::move(clip));
    return true;
}

aiMatrix4x4 ChannelTransform(const aiNodeAnim* channel, double time, const aiMatrix4x4& rest) {
    aiVector3D s0, t0;
    aiQuaternion r0;
    rest.Decompose(s0, r0, t0);
    const aiVector3D t = Interpolate(channel->mPositionKeys, channel->mNumPositionKeys, time, t0);
    const aiQuaternion r = Interpolate(channel->mRotationKeys, channel->mNumRotationKeys, time, r0);
    const aiVector3D s = Interpolate(channel->mScalingKeys, channel->mNumScalingKeys, time, s0);
    return aiMatrix4x4(s, r, t);
}

// Per bone (builder order), in its own units: the farthest vertex that its motion carries,
// its own or a descendant's, bounded through the joints between them (without any vertex:
// 3 cm around each joint).
std::vector<double> Import::CarriedReach() const {
    // Content without a mesh is seen at its joints and 3 cm around them, as the compressor
    // measures it.
    bool anyVertex = false;
    for (float r : reach)
        anyVertex = anyVertex || r > 0;
    std::vector<double> carried(reach.begin(), reach.end());
    if (!anyVertex)
        for (double& c : carried)
            c = 0.03 * unitsPerMeter;
    for (size_t i = bones.size(); i-- > 0;) {
        const int p = bones[i].parent;
        if (p < 0) continue;
        const Pose local =
            Decompose(aiMatrix4x4(bones[size_t(p)].bindWorld).Inverse() * bones[i].bindWorld);
        const double joint = std::sqrt(double(local.position[0]) * local.position[0] +
                                       double(local.position[1]) * local.position[1] +
                                       double(local.position[2]) * local.position[2]) *
                             scale;
        carried[size_t(p)] = std::max(carried[size_t(p)], joint + carried[i]);
    }
    return carried;
}

// Moves the chosen bone's travel since the first frame (its horizontal movement, and its turn
// about the up axis, about where it stood) into the root motion bone, and takes it out of the
// bones below: every bone stays where it was in object space. With RepeatLast the root motion
// bone keeps the latest travel (the loop's extra sample).
void Import::TakeOutTravel(std::vector<Pose>* local, RootTravel* travel, bool repeatLast) const {
    std::vector<Pose>& l = *local;
    if (repeatLast) {
        l[0] = travel->last;
        return;
    }
    auto matrix = [](const Pose& p) {
        const aiQuaternion q(p.orientation[3], p.orientation[0], p.orientation[1],
                             p.orientation[2]);
        return aiMatrix4x4(aiVector3D(p.scaleShear[0], p.scaleShear[4], p.scaleShear[8]), q,
                           aiVector3D(p.position[0], p.position[1], p.position[2]));
    };
    aiMatrix4x4 object;
    for (int b = rootMotionBone; b > 0; b = bones[size_t(b)].parent)
        object = matrix(l[size_t(b)]) * object;
    const Pose o = Decompose(object);
    double up[3] = {art.UpVector[0], art.UpVector[1], art.UpVector[2]};
    const double n = std::sqrt(up[0] * up[0] + up[1] * up[1] + up[2] * up[2]);
    for (double& u : up)
        u = n > 0 ? u / n : 0;
    double h[3], height = 0, twist = 0;
    for (int k = 0; k < 3; ++k) {
        height += o.position[k] * up[k];
        twist += o.orientation[k] * up[k];
    }
    for (int k = 0; k < 3; ++k)
        h[k] = o.position[k] - height * up[k];
    const double raw = 2 * std::atan2(twist, double(o.orientation[3]));
    if (!travel->started) {
        travel->started = true;
        std::copy(h, h + 3, travel->start);
        travel->heading0 = travel->heading = travel->raw = raw;
    } else {
        double d = raw - travel->raw;
        while (d > M_PI)
            d -= 2 * M_PI;
        while (d < -M_PI)
            d += 2 * M_PI;
        travel->heading += d;
        travel->raw = raw;
    }
    const double turn = travel->heading - travel->heading0;
    Pose m;
    for (int k = 0; k < 3; ++k)
        m.orientation[k] = float(up[k] * std::sin(turn / 2));
    m.orientation[3] = float(std::cos(turn / 2));
    const aiMatrix4x4 rotation = matrix(m);
    const aiVector3D turned =
        rotation *
        aiVector3D(float(travel->start[0]), float(travel->start[1]), float(travel->start[2]));
    m.position[0] = float(h[0] - turned.x);
    m.position[1] = float(h[1] - turned.y);
    m.position[2] = float(h[2] - turned.z);
    const aiMatrix4x4 back = aiMatrix4x4(matrix(m)).Inverse();
    for (size_t i = 1; i < l.size(); ++i)
        if (bones[i].parent == 0) l[i] = Decompose(back * matrix(l[i]));
    l[0] = m;
    travel->last = m;
}

// The compressor's measuring distance per bone (skeleton order): the farthest vertex the bone
// moves; for a bone without vertices the tolerance itself (its children's joints are measured
// as well), or 3 cm when the content has no mesh at all (motion capture).
std::vector<float> Import::ShellDistances() const {
    bool anyVertex = false;
    for (float r : reach)
        anyVertex = anyVertex || r > 0;
    const float without = anyVertex ? summary->ToleranceUsed : 0.03f * unitsPerMeter;
    std::vector<float> shells(bones.size(), without);
    for (size_t i = 0; i < bones.size(); ++i)
        if (reach[i] > 0) shells[size_t(remap[i])] = std::max(reach[i], summary->ToleranceUsed);
    return shells;
}

// Whether a clip ends where it starts: looped, it plays to its last key and jumps back to its
// first, by what its bones' joints and farthest vertices move (file units).
std::string Import::LoopText(const std::vector<Pose>& first, const std::vector<Pose>& last) const {
    const std::vector<double> carried = CarriedReach();
    double jump = 0;
    for (size_t i = 0; i < first.size() && i < last.size(); ++i) {
        double d = 0, dot = 0;
        for (int k = 0; k < 3; ++k)
            d += double(first[i].position[k] - last[i].position[k]) *
                 (first[i].position[k] - last[i].position[k]);
        for (int k = 0; k < 4; ++k)
            dot += double(first[i].orientation[k]) * last[i].orientation[k];
        const double angle = 2 * std::acos(std::min(1.0, std::fabs(dot)));
        jump = std::max(jump, std::sqrt(d) + angle * carried[i]);
    }
    char text[160];
    if (jump <= double(summary->ToleranceUsed))
        std::snprintf(text, sizeof text, "loops seamlessly (ends where it starts)");
    else
        std::snprintf(text, sizeof text,
                      "looped, plays to its end and jumps back (by up to %.4g file units)", jump);
    return text;
}

// The values at a clip's first and last knots (before the loop's extra knot).
static void EndValues(const ExactCurve& position, const ExactCurve& orientation, Pose* first,
                      Pose* last) {
    std::copy_n(position.controls.begin(), 3, first->position);
    std::copy_n(position.controls.end() - 3, 3, last->position);
    std::copy_n(orientation.controls.begin(), 4, first->orientation);
    std::copy_n(orientation.controls.end() - 4, 4, last->orientation);
}

// A glTF clip on the skeleton's bones (channels of nodes that are not bones are dropped).
KeyedClip Import::GltfKeyedClip(const orvane_import::GltfClip& source,
                                const std::string& fallback) {
    KeyedClip out;
    out.name = source.name.empty() ? fallback : source.name;
    std::map<int, int> boneOfNode;
    for (size_t i = 0; i < bones.size(); ++i) {
        auto it = gltfNode.find(bones[i].node);
        if (it != gltfNode.end()) boneOfNode[it->second] = int(i);
    }
    for (const orvane_import::GltfChannel& ch : source.channels) {
        out.duration = std::max(out.duration, ch.times.back());
        auto it = boneOfNode.find(ch.node);
        if (it == boneOfNode.end()) continue;
        out.channels.push_back(ch);
        out.channels.back().node = it->second;
    }
    return out;
}

// A clip whose every key stays at its time with its channel's interpolation: its curves go into
// the track group unfitted (float knots and controls), so it plays as the file defines. Still
// holds each bone's transform where no channel moves it; Why says in the report why the clip
// is kept this way.
bool Import::ExactClip(const KeyedClip& source, const std::vector<aiMatrix4x4>& still,
                       const char* why, std::unique_ptr<ClipOut>* out, std::string* line) {
    using orvane_import::GltfPath;
    auto clip = std::make_unique<ClipOut>();
    clip->name = source.name;
    const float duration = source.duration;
    double spacing = 0;
    int counts[3] = {0, 0, 0};
    for (const orvane_import::GltfChannel& ch : source.channels) {
        for (size_t k = 1; k < ch.times.size(); ++k) {
            const double d = double(ch.times[k]) - ch.times[k - 1];
            if (spacing == 0 || d < spacing) spacing = d;
        }
        ++counts[int(ch.interpolation)];
    }
    // The budget is shared along the longest chain of bones: each bone's rotation blend may
    // move the farthest vertex it carries (its own or its descendants') by a quarter of its
    // share, and each of its three curves, where it barely moves, may be held still at a cost
    // of a quarter more.
    int depth = 1;
    for (size_t i = 0; i < bones.size(); ++i) {
        int d = 1;
        for (int p = bones[i].parent; p >= 0; p = bones[size_t(p)].parent)
            ++d;
        depth = std::max(depth, d);
    }
    const std::vector<double> carried = CarriedReach();
    const double share = kMeasuredShare * double(summary->ToleranceUsed) / depth;
    const double stillBudget = 0.25 * share;

    std::vector<const orvane_import::GltfChannel*> channels(bones.size() * 3, nullptr);
    int matched = 0;
    for (const orvane_import::GltfChannel& ch : source.channels)
        if (ch.node >= 0 && size_t(ch.node) < bones.size()) {
            matched += !channels[3 * size_t(ch.node)] && !channels[3 * size_t(ch.node) + 1] &&
                       !channels[3 * size_t(ch.node) + 2];
            channels[3 * size_t(ch.node) + size_t(ch.path)] = &ch;
        }
    if (matched == 0) return true;

    orvane_track_group_builder* builder =
        OrvaneBeginTrackGroup(clip->name.c_str(), 0, int(bones.size()), 0, false);
    if (!builder)
        return Fail(__LINE__, "clip \"%s\": no memory for its tracks", clip->name.c_str());
    double error = 0;
    std::vector<Pose> first(bones.size()), last(bones.size());
    for (size_t i = 0; i < bones.size(); ++i) {
        const Pose rest = Decompose(still[i]);
        const auto* t = channels[3 * i + size_t(GltfPath::Translation)];
        const auto* r = channels[3 * i + size_t(GltfPath::Rotation)];
        const auto* s = channels[3 * i + size_t(GltfPath::Scale)];
        const double lever = std::max(carried[i], 1e-6);
        // A rotation's blend off its arc is an angle: never more than a milliradian.
        const double angleBudget = std::min(1e-3, 0.25 * share / lever);
        double angleError = 0;
        ExactCurve position =
            t ? ChannelCurve(*t, duration, angleBudget, &angleError) : Constant(rest.position, 3);
        ExactCurve orientation = r ? ChannelCurve(*r, duration, angleBudget, &angleError)
                                   : Constant(rest.orientation, 4);
        ExactCurve scaleShear = s ? ScaleShear(ChannelCurve(*s, duration, angleBudget, &angleError))
                                  : Constant(rest.scaleShear, 9);
        // Curves whose every value lies this close to one (baked matrices leave scales that
        // wander by 1e-7) are held at it: for a position the distance itself, for a scale or
        // an orientation what it moves the farthest vertex by.
        const double held = std::max({HoldIfStill(&position, 1, stillBudget),
                                      HoldIfStill(&orientation, 2 * lever, stillBudget),
                                      HoldIfStill(&scaleShear, lever, stillBudget)});
        error = std::max(error, angleError * lever + 3 * held);
        if (convert) {
            // The change of basis is linear (affine for a root's position) in every control, so
            // the curves stay exact in the new basis. Orientations come back from it with a sign
            // of their own: each takes the sign that keeps its dot product with the one before
            // (an orthogonal map keeps dot products), so blends between them are unchanged.
            static const float none[3] = {0, 0, 0};
            for (size_t k = 0; k < position.knots.size(); ++k)
                OrvaneInPlaceSimilarityTransformPosition(bones[i].parent < 0 ? affine : none,
                                                         linear, &position.controls[3 * k]);
            const std::vector<float> before = orientation.controls;
            for (size_t k = 0; k < orientation.knots.size(); ++k) {
                float* q = &orientation.controls[4 * k];
                OrvaneInPlaceSimilarityTransformOrientation(linear, inverse, q);
                if (k == 0) continue;
                float was = 0, is = 0;
                for (int c = 0; c < 4; ++c) {
                    was += before[4 * (k - 1) + size_t(c)] * before[4 * k + size_t(c)];
                    is += q[c - 4] * q[c];
                }
                if ((was < 0) != (is < 0))
                    for (int c = 0; c < 4; ++c)
                        q[c] = -q[c];
            }
            for (size_t k = 0; k < scaleShear.knots.size(); ++k)
                OrvaneInPlaceSimilarityTransformScaleShear(linear, inverse,
                                                           &scaleShear.controls[9 * k]);
        }
        EndValues(position, orientation, &first[i], &last[i]);
        for (ExactCurve* c : {&position, &orientation, &scaleShear})
            KeepLastIntervalWhenLooping(c, duration);
        OrvaneBeginTransformTrack(builder, bones[i].name.c_str());
        auto type = [](const ExactCurve& c, orvane_data_type_definition* constant) {
            return c.knots.size() == 1 ? constant : OrvaneCurveDataDaK32fC32fType;
        };
        OrvaneSetTransformTrackPosition(builder, position.degree, 0, int(position.knots.size()),
                                        position.knots.data(), position.controls.data(),
                                        type(position, OrvaneCurveDataD3Constant32fType));
        OrvaneSetTransformTrackOrientation(
            builder, orientation.degree, 0, int(orientation.knots.size()), orientation.knots.data(),
            orientation.controls.data(), type(orientation, OrvaneCurveDataD4Constant32fType));
        OrvaneSetTransformTrackScaleShear(
            builder, scaleShear.degree, 0, int(scaleShear.knots.size()), scaleShear.knots.data(),
            scaleShear.controls.data(), type(scaleShear, OrvaneCurveDataDaConstant32fType));
        OrvaneEndTransformTrack(builder);
    }
    clip->group = OrvaneEndTrackGroup(builder);
    if (!clip->group)
        return Fail(__LINE__, "clip \"%s\": no memory for its tracks", clip->name.c_str());
    // Each record once: the group's identity curves share one per dimension, and equal
    // constants one record.
    int bytes = 0;
    std::set<const void*> records;
    for (int k = 0; k < clip->group->TransformTrackCount; ++k) {
        const orvane_transform_track& track = clip->group->TransformTracks[k];
        for (const orvane_curve2* curve :
             {&track.PositionCurve, &track.OrientationCurve, &track.ScaleShearCurve})
            if (records.insert(curve->CurveData.Object).second) bytes += CurveDataBytes(curve);
    }
    clip->maxError = float(error * depth);
    clip->animation.Name = clip->name.data();
    clip->animation.Duration = duration;
    clip->animation.TimeStep = source.timeStep > 0 ? source.timeStep
                               : spacing > 0       ? float(spacing)
                                                   : 1.0f / 30;
    clip->animation.Oversampling = 1;
    clip->animation.TrackGroupCount = 1;
    clip->animation.TrackGroups = &clip->group;
    clip->group->Name = clip->name.data();
    char text[512];
    std::snprintf(text, sizeof text,
                  "animation \"%s\": %.3f s, keys kept (%s: %d step, %d linear, %d cubic "
                  "channels), %d of %d bones moved, max error %g of %g at the farthest vertices "
                  "(file units), %d bytes of curves; %s",
                  clip->name.c_str(), double(duration), why, counts[0], counts[1], counts[2],
                  matched, skeleton->BoneCount, double(clip->maxError),
                  double(summary->ToleranceUsed), bytes, LoopText(first, last).c_str());
    *line = text;
    *out = std::move(clip);
    return true;
}

bool Import::BuildExactClip(const KeyedClip& source, const std::vector<aiMatrix4x4>& still,
                            const char* why) {
    std::unique_ptr<ClipOut> clip;
    std::string line;
    if (!ExactClip(source, still, why, &clip, &line)) return false;
    if (!clip) {
        Report("animation \"%s\": no channel matches a bone, skipped", source.name.c_str());
        return true;
    }
    if (rootMotionBone >= 0) line += "; no root motion (taken from sampled clips only)";
    Report("%s", line.c_str());
    clips.push_back(std::move(clip));
    return true;
}

// The largest distance, over Times and the bones, between where Candidate and Reference put
// each bone's joint and its three measuring points (Shells, skeleton order), in object space.
double Import::ClipDistance(const orvane_track_group* candidate,
                            const orvane_track_group* reference, const std::vector<double>& times,
                            float duration, const std::vector<float>& shells) const {
    const int count = skeleton->BoneCount;
    std::vector<int> a(static_cast<size_t>(count), -1), b(a);
    for (int i = 0; i < count; ++i) {
        OrvaneFindTrackByName(candidate, skeleton->Bones[i].Name, &a[size_t(i)]);
        OrvaneFindTrackByName(reference, skeleton->Bones[i].Name, &b[size_t(i)]);
    }
    std::vector<aiMatrix4x4> worldA(static_cast<size_t>(count)), worldB(worldA);
    auto local = [&](const orvane_track_group* group, int track, int bone, float t) {
        orvane_transform l = skeleton->Bones[bone].Transform;
        if (track >= 0) {
            orvane_track_sample_context context = {};
            context.SampleTime = t;
            context.SampleDuration = duration;
            l = {};
            OrvaneSampleTrackUUULocal(&context, &group->TransformTracks[track], nullptr, &l);
        }
        float m[16];
        OrvaneBuildCompositeTransform4x4(&l, m);
        aiMatrix4x4 out;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                out[r][c] = m[c * 4 + r];
        return out;
    };
    double worst = 0;
    for (double time : times) {
        const float t = float(std::min(time, double(duration)));
        for (int i = 0; i < count; ++i) {
            const int parent = skeleton->Bones[i].ParentIndex;
            const aiMatrix4x4 la = local(candidate, a[size_t(i)], i, t);
            const aiMatrix4x4 lb = local(reference, b[size_t(i)], i, t);
            worldA[size_t(i)] = parent >= 0 ? worldA[size_t(parent)] * la : la;
            worldB[size_t(i)] = parent >= 0 ? worldB[size_t(parent)] * lb : lb;
            // The root motion bone is seen only through the bones below it.
            if (rootMotionBone >= 0 && i == remap[0]) continue;
            for (int k = 0; k < 4; ++k) {
                aiVector3D p(0, 0, 0);
                if (k < 3) p[unsigned(k)] = shells[size_t(i)];
                worst = std::max(worst,
                                 double((worldA[size_t(i)] * p - worldB[size_t(i)] * p).Length()));
            }
        }
    }
    return worst;
}

}  // namespace orvane_import
