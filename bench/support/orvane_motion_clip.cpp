#include "orvane_motion_clip.h"

#include <algorithm>
#include <cmath>

#include "orvane_pab_workload.h"

namespace orvane_workload {

#if !ORVANE_MOTION_CLIP_READS_BVH
// Without assimp (a cross build for another host) there is no BVH reader.
bool CanLoadBvh() {
    return false;
}

bool LoadBvh(const std::string& path, float, SampledMotion*, std::string* error) {
    if (error) *error = path + ": this build reads no BVH (assimp was not found)";
    return false;
}
#endif

namespace {

template <int N>
void SampleKeys(const std::vector<Key<N>>& keys, float t, float* out) {
    if (keys.empty()) return;
    if (t <= keys.front().time || keys.size() == 1) {
        std::copy(keys.front().value, keys.front().value + N, out);
        return;
    }
    if (t >= keys.back().time) {
        std::copy(keys.back().value, keys.back().value + N, out);
        return;
    }
    size_t i = 1;
    while (keys[i].time < t)
        ++i;
    const Key<N>& a = keys[i - 1];
    const Key<N>& b = keys[i];
    const float u = b.time > a.time ? (t - a.time) / (b.time - a.time) : 0.0f;
    float sign = 1.0f;
    if (N == 4) {
        float dot = 0;
        for (int c = 0; c < 4; ++c)
            dot += a.value[c] * b.value[c];
        sign = dot < 0 ? -1.0f : 1.0f;
    }
    for (int c = 0; c < N; ++c)
        out[c] = (1 - u) * a.value[c] + u * sign * b.value[c];
    if (N == 4) {
        float length = 0;
        for (int c = 0; c < 4; ++c)
            length += out[c] * out[c];
        length = std::sqrt(length);
        for (int c = 0; c < 4; ++c)
            out[c] /= length;
    }
}

}  // namespace

std::vector<SampledMotion> PabMotions(std::string* error) {
    std::vector<SampledMotion> motions;
    const Workload* workload = SharedPabWorkload(error);
    if (workload == nullptr) return motions;
    for (const Clip& clip : workload->clips) {
        SampledMotion m;
        m.name = clip.name;
        m.timeStep = 1.0f / 30.0f;
        m.frameCount = int32_t(std::lround(clip.duration * 30.0f)) + 1;
        for (const Joint& joint : workload->joints) {
            m.boneNames.push_back(joint.name);
            m.parents.push_back(joint.parent);
        }
        const size_t entries = size_t(m.frameCount) * workload->joints.size();
        m.positions.resize(entries * 3);
        m.orientations.resize(entries * 4);
        m.scales.resize(entries * 3);
        for (int32_t f = 0; f < m.frameCount; ++f) {
            const float t = std::min(float(f) * m.timeStep, clip.duration);
            for (size_t b = 0; b < workload->joints.size(); ++b) {
                const JointTrack& track = clip.tracks[b];
                const Joint& rest = workload->joints[b];
                float* p = &m.positions[m.at(f, int32_t(b)) * 3];
                float* q = &m.orientations[m.at(f, int32_t(b)) * 4];
                float* s = &m.scales[m.at(f, int32_t(b)) * 3];
                std::copy(rest.translation, rest.translation + 3, p);
                std::copy(rest.rotation, rest.rotation + 4, q);
                std::copy(rest.scale, rest.scale + 3, s);
                SampleKeys(track.translations, t, p);
                SampleKeys(track.rotations, t, q);
                SampleKeys(track.scales, t, s);
                for (int c = 0; c < 3; ++c)
                    p[c] *= 100.0f;
            }
        }
        motions.push_back(std::move(m));
    }
    return motions;
}

CompressionInput::CompressionInput(const SampledMotion& motion) {
    const int32_t n = motion.boneCount();
    bones.assign(size_t(n), orvane_bone{});
    for (int32_t b = 0; b < n; ++b) {
        bones[size_t(b)].Name = const_cast<char*>(motion.boneNames[size_t(b)].c_str());
        bones[size_t(b)].ParentIndex = motion.parents[size_t(b)];
        OrvaneMakeIdentity(&bones[size_t(b)].Transform);
    }
    skeleton.Name = const_cast<char*>(motion.name.c_str());
    skeleton.BoneCount = n;
    skeleton.Bones = bones.data();
    sampler = OrvaneBeginSampledAnimation(n, motion.frameCount);
    for (int32_t f = 0; f < motion.frameCount; ++f) {
        for (int32_t b = 0; b < n; ++b) {
            const float* s = &motion.scales[motion.at(f, b) * 3];
            const float scaleShear[9] = {s[0], 0, 0, 0, s[1], 0, 0, 0, s[2]};
            OrvaneSetTransformSample(sampler, b, &motion.positions[motion.at(f, b) * 3],
                                     &motion.orientations[motion.at(f, b) * 4], scaleShear);
        }
        OrvanePushSampledFrame(sampler);
    }
}

CompressionInput::~CompressionInput() {
    OrvaneEndSampledAnimation(sampler);
}

ErrorReport MeasureError(const SampledMotion& motion, const orvane_track_group* group,
                         float shell) {
    ErrorReport report;
    const int32_t n = motion.boneCount();
    std::vector<int32_t> tracks(size_t(n), -1);
    for (int32_t b = 0; b < n; ++b) {
        if (!OrvaneFindTrackByName(group, motion.boneNames[size_t(b)].c_str(),
                                   &tracks[size_t(b)])) {
            report.tracksFound = false;
            return report;
        }
    }
    std::vector<orvane_transform> raw(static_cast<size_t>(n));
    std::vector<orvane_transform> compressed(static_cast<size_t>(n));
    std::vector<float> errors;
    errors.reserve(size_t(n) * size_t(motion.frameCount));
    const float duration = float(motion.frameCount - 1) * motion.timeStep;
    double sum = 0;
    // Frame f + w: at w = 0 the samples; at w = 0.5 the midpoint of the frame's interval, where
    // the samples are interpolated as uncompressed playback does (lerp, normalised lerp).
    auto measure = [&](int32_t f, float w) {
        orvane_track_sample_context context{};
        context.SampleTime = (float(f) + w) * motion.timeStep;
        context.SampleDuration = duration;
        context.FrameIndex = f;
        const int32_t g = w > 0 ? f + 1 : f;
        for (int32_t b = 0; b < n; ++b) {
            const float* s0 = &motion.scales[motion.at(f, b) * 3];
            const float* s1 = &motion.scales[motion.at(g, b) * 3];
            const float* p0 = &motion.positions[motion.at(f, b) * 3];
            const float* p1 = &motion.positions[motion.at(g, b) * 3];
            const float* q0 = &motion.orientations[motion.at(f, b) * 4];
            const float* q1 = &motion.orientations[motion.at(g, b) * 4];
            float p[3], q[4], scaleShear[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
            const float sign =
                q0[0] * q1[0] + q0[1] * q1[1] + q0[2] * q1[2] + q0[3] * q1[3] < 0 ? -1.0f : 1.0f;
            float length = 0;
            for (int c = 0; c < 4; ++c) {
                q[c] = q0[c] + w * (sign * q1[c] - q0[c]);
                length += q[c] * q[c];
            }
            for (int c = 0; c < 4; ++c)
                q[c] /= std::sqrt(length);
            for (int c = 0; c < 3; ++c) {
                p[c] = p0[c] + w * (p1[c] - p0[c]);
                scaleShear[4 * c] = s0[c] + w * (s1[c] - s0[c]);
            }
            orvane_transform local;
            OrvaneSetTransform(&local, p, q, scaleShear);
            orvane_transform sampled{};
            sampled.Flags = 0;
            OrvaneSampleTrackUUULocal(&context, &group->TransformTracks[tracks[size_t(b)]], nullptr,
                                      &sampled);
            const int32_t parent = motion.parents[size_t(b)];
            if (parent < 0) {
                raw[size_t(b)] = local;
                compressed[size_t(b)] = sampled;
            } else {
                OrvaneMultiply(&raw[size_t(b)], &raw[size_t(parent)], &local);
                OrvaneMultiply(&compressed[size_t(b)], &compressed[size_t(parent)], &sampled);
            }
            float worst = 0;
            for (int axis = 0; axis < 3; ++axis) {
                float point[3] = {0, 0, 0};
                point[axis] = shell;
                float a[3], c[3];
                OrvaneTransformPoint(a, &raw[size_t(b)], point);
                OrvaneTransformPoint(c, &compressed[size_t(b)], point);
                const float d =
                    std::sqrt((a[0] - c[0]) * (a[0] - c[0]) + (a[1] - c[1]) * (a[1] - c[1]) +
                              (a[2] - c[2]) * (a[2] - c[2]));
                worst = std::max(worst, d);
            }
            if (w > 0) {
                if (worst > report.midpointMaximum) {
                    report.midpointMaximum = worst;
                    report.midpointWorstBone = b;
                    report.midpointWorstFrame = f;
                }
                continue;
            }
            errors.push_back(worst);
            sum += worst;
            if (worst > report.maximum || report.worstBone < 0) {
                report.maximum = worst;
                report.worstBone = b;
                report.worstFrame = f;
            }
        }
    };
    for (int32_t f = 0; f < motion.frameCount; ++f) {
        measure(f, 0.0f);
        if (f + 1 < motion.frameCount) measure(f, 0.5f);
    }
    std::sort(errors.begin(), errors.end());
    report.percentile99 = errors[std::min(errors.size() - 1, size_t(double(errors.size()) * 0.99))];
    report.mean = float(sum / double(errors.size()));
    return report;
}

}  // namespace orvane_workload
