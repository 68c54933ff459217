// Random skeletons for the skeleton and pose tests, made through the skeleton builder, and the
// double-precision reference of the world pose composition.
#ifndef ORVANE_TESTS_ANIM_SKELETON_TEST_SUPPORT_H
#define ORVANE_TESTS_ANIM_SKELETON_TEST_SUPPORT_H

#include <algorithm>
#include <memory>
#include <numeric>
#include <vector>

#include "math/math_test_support.h"
#include "orvane/skeleton_builder.h"

namespace orvane_test {

// A local transform whose set flags are exactly those asked for: the other components hold
// their identity values.
inline orvane_transform RandomLocal(Random& random, uint32_t flags, float range = 2.0f) {
    orvane_transform t;
    OrvaneMakeIdentity(&t);
    if (flags & OrvaneTransformHasPosition) {
        auto p = random.Vector(range);
        std::copy(p.begin(), p.end(), t.Position);
    }
    if (flags & OrvaneTransformHasOrientation) {
        auto q = random.UnitQuaternion();
        std::copy(q.begin(), q.end(), t.Orientation);
    }
    if (flags & OrvaneTransformHasScaleShear) {
        auto s = random.ScaleShear();
        std::copy(s.begin(), s.end(), &t.ScaleShear[0][0]);
    }
    t.Flags = flags;
    return t;
}

// A forest in the order of adding to a builder: parent[i] is a builder index or -1.
struct Forest {
    std::vector<int32_t> parent;
    std::vector<orvane_transform> local;
};

// n bones; a random forest in some order, then shuffled into the order of adding so that
// parents often come after their children. flagChoices lists the flag sets to draw from.
inline Forest RandomForest(Random& random, int n, const std::vector<uint32_t>& flagChoices,
                           int roots = 1) {
    std::vector<int32_t> sortedParent(n);
    for (int i = 0; i < n; ++i)
        sortedParent[i] = i < roots ? -1 : random.Index(i);
    std::vector<int32_t> order(n);  // builder index of each sorted bone
    std::iota(order.begin(), order.end(), 0);
    for (int i = n - 1; i > 0; --i)
        std::swap(order[i], order[random.Index(i + 1)]);
    Forest f;
    f.parent.assign(n, -1);
    f.local.resize(n);
    for (int i = 0; i < n; ++i) {
        f.parent[order[i]] = sortedParent[i] < 0 ? -1 : order[sortedParent[i]];
        f.local[order[i]] = RandomLocal(random, flagChoices[random.Index(int(flagChoices.size()))]);
    }
    return f;
}

// The world (skeleton-relative) transform of builder bone i, composed with the library's
// transform product.
inline orvane_transform ForestWorld(const Forest& f, int32_t i) {
    orvane_transform w = f.local[i];
    for (int32_t p = f.parent[i]; p != -1; p = f.parent[p])
        OrvanePreMultiplyBy(&w, &f.local[p]);
    return w;
}

struct SkeletonDeleter {
    void operator()(orvane_skeleton* s) const { OrvaneFreeBuilderResult(s); }
};
using SkeletonPtr = std::unique_ptr<orvane_skeleton, SkeletonDeleter>;

inline SkeletonPtr BuildSkeleton(const Forest& f, std::vector<int32_t>* remap = nullptr) {
    const int32_t n = int32_t(f.parent.size());
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(n);
    for (int32_t i = 0; i < n; ++i) {
        orvane_transform w = ForestWorld(f, i);
        OrvaneAddBone(b, f.local[i].Position, f.local[i].Orientation, &f.local[i].ScaleShear[0][0],
                      w.Position, w.Orientation, &w.ScaleShear[0][0]);
    }
    for (int32_t i = 0; i < n; ++i)
        if (f.parent[i] != -1) OrvaneSetBoneParent(b, i, f.parent[i]);
    std::vector<int32_t> table(n, -7);
    SkeletonPtr s(OrvaneEndSkeleton(b, table.data()));
    if (remap) *remap = table;
    return s;
}

inline const std::vector<uint32_t>& AllFlagSets() {
    static const std::vector<uint32_t> all = {0, 1, 2, 3, 4, 5, 6, 7};
    return all;
}
inline const std::vector<uint32_t>& RigidFlagSets() {
    static const std::vector<uint32_t> rigid = {0, 1, 2, 3};
    return rigid;
}

// The reference world and composite matrices (column-vector form, double precision) of every
// bone of a skeleton for the given local transforms and offset.
struct ReferencePose {
    std::vector<Mat4> world, composite;
};
inline ReferencePose ReferenceWorldPose(const orvane_skeleton& s,
                                        const std::vector<orvane_transform>& local,
                                        const float* offset) {
    ReferencePose r;
    const Mat4 root = offset ? FromColumns4(offset) : Mat4::Identity();
    for (int32_t i = 0; i < s.BoneCount; ++i) {
        const int32_t p = s.Bones[i].ParentIndex;
        const Mat4 parent = p < 0 ? root : r.world[p];
        r.world.push_back(parent * MatrixOf(local[i]));
        r.composite.push_back(r.world[i] * FromColumns4(&s.Bones[i].InverseWorldTransform[0][0]));
    }
    return r;
}

// Largest difference between a library matrix and a reference, relative to the reference's
// size (at least 1).
inline double RelativeError(const float* m, const Mat4& reference) {
    const Mat4 got = FromColumns4(m);
    return (got - reference).cwiseAbs().maxCoeff() / std::max(1.0, MaxAbs(reference));
}

// The same for a composite matrix, relative to the sizes of the two factors: an ill-conditioned
// inverse world transform magnifies the world matrix's rounding.
inline double CompositeError(const float* m, const Mat4& reference, const Mat4& world,
                             const float* inverseWorld) {
    const Mat4 got = FromColumns4(m);
    const double scale =
        std::max(1.0, MaxAbs(world)) * std::max(1.0, MaxAbs(FromColumns4(inverseWorld)));
    return (got - reference).cwiseAbs().maxCoeff() / scale;
}

}  // namespace orvane_test

#endif  // ORVANE_TESTS_ANIM_SKELETON_TEST_SUPPORT_H
