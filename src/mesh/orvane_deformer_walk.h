// The vertex loop of the vector skinning kernels, written once over a path's operations P.
// Deliberately no include guard: each path's module includes it once, inside its own
// anonymous namespace and under its own target options (the AVX2 module switches to AVX2 and
// FMA around it), so that the loop is compiled for the same processor features as its
// operations and inlines them. P provides, all static and inline:
//   Matrix                    the registers of a vertex's matrix
//   Load(M)                   the matrix at M
//   Blend<Bones, Indirect, Used>(vertex, table, matrices)
//                             the vertex's blended matrix (Bones 1, 2 or 4) from its first
//                             Used slots
//   Point(m, p), Direction(m, p)
//                             the point or direction at p transformed, read 16 bytes wide
//   LastDirection(m, p)       the same, read as exactly the 12 bytes at p
//   Finish()                  after the last vertex
// Loads and stores are unaligned and never touch a byte outside the vertex.

// Exactly three floats: the 64-bit integer forms are the ones declared for unaligned addresses.
inline __m128 Load3(const uint8_t* p) {
    const __m128 xy = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    const __m128 z = _mm_load_ss(reinterpret_cast<const float*>(p + 8));
    return _mm_movelh_ps(xy, z);
}

inline void Store3(uint8_t* p, __m128 v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(v));
    _mm_store_ss(reinterpret_cast<float*>(p + 8), _mm_movehl_ps(v, v));
}

// A four-slot vertex blends only the slots it uses: the first one, two or three when the
// slots after them weigh nothing, else all four. Slots of weight 0 add nothing to the sum, so
// the blend is the same; vertices that come grouped by the slots they use take one course for
// long runs.
template <class P, bool Indirect>
inline typename P::Matrix BlendByUse(const uint8_t* vertex, const int32_t* table,
                                     const float* matrices) {
    const uint8_t* weights = vertex + 12;
    if (weights[3] != 0) return P::template Blend<4, Indirect, 4>(vertex, table, matrices);
    if (weights[2] != 0) return P::template Blend<4, Indirect, 3>(vertex, table, matrices);
    if (weights[1] != 0) return P::template Blend<4, Indirect, 2>(vertex, table, matrices);
    // A whole weight scales by exactly 1 (255 times the weight scale rounds to 1), so the one
    // bone's matrix is its blend, bit for bit, without the product.
    if (weights[0] == 255) return P::Load(MatrixFor<Indirect>(matrices, table, vertex[12 + 4]));
    return P::template Blend<4, Indirect, 1>(vertex, table, matrices);
}

template <class P, int Bones, int Dirs, bool Indirect>
void DeformVertices(int32_t count, const uint8_t* source, uint8_t* dest, const int32_t* table,
                    const float* matrices, int32_t tailWords) {
    constexpr int kBoneBytes = BoneBytes(Bones);
    constexpr int kSourcePrefix = SourcePrefixBytes(Bones, Dirs);
    constexpr int kDestPrefix = DestPrefixBytes(Dirs);
    const VertexStrides stride = StridesOf(Bones, Dirs, tailWords);
    const bool hasTail = tailWords > 0;
    typename P::Matrix rigid{};
    if constexpr (Bones == 0) rigid = P::Load(MatrixFor<Indirect>(matrices, table, 0));
    for (int32_t v = 0; v < count; ++v, source += stride.source, dest += stride.dest) {
        typename P::Matrix m;
        if constexpr (Bones == 0)
            m = rigid;
        else if constexpr (Bones == 4)
            m = BlendByUse<P, Indirect>(source, table, matrices);
        else
            m = P::template Blend<Bones, Indirect, Bones>(source, table, matrices);
        // Every field but the last direction is followed by more of the same vertex, so it is
        // read and written 16 bytes wide: the fourth lane read is never used, the one written is
        // overwritten by the next field. With a tail, the last direction is no exception.
        _mm_storeu_ps(reinterpret_cast<float*>(dest), P::Point(m, source));
        for (int k = 0; k < Dirs - 1; ++k)
            _mm_storeu_ps(reinterpret_cast<float*>(dest + 12 + 12 * k),
                          P::Direction(m, source + 12 + kBoneBytes + 12 * k));
        constexpr int kLastIn = 12 + kBoneBytes + 12 * (Dirs - 1), kLastOut = 12 + 12 * (Dirs - 1);
        if (hasTail) {
            _mm_storeu_ps(reinterpret_cast<float*>(dest + kLastOut),
                          P::Direction(m, source + kLastIn));
            CopyTailWords(dest + kDestPrefix, source + kSourcePrefix, tailWords);
        } else {
            Store3(dest + kLastOut, P::LastDirection(m, source + kLastIn));
        }
    }
    P::Finish();
}
