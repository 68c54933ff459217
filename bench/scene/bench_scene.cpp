// Scene utilities beside plain references in the same run: ray-triangle tests against a
// textbook Moller-Trumbore test, and the two-bone solver against a straightforward analytic
// solver (law of cosines, Eigen quaternions and affine products). Items are tests or solves.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <Eigen/Dense>
#include <Eigen/Geometry>
#include <benchmark/benchmark.h>

#include "orvane/ik.h"
#include "orvane/ray_tests.h"
#include "orvane/skeleton_builder.h"

namespace {

constexpr int kCount = 1024;

struct Rays {
    std::vector<float> a, b, c, origin, direction;  // 3 floats per case
    Rays() {
        std::mt19937 engine(3);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        for (int n = 0; n < kCount; ++n) {
            float centre[3] = {5 * u(engine), 5 * u(engine), 5 * u(engine)};
            for (std::vector<float>* corner : {&a, &b, &c})
                for (int k = 0; k < 3; ++k)
                    corner->push_back(centre[k] + u(engine));
            float o[3] = {10 * u(engine), 10 * u(engine), 10 * u(engine)};
            // Aimed near the triangle: about half the rays hit.
            for (int k = 0; k < 3; ++k) {
                origin.push_back(o[k]);
                direction.push_back(centre[k] + 0.6f * u(engine) - o[k]);
            }
        }
    }
};
const Rays& TheRays() {
    static const Rays rays;
    return rays;
}

struct Hit {
    float t, u, v;
};

// Moller and Trumbore (1997), both sides, the division taken once up front. Kept out of line
// and opaque to the optimiser, as the library's test is to its callers.
__attribute__((noipa)) int MollerTrumbore(const float* a, const float* b, const float* c,
                                          const float* o, const float* d, Hit* hit) {
    const float e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const float e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const float p[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2],
                        d[0] * e2[1] - d[1] * e2[0]};
    const float det = e1[0] * p[0] + e1[1] * p[1] + e1[2] * p[2];
    if (det == 0.0f) return 0;
    const float inv = 1.0f / det;
    const float s[3] = {o[0] - a[0], o[1] - a[1], o[2] - a[2]};
    const float u = (s[0] * p[0] + s[1] * p[1] + s[2] * p[2]) * inv;
    if (u <= 0.0f || u >= 1.0f) return 0;
    const float q[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2],
                        s[0] * e1[1] - s[1] * e1[0]};
    const float v = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) * inv;
    if (v <= 0.0f || u + v >= 1.0f) return 0;
    const float t = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) * inv;
    hit->t = t;
    hit->u = u;
    hit->v = v;
    return t >= 0.0f ? 1 : -1;
}

// The same test filling the library's whole record on a hit (edges and facing too), for a
// comparison at equal output.
__attribute__((noipa)) int MollerTrumboreFullRecord(const float* a, const float* b, const float* c,
                                                    const float* o, const float* d,
                                                    orvane_triangle_intersection* hit) {
    const float e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const float e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const float p[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2],
                        d[0] * e2[1] - d[1] * e2[0]};
    const float det = e1[0] * p[0] + e1[1] * p[1] + e1[2] * p[2];
    if (det == 0.0f) return 0;
    const float inv = 1.0f / det;
    const float s[3] = {o[0] - a[0], o[1] - a[1], o[2] - a[2]};
    const float u = (s[0] * p[0] + s[1] * p[1] + s[2] * p[2]) * inv;
    if (u <= 0.0f || u >= 1.0f) return 0;
    const float q[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2],
                        s[0] * e1[1] - s[1] * e1[0]};
    const float v = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) * inv;
    if (v <= 0.0f || u + v >= 1.0f) return 0;
    const float t = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) * inv;
    hit->T = t;
    hit->U = u;
    hit->V = v;
    std::memcpy(hit->EdgeU, e1, sizeof(e1));
    std::memcpy(hit->EdgeV, e2, sizeof(e2));
    hit->Backfacing = det < 0.0f;
    return t >= 0.0f ? 1 : -1;
}

void BM_RayTriangleOrvane(benchmark::State& state) {
    const Rays& r = TheRays();
    int64_t hits = 0;
    orvane_triangle_intersection result;
    for (auto _ : state) {
        for (int n = 0; n < kCount; ++n) {
            hits +=
                OrvaneRayIntersectsTriangleAt(&r.a[3 * n], &r.b[3 * n], &r.c[3 * n],
                                              &r.origin[3 * n], &r.direction[3 * n], &result) != 0;
        }
        benchmark::DoNotOptimize(result);
    }
    benchmark::DoNotOptimize(hits);
    state.SetItemsProcessed(state.iterations() * kCount);
    state.counters["hit_rate"] = double(hits) / double(state.iterations() * kCount);
}
BENCHMARK(BM_RayTriangleOrvane);

void BM_RayTriangleMollerTrumbore(benchmark::State& state) {
    const Rays& r = TheRays();
    int64_t hits = 0;
    Hit hit{};
    for (auto _ : state) {
        const float *a = r.a.data(), *b = r.b.data(), *c = r.c.data();
        const float *o = r.origin.data(), *d = r.direction.data();
        for (int n = 0; n < 3 * kCount; n += 3)
            hits += MollerTrumbore(a + n, b + n, c + n, o + n, d + n, &hit) != 0;
        benchmark::DoNotOptimize(hit);
    }
    benchmark::DoNotOptimize(hits);
    state.SetItemsProcessed(state.iterations() * kCount);
    state.counters["hit_rate"] = double(hits) / double(state.iterations() * kCount);
}
BENCHMARK(BM_RayTriangleMollerTrumbore);

void BM_RayTriangleMollerTrumboreFullRecord(benchmark::State& state) {
    const Rays& r = TheRays();
    int64_t hits = 0;
    orvane_triangle_intersection result;
    for (auto _ : state) {
        const float *a = r.a.data(), *b = r.b.data(), *c = r.c.data();
        const float *o = r.origin.data(), *d = r.direction.data();
        for (int n = 0; n < 3 * kCount; n += 3)
            hits += MollerTrumboreFullRecord(a + n, b + n, c + n, o + n, d + n, &result) != 0;
        benchmark::DoNotOptimize(result);
    }
    benchmark::DoNotOptimize(hits);
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_RayTriangleMollerTrumboreFullRecord);

// A leg: root, upper, middle and end bone, and reachable targets in front of it.
struct Leg {
    orvane_skeleton* skeleton;
    orvane_local_pose* local;
    orvane_world_pose* world;
    std::vector<Eigen::Vector3f> targets;
    Leg() {
        const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        const float q[4] = {0, 0, 0, 1};
        const float local3[4][3] = {{0, 1, 0}, {0.1f, 0, 0}, {0, -0.45f, 0.02f}, {0, -0.42f, 0}};
        orvane_skeleton_builder* b = OrvaneBeginSkeleton(4);
        float world3[3] = {0, 0, 0};
        for (int i = 0; i < 4; ++i) {
            for (int k = 0; k < 3; ++k)
                world3[k] += local3[i][k];
            OrvaneAddBone(b, local3[i], q, identity, world3, q, identity);
            OrvaneSetBoneParent(b, i, i - 1);
        }
        skeleton = OrvaneEndSkeleton(b, nullptr);
        local = OrvaneNewLocalPose(4);
        world = OrvaneNewWorldPose(4);
        for (int i = 0; i < 4; ++i)
            *OrvaneGetLocalPoseTransform(local, i) = skeleton->Bones[i].Transform;
        OrvaneBuildWorldPose(skeleton, 0, 4, local, nullptr, world);
        std::mt19937 engine(5);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        for (int n = 0; n < 256; ++n)
            targets.emplace_back(0.1f + 0.2f * u(engine), 0.35f + 0.2f * u(engine),
                                 0.25f + 0.15f * u(engine));
    }
    ~Leg() {
        OrvaneFreeWorldPose(world);
        OrvaneFreeLocalPose(local);
        OrvaneFreeBuilderResult(skeleton);
    }
};

void BM_TwoBoneIKOrvane(benchmark::State& state) {
    Leg leg;
    const float normal[3] = {1, 0, 0};
    size_t n = 0;
    for (auto _ : state) {
        const Eigen::Vector3f& target = leg.targets[n++ & 255];
        benchmark::DoNotOptimize(OrvaneIKUpdate2Bone(3, target.data(), normal, leg.skeleton,
                                                     nullptr, leg.local, leg.world, 0.0f, 0.0f));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TwoBoneIKOrvane);

// The reference: the same limb held as Eigen transforms (local rotation and translation per
// bone), solved with the law of cosines and FromTwoVectors rotations, and the chain's world
// transforms recomposed.
struct EigenLeg {
    Eigen::Quaternionf rotation[4];
    Eigen::Vector3f translation[4];
    Eigen::Affine3f world[4];
    void Compose() {
        for (int i = 0; i < 4; ++i) {
            Eigen::Affine3f local = Eigen::Translation3f(translation[i]) * rotation[i];
            world[i] = i == 0 ? local : world[i - 1] * local;
        }
    }
};

void ReferenceTwoBone(EigenLeg& leg, const Eigen::Vector3f& target, const Eigen::Vector3f& pole) {
    const Eigen::Vector3f h = leg.world[1].translation(), m = leg.world[2].translation(),
                          f = leg.world[3].translation();
    const float l1 = (m - h).norm(), l2 = (f - m).norm();
    Eigen::Vector3f d = target - h;
    const float dl = std::min(d.norm(), l1 + l2 - 1e-6f);
    if (dl < 1e-6f) return;
    d.normalize();
    // Angle at the upper joint between the target direction and the upper bone.
    const float cosA = std::clamp((l1 * l1 + dl * dl - l2 * l2) / (2 * l1 * dl), -1.0f, 1.0f);
    const Eigen::Vector3f bend = d.cross(pole).normalized();
    const Eigen::Vector3f newMiddle =
        h + l1 * (cosA * d + std::sqrt(std::max(0.0f, 1 - cosA * cosA)) * bend);
    // Upper bone: turn m - h onto newMiddle - h in its own frame.
    Eigen::Matrix3f frame = leg.world[1].linear();
    leg.rotation[1] =
        leg.rotation[1] * Eigen::Quaternionf::FromTwoVectors(frame.transpose() * (m - h),
                                                             frame.transpose() * (newMiddle - h));
    leg.Compose();
    const Eigen::Vector3f m2 = leg.world[2].translation(), f2 = leg.world[3].translation();
    frame = leg.world[2].linear();
    leg.rotation[2] =
        leg.rotation[2] * Eigen::Quaternionf::FromTwoVectors(frame.transpose() * (f2 - m2),
                                                             frame.transpose() * (target - m2));
    leg.Compose();
}

void BM_TwoBoneIKReference(benchmark::State& state) {
    Leg source;
    EigenLeg leg;
    for (int i = 0; i < 4; ++i) {
        const orvane_transform& t = source.skeleton->Bones[i].Transform;
        leg.rotation[i] = Eigen::Quaternionf(t.Orientation[3], t.Orientation[0], t.Orientation[1],
                                             t.Orientation[2]);
        leg.translation[i] = Eigen::Vector3f(t.Position[0], t.Position[1], t.Position[2]);
    }
    leg.Compose();
    const Eigen::Vector3f pole(1, 0, 0);
    size_t n = 0;
    for (auto _ : state) {
        ReferenceTwoBone(leg, source.targets[n++ & 255], pole);
        benchmark::DoNotOptimize(leg.world[3]);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TwoBoneIKReference);

}  // namespace

BENCHMARK_MAIN();
