#include "orvane_motion_clip.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "orvane_pab_workload.h"

namespace orvane_workload {

namespace {

void QuaternionMultiply(float r[4], const float a[4], const float b[4]) {
    const float x = a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1];
    const float y = a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0];
    const float z = a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3];
    const float w = a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2];
    r[0] = x;
    r[1] = y;
    r[2] = z;
    r[3] = w;
}

struct BvhJoint {
    int32_t parent = -1;
    float offset[3] = {0, 0, 0};
    int32_t firstChannel = 0;
    std::vector<int> channels;  // 0..2 position x y z, 3..5 rotation x y z
};

int ChannelCode(const std::string& name) {
    static const char* const names[6] = {"Xposition", "Yposition", "Zposition",
                                         "Xrotation", "Yrotation", "Zrotation"};
    for (int i = 0; i < 6; ++i)
        if (name == names[i]) return i;
    return -1;
}

}  // namespace

bool LoadBvh(const std::string& path, float unitToCm, SampledMotion* motion, std::string* error) {
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    std::ifstream in(path);
    if (!in) return fail("cannot open " + path);
    std::string word;
    in >> word;
    if (word != "HIERARCHY") return fail(path + ": no HIERARCHY");
    SampledMotion m;
    std::vector<BvhJoint> joints;
    std::vector<int32_t> stack;  // open blocks: joint index, or -1 for an end site
    int32_t channelCount = 0;
    bool pendingEndSite = false;
    int32_t pendingParent = -1;
    while (in >> word && word != "MOTION") {
        if (word == "ROOT" || word == "JOINT") {
            std::string name;
            in >> name;
            BvhJoint joint;
            joint.parent = pendingParent;
            for (auto it = stack.rbegin(); it != stack.rend(); ++it)
                if (*it >= 0) {
                    joint.parent = *it;
                    break;
                }
            if (word == "ROOT" && !stack.empty()) return fail(path + ": ROOT inside a block");
            joints.push_back(joint);
            m.boneNames.push_back(name);
            pendingEndSite = false;
        } else if (word == "End") {
            in >> word;  // "Site"
            pendingEndSite = true;
        } else if (word == "{") {
            stack.push_back(pendingEndSite ? -1 : int32_t(joints.size()) - 1);
            pendingEndSite = false;
        } else if (word == "}") {
            if (stack.empty()) return fail(path + ": unbalanced braces");
            stack.pop_back();
        } else if (word == "OFFSET") {
            float o[3];
            in >> o[0] >> o[1] >> o[2];
            if (!in) return fail(path + ": bad OFFSET");
            if (!stack.empty() && stack.back() >= 0)
                for (int c = 0; c < 3; ++c)
                    joints[size_t(stack.back())].offset[c] = o[c] * unitToCm;
        } else if (word == "CHANNELS") {
            int count = 0;
            in >> count;
            if (!in || count < 0 || count > 6 || stack.empty() || stack.back() < 0)
                return fail(path + ": bad CHANNELS");
            BvhJoint& joint = joints[size_t(stack.back())];
            joint.firstChannel = channelCount;
            for (int i = 0; i < count; ++i) {
                std::string channel;
                in >> channel;
                const int code = ChannelCode(channel);
                if (code < 0) return fail(path + ": unknown channel " + channel);
                joint.channels.push_back(code);
            }
            channelCount += count;
        } else {
            return fail(path + ": unexpected " + word);
        }
    }
    if (word != "MOTION" || joints.empty() || !stack.empty()) return fail(path + ": no MOTION");
    int32_t frames = 0;
    float frameTime = 0;
    in >> word >> frames;             // "Frames:"
    in >> word >> word >> frameTime;  // "Frame Time:"
    if (!in || frames < 2 || !(frameTime > 0)) return fail(path + ": bad frame header");
    m.name = path.substr(path.find_last_of('/') + 1);
    m.timeStep = frameTime;
    m.frameCount = frames;
    for (const BvhJoint& j : joints)
        m.parents.push_back(j.parent);
    const size_t entries = size_t(frames) * joints.size();
    m.positions.resize(entries * 3);
    m.orientations.resize(entries * 4);
    m.scales.assign(entries * 3, 1.0f);
    std::vector<float> values(static_cast<size_t>(channelCount));
    for (int32_t f = 0; f < frames; ++f) {
        for (float& v : values)
            in >> v;
        if (!in) return fail(path + ": frame " + std::to_string(f) + " is short");
        for (size_t b = 0; b < joints.size(); ++b) {
            const BvhJoint& joint = joints[b];
            float* p = &m.positions[m.at(f, int32_t(b)) * 3];
            float* q = &m.orientations[m.at(f, int32_t(b)) * 4];
            for (int c = 0; c < 3; ++c)
                p[c] = joint.offset[c];
            q[0] = q[1] = q[2] = 0.0f;
            q[3] = 1.0f;
            for (size_t c = 0; c < joint.channels.size(); ++c) {
                const float v = values[size_t(joint.firstChannel) + c];
                const int code = joint.channels[c];
                if (code < 3) {
                    p[code] += v * unitToCm;
                } else {
                    // Channels in the listed order compose as q = q1 (x) q2 (x) q3.
                    const float half = v * 3.14159265358979f / 360.0f;
                    float axis[4] = {0, 0, 0, std::cos(half)};
                    axis[code - 3] = std::sin(half);
                    QuaternionMultiply(q, q, axis);
                }
            }
        }
    }
    *motion = std::move(m);
    return true;
}

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
    for (int32_t f = 0; f < motion.frameCount; ++f) {
        orvane_track_sample_context context{};
        context.SampleTime = float(f) * motion.timeStep;
        context.SampleDuration = duration;
        context.FrameIndex = f;
        for (int32_t b = 0; b < n; ++b) {
            const float* s = &motion.scales[motion.at(f, b) * 3];
            const float scaleShear[9] = {s[0], 0, 0, 0, s[1], 0, 0, 0, s[2]};
            orvane_transform local;
            OrvaneSetTransform(&local, &motion.positions[motion.at(f, b) * 3],
                               &motion.orientations[motion.at(f, b) * 4], scaleShear);
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
            errors.push_back(worst);
            if (worst > report.maximum || report.worstBone < 0) {
                report.maximum = worst;
                report.worstBone = b;
                report.worstFrame = f;
            }
        }
    }
    std::sort(errors.begin(), errors.end());
    report.percentile99 = errors[std::min(errors.size() - 1, size_t(double(errors.size()) * 0.99))];
    return report;
}

}  // namespace orvane_workload
