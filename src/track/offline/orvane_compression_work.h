// The working memory that the animation compressor's modules share: one compression's
// samples and compressed transforms in object space, the targets of the bone being compressed,
// and the scratch of its fits, in one block.
#ifndef ORVANE_COMPRESSION_WORK_H
#define ORVANE_COMPRESSION_WORK_H

#include <cmath>
#include <cstdint>

#include "orvane/fit.h"
#include "orvane/math.h"
#include "orvane/types.h"

namespace orvane {
namespace compression {

// A bone's components: position, orientation and scale/shear, of 3, 4 and 9 values.
constexpr int kComponents = 3;
constexpr int kDimensions[kComponents] = {3, 4, 9};

// The Euclidean distance between two values of the dimension.
inline float Distance(int dimension, const float* a, const float* b) {
    float sum = 0.0f;
    for (int c = 0; c < dimension; ++c) {
        const float d = a[c] - b[c];
        sum += d * d;
    }
    return std::sqrt(sum);
}

constexpr int32_t kPoolStride = 10;

// Working memory of one compression, one block (filled by OrvaneCompressAnimation).
struct Work {
    int32_t boneCount;
    int32_t sampleCount;
    float timeStep;
    float duration;
    orvane_bspline_solver* solver;
    orvane_transform* rawObject;   // boneCount x sampleCount
    orvane_transform* compObject;  // boneCount x sampleCount, filled bone by bone
    orvane_transform* local;       // sampleCount: the candidate's local transforms
    float* target[kComponents];    // sampleCount x dimension
    float* controls;               // the solver's maximum knot count x 9
    float* ranks;                  // the solver's maximum knot count: distances to rank
    float* frameTimes;             // sampleCount knots for the exact form
    float* lineKnots;              // sampleCount: the kept samples of the reduced polyline
    float* lineControls;           // sampleCount x 9
    float* chosenKnots;            // a fit's first knots, in sample units
    // The polyline last kept in lineKnots: of which samples, within which tolerance.
    const float* lineSamples;
    float lineTolerance;
    int32_t lineKept;
    // The constant values the bones chosen so far keep (kPoolStride floats each: the dimension,
    // then the values): a constant within a hair of one takes its value, so that the track
    // group keeps one record for both.
    float* pool;
    int32_t poolCount;
    int32_t poolCapacity;
    // Halfway between frames f and f + 1 (sampleCount - 1 of each).
    orvane_transform* rawMid;   // boneCount x (sampleCount - 1): the samples interpolated
    orvane_transform* compMid;  // boneCount x (sampleCount - 1), filled bone by bone
    orvane_transform* localMid;
    float* midTarget[kComponents];  // (sampleCount - 1) x dimension
    float* midBend;                 // sampleCount: a component's MidpointBend per interval
    float* shellPoints;             // sampleCount x 9: a bone's raw shell points
    float* shellBend;               // sampleCount: their bend allowed per interval
    float* frameErrors;             // boneCount x sampleCount: the last measured at the shell
    // Per bone: the farthest reach of its descendants and shell from its origin (largest over
    // the frames), whether it is still, its still local values (position, orientation,
    // scale/shear) and the reach of its still children (0 for none).
    float* subtreeReach;
    uint8_t* still;
    float* stillValues;  // boneCount x 16
    float* stillReach;
    // The fit on chosen knots: knots at frames (sample units), the knots as encoded (seconds),
    // the stored times (sample units, with room to extend past both ends), the decoded
    // controls, and a curve encoded in place.
    // Kept for every bone until all are chosen, for the pass that lowers compact depths
    // against whole subtrees: its targets (3 + 4 + 9 values a frame), local transforms from its
    // chosen curves (at the frames and halfway between them), the bend allowed at its shell
    // halfway between frames, its shell distance, and its budgets halfway between frames.
    float* targetAll;               // boneCount x sampleCount x 16
    orvane_transform* localAll;     // boneCount x sampleCount
    orvane_transform* localMidAll;  // boneCount x (sampleCount - 1)
    float* bendAll;                 // boneCount x sampleCount
    float* shells;                  // boneCount
    float* midBudgets;              // boneCount
    float* driftBudgets;            // boneCount
    float* fitKnots;
    float* newKnots;
    float* encodeKnots;
    float* storedKnots;
    float* decoded;
    uint8_t* failed;  // per knot interval
    void* curveBuffer;
    int32_t curveBufferSize;
    orvane_curve2 scratch;
};

}  // namespace compression
}  // namespace orvane

#endif  // ORVANE_COMPRESSION_WORK_H
