// The walk over a skeleton shared by every world-pose path, written once over a kernel type
// that supplies the per-bone products. Each path's module includes this after its own
// target options so that the walk is compiled for the same processor features as its kernel.
// A kernel K (MatrixKernel below, or a path's own) provides, all static and inline:
//   Identity(parent, inverseWorld, composite, world)
//   Position(position, parent, inverseWorld, composite, world)
//   PositionOrientation(position, orientation, parent, inverseWorld, composite, world)
//   Full(transform, parent, inverseWorld, composite, world)
//   WorldIdentity / WorldPosition / WorldPositionOrientation / WorldFull: the same without
//     the composite
//   Composite(inverseWorld, world, composite)
// Deliberately no include guard: each path's module includes it once, in its own namespace.

// The per-bone entry points of a kernel, written once over a path's matrix operations M, which
// supplies, all static: Load(m), Store(m, matrix), StoreComposite(inverseWorld, world,
// composite) and the world matrices WorldPositionM, WorldPositionOrientationM and WorldFullM.
template <class M>
struct MatrixKernel {
    static void Composite(const float* inverseWorld, const float* world, float* composite) {
        M::StoreComposite(inverseWorld, M::Load(world), composite);
    }
    static void WorldIdentity(const float* parent, float* world) {
        M::Store(world, M::Load(parent));
    }
    static void WorldPosition(const float* position, const float* parent, float* world) {
        M::Store(world, M::WorldPositionM(position, parent));
    }
    static void WorldPositionOrientation(const float* position, const float* orientation,
                                         const float* parent, float* world) {
        M::Store(world, M::WorldPositionOrientationM(position, orientation, parent));
    }
    static void WorldFull(const orvane_transform& t, const float* parent, float* world) {
        M::Store(world, M::WorldFullM(t, parent));
    }
    static void Identity(const float* parent, const float* inverseWorld, float* composite,
                         float* world) {
        StoreBoth(M::Load(parent), inverseWorld, composite, world);
    }
    static void Position(const float* position, const float* parent, const float* inverseWorld,
                         float* composite, float* world) {
        StoreBoth(M::WorldPositionM(position, parent), inverseWorld, composite, world);
    }
    static void PositionOrientation(const float* position, const float* orientation,
                                    const float* parent, const float* inverseWorld,
                                    float* composite, float* world) {
        StoreBoth(M::WorldPositionOrientationM(position, orientation, parent), inverseWorld,
                  composite, world);
    }
    static void Full(const orvane_transform& t, const float* parent, const float* inverseWorld,
                     float* composite, float* world) {
        StoreBoth(M::WorldFullM(t, parent), inverseWorld, composite, world);
    }

private:
    template <class Matrix>
    static void StoreBoth(const Matrix& w, const float* inverseWorld, float* composite,
                          float* world) {
        M::Store(world, w);
        M::StoreComposite(inverseWorld, w, composite);
    }
};

template <class K>
inline void KernelBuildBone(const orvane_transform& t, const float* parent,
                            const float* inverseWorld, float* composite, float* world) {
    if (t.Flags & OrvaneTransformHasScaleShear) {
        K::Full(t, parent, inverseWorld, composite, world);
    } else if (t.Flags == OrvaneTransformHasPosition) {
        K::Position(t.Position, parent, inverseWorld, composite, world);
    } else if (t.Flags == 0) {
        K::Identity(parent, inverseWorld, composite, world);
    } else {
        K::PositionOrientation(t.Position, t.Orientation, parent, inverseWorld, composite, world);
    }
}

template <class K>
inline void KernelBuildBoneWorld(const orvane_transform& t, const float* parent, float* world) {
    if (t.Flags & OrvaneTransformHasScaleShear) {
        K::WorldFull(t, parent, world);
    } else if (t.Flags == OrvaneTransformHasPosition) {
        K::WorldPosition(t.Position, parent, world);
    } else if (t.Flags == 0) {
        K::WorldIdentity(parent, world);
    } else {
        K::WorldPositionOrientation(t.Position, t.Orientation, parent, world);
    }
}

inline const orvane_transform& SourceTransform(const orvane_bone* bones,
                                               const orvane::WorldPoseSource& source, int32_t i) {
    if (source.reverse) {
        const int32_t k = source.reverse[i];
        if (k < 0) return bones[i].Transform;
        return *reinterpret_cast<const orvane_transform*>(source.base + size_t(k) * source.stride);
    }
    return *reinterpret_cast<const orvane_transform*>(source.base + size_t(i) * source.stride);
}

template <class K, bool WithComposite>
inline int32_t KernelWalk(const orvane_bone* bones, int32_t first, int32_t end,
                          const orvane::WorldPoseSource& source, const float* offset, float* worlds,
                          float* composites) {
    for (int32_t i = first; i < end; ++i) {
        const int32_t p = bones[i].ParentIndex;
        if (!orvane::ParentPrecedes(p, i)) [[unlikely]]
            return i;
        const orvane_transform& t = SourceTransform(bones, source, i);
        const float* parent = p < 0 ? offset : worlds + 16 * size_t(p);
        float* world = worlds + 16 * size_t(i);
        if constexpr (WithComposite) {
            KernelBuildBone<K>(t, parent, orvane::InverseWorldOf(bones[i]),
                               composites + 16 * size_t(i), world);
        } else {
            KernelBuildBoneWorld<K>(t, parent, world);
        }
    }
    return end;
}

template <class K>
int32_t KernelBuildRange(const orvane_bone* bones, int32_t first, int32_t end,
                         const orvane::WorldPoseSource& source, const float* offset, float* worlds,
                         float* composites) {
    if (composites)
        return KernelWalk<K, true>(bones, first, end, source, offset, worlds, composites);
    return KernelWalk<K, false>(bones, first, end, source, offset, worlds, nullptr);
}

template <class K>
void KernelBuildCompositeRange(const orvane_bone* bones, int32_t first, int32_t end,
                               const float* worlds, float* composites) {
    for (int32_t i = first; i < end; ++i)
        K::Composite(orvane::InverseWorldOf(bones[i]), worlds + 16 * size_t(i),
                     composites + 16 * size_t(i));
}

template <class K>
void KernelBuildBoneWorldEntry(const orvane_transform& t, const float* parent, float* world) {
    KernelBuildBoneWorld<K>(t, parent, world);
}

template <class K>
constexpr orvane::WorldPoseRoutines MakeRoutines(orvane::WorldPosePath path, const char* name) {
    return {path,
            name,
            &K::Identity,
            &K::Position,
            &K::PositionOrientation,
            &K::Full,
            &KernelBuildBoneWorldEntry<K>,
            &K::Composite,
            &KernelBuildRange<K>,
            &KernelBuildCompositeRange<K>};
}
