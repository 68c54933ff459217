// Motion clips for the compression tests and benchmarks: BVH files read through assimp, the
// clips of the walk/jog workload resampled at their own rate, and the field's error metric of a
// compressed track group against the samples it came from.
#ifndef ORVANE_BENCH_MOTION_CLIP_H
#define ORVANE_BENCH_MOTION_CLIP_H

#include <cstdint>
#include <string>
#include <vector>

#include "orvane.h"

namespace orvane_workload {

// A skeleton's local transforms sampled at a fixed step, lengths in cm.
struct SampledMotion {
    std::string name;
    float timeStep = 0;  // seconds between frames
    int32_t frameCount = 0;
    std::vector<std::string> boneNames;
    std::vector<int32_t> parents;  // below each bone's own index, -1 for a root
    // frameCount x bone count, frame-major.
    std::vector<float> positions;     // 3 per entry
    std::vector<float> orientations;  // 4 per entry, x y z w
    std::vector<float> scales;        // 3 per entry (diagonal scale)

    int32_t boneCount() const { return int32_t(parents.size()); }
    size_t at(int32_t frame, int32_t bone) const {
        return size_t(frame) * parents.size() + size_t(bone);
    }
};

// Reads a BVH file through assimp: one bone for every ROOT and JOINT in the order they appear
// (End Sites are not bones), each frame's positions the joint's OFFSET plus its position
// channels (assimp reads these on joints with all six channels) and orientations from its
// rotation channels (Euler angles in degrees, applied in the listed order), scales 1. Lengths
// are multiplied by unitToCm. On failure returns false with the reason in *error, as every
// call does in a build without assimp (CanLoadBvh() false). For the project's own captures
// only: assimp 5.2.5's BVH reader is not safe on malformed files (a joint's CHANNELS after one
// of its child joints is written through a dangling reference, and a hierarchy it refuses
// leaks the nodes it had built).
bool CanLoadBvh();
bool LoadBvh(const std::string& path, float unitToCm, SampledMotion* motion, std::string* error);

// The CMU capture's unit (1/0.45 inch) in cm.
constexpr float kCmuUnitToCm = 2.54f / 0.45f;

// The walk and the jog of the character workload, sampled at 30 Hz from their keys (linear
// and normalised-linear between keys), metres converted to cm. Empty with *error set when
// the workload cannot be read.
std::vector<SampledMotion> PabMotions(std::string* error);

// The skeleton and sampler that OrvaneCompressAnimation takes. The skeleton holds pointers
// into the motion's names; both must outlive the calls that use them.
struct CompressionInput {
    std::vector<orvane_bone> bones;
    orvane_skeleton skeleton{};
    orvane_track_group_sampler* sampler = nullptr;
    explicit CompressionInput(const SampledMotion& motion);
    ~CompressionInput();
    CompressionInput(const CompressionInput&) = delete;
    CompressionInput& operator=(const CompressionInput&) = delete;
};

// The field's metric: for every bone and frame, the points (shell, 0, 0), (0, shell, 0) and
// (0, 0, shell) carried to object space by the bone's transform composed with its parents',
// from the samples and from the group's tracks (sampled as the runtime does, at frame times,
// tracks found by the bone's name); each error is the larger distance of the three. Maximum,
// 99th percentile and mean are over the frames; midpointMaximum is the largest error halfway
// between frames, against the samples interpolated as uncompressed playback does (lerp,
// normalised lerp).
struct ErrorReport {
    float maximum = 0;
    float percentile99 = 0;
    float mean = 0;
    float midpointMaximum = 0;
    int32_t midpointWorstBone = -1;
    int32_t midpointWorstFrame = -1;  // the interval from this frame to the next
    int32_t worstBone = -1;
    int32_t worstFrame = -1;
    bool tracksFound = true;
};
ErrorReport MeasureError(const SampledMotion& motion, const orvane_track_group* group, float shell);

}  // namespace orvane_workload

#endif  // ORVANE_BENCH_MOTION_CLIP_H
