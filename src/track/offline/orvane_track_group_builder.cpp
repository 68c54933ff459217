// The track group builder, re-sorting, LOD error space and sampled animations.
//
// The builder encodes every curve into an arena as it is pushed, keeps the pending tracks in
// three name-ordered sets, and at the end lays out one block: the group record, vector tracks,
// LOD errors, transform tracks, text tracks, text entries, one identity record per dimension
// that all the group's identity curves share, and the other curves' data (constants with the
// same format and values sharing one record), each piece at pointer alignment (the records
// hold pointers).
#include <cstddef>
#include <cstring>
#include <new>

#include "curve/orvane_curve.h"
#include "track/orvane_track_group.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "core/orvane_ordered_tree.h"
#include "core/orvane_string.h"
#include "orvane/track_group.h"
#include "orvane/track_group_builder.h"

namespace {

using orvane::CompareTrackNames;

constexpr float kUnbounded = 1.9140881e38f;
constexpr size_t kPieceAlignment = alignof(void*) > 8 ? alignof(void*) : 8;

inline size_t AlignUp(size_t n) {
    return (n + kPieceAlignment - 1) & ~(kPieceAlignment - 1);
}

struct PendingVector {
    const char* name;
    int32_t dimension;
    orvane_curve2 curve;
};

struct PendingTransform {
    const char* name;
    orvane_curve2 curves[3];  // position, orientation, scale/shear
};

struct PendingEntry {
    float timeStamp;
    const char* text;
    PendingEntry* next;
};

struct PendingText {
    const char* name;
    int32_t entryCount;
    PendingEntry* first;
    PendingEntry* last;
};

// Every pending record starts with its name.
struct NameLess {
    bool operator()(const void* a, const void* b) const {
        return CompareTrackNames(*static_cast<const char* const*>(a),
                                 *static_cast<const char* const*>(b)) < 0;
    }
};

using NameSet = orvane::OrderedTree<NameLess>;

constexpr int32_t kCurveDimensions[3] = {3, 4, 9};

// The largest dimension a curve (and an identity record's 16-bit Dimension) can hold.
constexpr int32_t kMostCurveDimensions = 0x7FFF;

}  // namespace

struct orvane_track_group_builder {
    orvane_memory_arena* arena;
    const char* name;
    NameSet vectors;
    NameSet transforms;
    NameSet texts;
    int32_t vectorCount;
    int32_t transformCount;
    int32_t textCount;
    int32_t textEntryCount;
    PendingTransform* openTransform;
    PendingText* openText;
    bool includeLODErrors;
};

struct orvane_track_group_sampler {
    int32_t transformCurveCount;
    int32_t sampleCount;
    int32_t current;
    float* positions;
    float* orientations;
    float* scaleShears;
};

namespace {

template <typename T>
T* ArenaNew(orvane_track_group_builder* b) {
    void* memory = OrvaneMemoryArenaPush(b->arena, int32_t(sizeof(T)));
    if (memory == nullptr) return nullptr;
    return new (memory) T{};
}

// Encodes from a curve builder into the arena; the curve stays empty when any step fails.
// The builder is released either way.
void EncodeInto(orvane_track_group_builder* b, orvane_curve_builder* cb, orvane_curve2* curve) {
    curve->CurveData.Type = nullptr;
    curve->CurveData.Object = nullptr;
    const int32_t size = OrvaneGetResultingCurveDataSize(cb);
    void* memory = size > 0 ? OrvaneMemoryArenaPush(b->arena, size) : nullptr;
    if (memory == nullptr) {
        OrvaneAbortCurveBuilder(cb);
        return;
    }
    if (OrvaneEndCurveDataInPlace(cb, curve, memory) == nullptr) {
        curve->CurveData.Type = nullptr;
        curve->CurveData.Object = nullptr;
    }
}

void EncodeArrays(orvane_track_group_builder* b, orvane_data_type_definition* type, int32_t degree,
                  int32_t dimension, int32_t knotCount, const float* knots, const float* controls,
                  orvane_curve2* curve) {
    curve->CurveData.Type = nullptr;
    curve->CurveData.Object = nullptr;
    orvane_curve_builder cb;
    if (!orvane::InitializeCurveBuilder(&cb, type, degree, dimension, knotCount)) return;
    cb.Knots = knots;
    cb.Controls = controls;
    cb.Source = nullptr;
    EncodeInto(b, &cb, curve);
}

void EncodeCopy(orvane_track_group_builder* b, const orvane_curve2* source, orvane_curve2* curve) {
    curve->CurveData.Type = nullptr;
    curve->CurveData.Object = nullptr;
    if (source == nullptr) return;
    orvane_curve_builder* cb = OrvaneBeginCurveCopy(source);
    if (cb == nullptr) return;
    EncodeInto(b, cb, curve);
}

bool HasData(const orvane_curve2& c) {
    return c.CurveData.Object != nullptr;
}

// A copy into a transform track's component, whose curves have dimensions 3, 4 and 9: a curve
// of another dimension is refused (logged; the component stays empty and is written as the
// identity), and an identity curve takes the component's dimension. The copy is checked, not
// the source: the copy is the builder's own encoding of a recognised format.
void EncodeComponentCopy(orvane_track_group_builder* b, const orvane_curve2* source,
                         int32_t component) {
    orvane_curve2* curve = &b->openTransform->curves[component];
    EncodeCopy(b, source, curve);
    if (!HasData(*curve)) return;
    const int32_t dimension = kCurveDimensions[component];
    auto* header = static_cast<orvane_curve_data_header*>(curve->CurveData.Object);
    if (header->Format == OrvaneCurveFormatDaIdentity) {
        static_cast<orvane_curve_data_da_identity*>(curve->CurveData.Object)->Dimension =
            int16_t(dimension);
        return;
    }
    const int32_t got = OrvaneCurveGetDimension(curve);
    if (got != 0 && got != dimension) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupBuilderOrigin, "Curve does not have dimension=%d",
                         int(dimension));
        curve->CurveData.Type = nullptr;
        curve->CurveData.Object = nullptr;
    }
}

// The dimension of the identity record that a curve is written as, or -1 for a curve with
// values. Identity records hold nothing but their dimension and nothing writes into them, so
// one record per dimension serves every identity curve of the group.
int32_t IdentityDimension(const orvane_curve2& c, int32_t identityDimension) {
    if (!HasData(c)) return identityDimension;
    // The pending curves are the builder's own encodings.
    const auto* header = static_cast<const orvane_curve_data_header*>(c.CurveData.Object);
    if (header->Format != OrvaneCurveFormatDaIdentity) return -1;
    return static_cast<const orvane_curve_data_da_identity*>(c.CurveData.Object)->Dimension;
}

// The group's shared identity records: their dimensions in the order first met.
constexpr int32_t kMostSharedIdentities = 16;
struct SharedIdentities {
    int32_t count = 0;
    int32_t dimensions[kMostSharedIdentities] = {};

    // The record's index for a dimension, added when new; -1 when the curve takes a record of
    // its own (a curve with values, or more dimensions than the table holds).
    int32_t IndexOf(int32_t dimension) {
        if (dimension < 0) return -1;
        for (int32_t i = 0; i < count; ++i)
            if (dimensions[i] == dimension) return i;
        if (count == kMostSharedIdentities) return -1;
        dimensions[count] = dimension;
        return count++;
    }
};

// The group's shared constant records: a transform track's constant curve whose format and
// values are those of an earlier one, to the bit, points at the earlier one's record (clips hold
// many bones at the same rest values). Vector tracks keep their own records: operations that
// change transform tracks in place leave them alone. The first kMostSharedConstants distinct
// constants are remembered; later ones keep records of their own. The layout and the writing meet
// the curves in the same order and make the same choices.
constexpr int32_t kMostSharedConstants = 256;
struct SharedConstants {
    int32_t count = 0;
    const void* sources[kMostSharedConstants] = {};     // the pending curves' records
    orvane_variant written[kMostSharedConstants] = {};  // their records in the block

    // The stored value of a constant record (null for any other) and its size in bytes.
    static const void* ValueOf(const orvane_curve2& c, size_t* bytes) {
        if (!HasData(c)) return nullptr;
        const void* data = c.CurveData.Object;
        switch (static_cast<const orvane_curve_data_header*>(data)->Format) {
            case OrvaneCurveFormatD3Constant32f:
                *bytes = 3 * sizeof(float);
                return static_cast<const orvane_curve_data_d3_constant32f*>(data)->Controls;
            case OrvaneCurveFormatD4Constant32f:
                *bytes = 4 * sizeof(float);
                return static_cast<const orvane_curve_data_d4_constant32f*>(data)->Controls;
            case OrvaneCurveFormatDaConstant32f: {
                const auto* r = static_cast<const orvane_curve_data_da_constant32f*>(data);
                *bytes = sizeof(float) * size_t(r->ControlCount > 0 ? r->ControlCount : 0);
                return r->ControlCount > 0 ? r->Controls : nullptr;
            }
            case OrvaneCurveFormatD3Constant14s:
                *bytes = sizeof(orvane_curve_data_d3_constant14s::Words);
                return static_cast<const orvane_curve_data_d3_constant14s*>(data)->Words;
            case OrvaneCurveFormatD4nConstant15u:
                *bytes = sizeof(orvane_curve_data_d4n_constant15u::Words);
                return static_cast<const orvane_curve_data_d4n_constant15u*>(data)->Words;
            default:
                return nullptr;
        }
    }

    // The index of an earlier constant with the curve's format and values; -1 for a curve that
    // takes a record of its own (remembered, while there is room, when it is a constant: its
    // index into *added, else -1).
    int32_t Find(const orvane_curve2& c, int32_t* added) {
        *added = -1;
        size_t n = 0;
        const void* value = ValueOf(c, &n);
        if (value == nullptr) return -1;
        const uint8_t format =
            static_cast<const orvane_curve_data_header*>(c.CurveData.Object)->Format;
        for (int32_t i = 0; i < count; ++i) {
            orvane_curve2 earlier{};
            earlier.CurveData.Object = const_cast<void*>(sources[i]);
            size_t m = 0;
            const void* other = ValueOf(earlier, &m);
            if (m == n &&
                static_cast<const orvane_curve_data_header*>(sources[i])->Format == format &&
                std::memcmp(other, value, n) == 0)
                return i;
        }
        if (count < kMostSharedConstants) {
            *added = count;
            sources[count++] = c.CurveData.Object;
        }
        return -1;
    }
};

// Bytes a curve takes in the block: its data, or an identity record for a curve that was
// never set (or failed to encode).
size_t CurveBlockBytes(const orvane_curve2& c) {
    if (!HasData(c)) return AlignUp(sizeof(orvane_curve_data_da_identity));
    orvane_curve_builder* cb = OrvaneBeginCurveCopy(&c);
    if (cb == nullptr) return AlignUp(sizeof(orvane_curve_data_da_identity));
    const int32_t size = OrvaneGetResultingCurveDataSize(cb);
    OrvaneAbortCurveBuilder(cb);
    return AlignUp(size_t(size > 0 ? size : 0));
}

void WriteIdentity(int32_t dimension, orvane_curve2* out, unsigned char* at) {
    auto* identity = reinterpret_cast<orvane_curve_data_da_identity*>(at);
    identity->CurveDataHeader.Format = OrvaneCurveFormatDaIdentity;
    identity->CurveDataHeader.Degree = 0;
    identity->Dimension = int16_t(dimension);
    out->CurveData.Type = OrvaneCurveDataDaIdentityType;
    out->CurveData.Object = identity;
}

// Writes the curve at cursor, or points it at the shared identity record of its dimension or
// at an earlier constant's record (constants: null for none); returns the bytes used at cursor
// (as the layout counts them).
size_t WriteCurve(const orvane_curve2& source, int32_t identityDimension, orvane_curve2* out,
                  unsigned char* cursor, SharedIdentities& shared, unsigned char* identities,
                  SharedConstants* constants) {
    out->CurveData.Type = nullptr;
    out->CurveData.Object = nullptr;
    const int32_t index = shared.IndexOf(IdentityDimension(source, identityDimension));
    if (index >= 0) {
        WriteIdentity(shared.dimensions[index], out,
                      identities + size_t(index) * AlignUp(sizeof(orvane_curve_data_da_identity)));
        return 0;
    }
    int32_t remembered = -1;
    const int32_t earlier = constants ? constants->Find(source, &remembered) : -1;
    if (earlier >= 0) {
        // The earlier curve's record (none when it failed to encode, as this one would).
        out->CurveData = constants->written[earlier];
        return 0;
    }
    const size_t bytes = CurveBlockBytes(source);
    if (HasData(source)) {
        orvane_curve_builder* cb = OrvaneBeginCurveCopy(&source);
        if (cb != nullptr && OrvaneEndCurveDataInPlace(cb, out, cursor) != nullptr) {
            if (remembered >= 0) constants->written[remembered] = out->CurveData;
            return bytes;
        }
        if (cb == nullptr) {
            // Falls through to the identity record the size allowed for.
        } else {
            out->CurveData.Type = nullptr;
            out->CurveData.Object = nullptr;
            return bytes;
        }
    }
    WriteIdentity(identityDimension, out, cursor);
    return bytes;
}

struct Layout {
    size_t vectors, lodErrors, transforms, texts, entries, identities, curves, total;
};

Layout LayOut(const orvane_track_group_builder* b) {
    Layout l;
    size_t at = AlignUp(sizeof(orvane_track_group));
    l.vectors = at;
    at += AlignUp(sizeof(orvane_vector_track) * size_t(b->vectors.Count()));
    l.lodErrors = at;
    if (b->includeLODErrors) at += AlignUp(sizeof(float) * size_t(b->transforms.Count()));
    l.transforms = at;
    at += AlignUp(sizeof(orvane_transform_track) * size_t(b->transforms.Count()));
    l.texts = at;
    at += AlignUp(sizeof(orvane_text_track) * size_t(b->texts.Count()));
    l.entries = at;
    at += AlignUp(sizeof(orvane_text_track_entry) * size_t(b->textEntryCount));
    // The curves in the order the end writes them: the shared identity records first, then
    // every other curve's own.
    SharedIdentities shared;
    SharedConstants constants;
    size_t own = 0;
    auto count = [&](const orvane_curve2& curve, int32_t dimension, SharedConstants* sharing) {
        int32_t added;
        if (shared.IndexOf(IdentityDimension(curve, dimension)) < 0 &&
            (sharing == nullptr || sharing->Find(curve, &added) < 0))
            own += CurveBlockBytes(curve);
    };
    b->vectors.Visit([&](const void* key, void*) {
        const auto* p = static_cast<const PendingVector*>(key);
        count(p->curve, p->dimension, nullptr);
        return true;
    });
    b->transforms.Visit([&](const void* key, void*) {
        const auto* p = static_cast<const PendingTransform*>(key);
        for (int c = 0; c < 3; ++c)
            count(p->curves[c], kCurveDimensions[c], &constants);
        return true;
    });
    l.identities = at;
    at += size_t(shared.count) * AlignUp(sizeof(orvane_curve_data_da_identity));
    l.curves = at;
    l.total = at + own;
    return l;
}

void FreeBuilder(orvane_track_group_builder* b) {
    OrvaneFreeMemoryArena(b->arena);
    b->~orvane_track_group_builder();
    ORVANE_DEALLOCATE(b);
}

}  // namespace

extern "C" {

// ------------------------------------------------------------------------------------------
// Builder

ORVANE_API orvane_track_group_builder* OrvaneBeginTrackGroup(const char* Name, orvane_int32,
                                                             orvane_int32, orvane_int32,
                                                             orvane_bool IncludeLODErrorSpace) {
    void* memory =
        ORVANE_ALLOCATE(alignof(orvane_track_group_builder), sizeof(orvane_track_group_builder));
    if (memory == nullptr) return nullptr;
    orvane_memory_arena* arena = OrvaneNewMemoryArena();
    if (arena == nullptr) {
        ORVANE_DEALLOCATE(memory);
        return nullptr;
    }
    auto* b = new (memory) orvane_track_group_builder{};
    b->arena = arena;
    b->name = Name;
    b->includeLODErrors = IncludeLODErrorSpace != 0;
    return b;
}

ORVANE_API void OrvanePushVectorTrack(orvane_track_group_builder* Builder, const char* Name,
                                      orvane_int32 Degree, orvane_int32 Dimension, orvane_int32,
                                      orvane_int32 KnotCount, const orvane_real32* Knots,
                                      const orvane_real32* Controls,
                                      orvane_data_type_definition* CurveDataType) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, Builder, );
    // The track's curve, or the identity record written in its place, holds the dimension in
    // 16 bits: a track of another dimension could only be written wrong.
    if (Dimension < 0 || Dimension > kMostCurveDimensions) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupBuilderOrigin, "Dimension %d is out of range [0, %d)",
                         int(Dimension), int(kMostCurveDimensions) + 1);
        return;
    }
    PendingVector* v = ArenaNew<PendingVector>(Builder);
    if (v == nullptr) return;
    v->name = Name;
    v->dimension = Dimension;
    EncodeArrays(Builder, CurveDataType, Degree, Dimension, KnotCount, Knots, Controls, &v->curve);
    if (Builder->vectors.Insert(v, nullptr) != nullptr) ++Builder->vectorCount;
}

ORVANE_API void OrvanePushVectorTrackCurve(orvane_track_group_builder* Builder, const char* Name,
                                           const orvane_curve2* Source) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, Builder, );
    PendingVector* v = ArenaNew<PendingVector>(Builder);
    if (v == nullptr) return;
    v->name = Name;
    v->dimension = Source ? OrvaneCurveGetDimension(Source) : 0;
    EncodeCopy(Builder, Source, &v->curve);
    if (Builder->vectors.Insert(v, nullptr) != nullptr) ++Builder->vectorCount;
}

ORVANE_API void OrvaneBeginTransformTrack(orvane_track_group_builder* Builder, const char* Name) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, Builder, );
    PendingTransform* t = ArenaNew<PendingTransform>(Builder);
    if (t != nullptr) t->name = Name;
    if (t == nullptr || Builder->transforms.Insert(t, nullptr) == nullptr) {
        Builder->openTransform = nullptr;
        return;
    }
    Builder->openTransform = t;
}

#define ORVANE_TRANSFORM_CURVE_SETTERS(Component, index)                                           \
    ORVANE_API void OrvaneSetTransformTrack##Component(                                            \
        orvane_track_group_builder* Builder, orvane_int32 Degree, orvane_int32,                    \
        orvane_int32 KnotCount, const orvane_real32* Knots, const orvane_real32* Controls,         \
        orvane_data_type_definition* CurveDataType) {                                              \
        if (Builder == nullptr || Builder->openTransform == nullptr) return;                       \
        EncodeArrays(Builder, CurveDataType, Degree, kCurveDimensions[index], KnotCount, Knots,    \
                     Controls, &Builder->openTransform->curves[index]);                            \
    }                                                                                              \
    ORVANE_API void OrvaneSetTransformTrack##Component##Curve(orvane_track_group_builder* Builder, \
                                                              const orvane_curve2* Source) {       \
        if (Builder == nullptr || Builder->openTransform == nullptr) return;                       \
        EncodeComponentCopy(Builder, Source, index);                                               \
    }

ORVANE_TRANSFORM_CURVE_SETTERS(Position, 0)
ORVANE_TRANSFORM_CURVE_SETTERS(Orientation, 1)
ORVANE_TRANSFORM_CURVE_SETTERS(ScaleShear, 2)
#undef ORVANE_TRANSFORM_CURVE_SETTERS

ORVANE_API void OrvaneEndTransformTrack(orvane_track_group_builder* Builder) {
    if (Builder == nullptr || Builder->openTransform == nullptr) return;
    Builder->openTransform = nullptr;
    ++Builder->transformCount;
}

ORVANE_API void OrvaneBeginTextTrack(orvane_track_group_builder* Builder, const char* Name) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, Builder, );
    PendingText* t = ArenaNew<PendingText>(Builder);
    if (t != nullptr) t->name = Name;
    if (t == nullptr || Builder->texts.Insert(t, nullptr) == nullptr) {
        Builder->openText = nullptr;
        return;
    }
    Builder->openText = t;
}

ORVANE_API void OrvaneAddTextEntry(orvane_track_group_builder* Builder, orvane_real32 TimeStamp,
                                   const char* Text) {
    if (Builder == nullptr || Builder->openText == nullptr) return;
    PendingEntry* e = ArenaNew<PendingEntry>(Builder);
    if (e == nullptr) return;
    e->timeStamp = TimeStamp;
    e->text = Text;
    PendingText* t = Builder->openText;
    if (t->last)
        t->last->next = e;
    else
        t->first = e;
    t->last = e;
    ++t->entryCount;
    ++Builder->textEntryCount;
}

ORVANE_API void OrvaneEndTextTrack(orvane_track_group_builder* Builder) {
    if (Builder == nullptr || Builder->openText == nullptr) return;
    Builder->openText = nullptr;
    ++Builder->textCount;
}

ORVANE_API orvane_int32
OrvaneGetResultingTrackGroupSize(const orvane_track_group_builder* Builder) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, Builder, 0);
    const size_t total = LayOut(Builder).total;
    return total > 0x7FFFFFFF ? 0 : int32_t(total);
}

ORVANE_API orvane_track_group* OrvaneEndTrackGroupInPlace(orvane_track_group_builder* Builder,
                                                          void* Memory) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, Builder, nullptr);
    if (Memory == nullptr) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupBuilderOrigin, "Memory is not allowed to be 0");
        FreeBuilder(Builder);
        return nullptr;
    }
    const Layout l = LayOut(Builder);
    auto* base = static_cast<unsigned char*>(Memory);
    std::memset(base, 0, l.total);
    auto* g = reinterpret_cast<orvane_track_group*>(base);
    g->Name = const_cast<char*>(Builder->name);
    OrvaneMakeIdentity(&g->InitialPlacement);
    unsigned char* cursor = base + l.curves;
    SharedIdentities shared;
    SharedConstants constants;

    g->VectorTrackCount = Builder->vectors.Count();
    g->VectorTracks =
        g->VectorTrackCount ? reinterpret_cast<orvane_vector_track*>(base + l.vectors) : nullptr;
    int32_t i = 0;
    Builder->vectors.Visit([&](const void* key, void*) {
        const auto* p = static_cast<const PendingVector*>(key);
        orvane_vector_track& out = g->VectorTracks[i++];
        out.Name = const_cast<char*>(p->name);
        out.Dimension = p->dimension;
        cursor += WriteCurve(p->curve, p->dimension, &out.ValueCurve, cursor, shared,
                             base + l.identities, nullptr);
        return true;
    });

    const int32_t transformCount = Builder->transforms.Count();
    g->TransformTrackCount = transformCount;
    g->TransformTracks =
        transformCount ? reinterpret_cast<orvane_transform_track*>(base + l.transforms) : nullptr;
    i = 0;
    Builder->transforms.Visit([&](const void* key, void*) {
        const auto* p = static_cast<const PendingTransform*>(key);
        orvane_transform_track& out = g->TransformTracks[i++];
        out.Name = const_cast<char*>(p->name);
        orvane_curve2* curves[3] = {&out.PositionCurve, &out.OrientationCurve,
                                    &out.ScaleShearCurve};
        for (int c = 0; c < 3; ++c)
            cursor += WriteCurve(p->curves[c], kCurveDimensions[c], curves[c], cursor, shared,
                                 base + l.identities, &constants);
        return true;
    });
    if (Builder->includeLODErrors && transformCount > 0) {
        g->TransformLODErrorCount = transformCount;
        g->TransformLODErrors = reinterpret_cast<float*>(base + l.lodErrors);
        for (int32_t t = 0; t < transformCount; ++t)
            g->TransformLODErrors[t] = kUnbounded;
    }

    g->TextTrackCount = Builder->texts.Count();
    g->TextTracks =
        g->TextTrackCount ? reinterpret_cast<orvane_text_track*>(base + l.texts) : nullptr;
    auto* entries = reinterpret_cast<orvane_text_track_entry*>(base + l.entries);
    i = 0;
    Builder->texts.Visit([&](const void* key, void*) {
        const auto* p = static_cast<const PendingText*>(key);
        orvane_text_track& out = g->TextTracks[i++];
        out.Name = const_cast<char*>(p->name);
        out.EntryCount = p->entryCount;
        out.Entries = p->entryCount ? entries : nullptr;
        for (const PendingEntry* e = p->first; e; e = e->next) {
            entries->TimeStamp = e->timeStamp;
            entries->Text = const_cast<char*>(e->text);
            ++entries;
        }
        return true;
    });

    g->AccumulationFlags = OrvaneTrackGroupSortedByName;
    FreeBuilder(Builder);
    return g;
}

ORVANE_API orvane_track_group* OrvaneEndTrackGroup(orvane_track_group_builder* Builder) {
    if (Builder == nullptr) return nullptr;
    const size_t total = LayOut(Builder).total;
    void* memory = ORVANE_ALLOCATE(uint32_t(kPieceAlignment), total);
    if (memory == nullptr) {
        FreeBuilder(Builder);
        return nullptr;
    }
    return OrvaneEndTrackGroupInPlace(Builder, memory);
}

// ------------------------------------------------------------------------------------------
// Sampled animations

ORVANE_API orvane_track_group_sampler* OrvaneBeginSampledAnimation(orvane_int32 TransformCurveCount,
                                                                   orvane_int32 SampleCount) {
    if (TransformCurveCount < 0 || SampleCount < 0) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupBuilderOrigin,
                         "TransformCurveCount %d and SampleCount %d must not be negative",
                         int(TransformCurveCount), int(SampleCount));
        return nullptr;
    }
    const int64_t samples = int64_t(TransformCurveCount) * SampleCount;
    size_t bytes;
    if (!orvane::CheckedArrayBytes(samples, 16 * sizeof(float), &bytes) || bytes > 0x7FFFFF00u) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupBuilderOrigin, "%d x %d samples are too many",
                         int(TransformCurveCount), int(SampleCount));
        return nullptr;
    }
    void* block = ORVANE_ALLOCATE(alignof(orvane_track_group_sampler),
                                  sizeof(orvane_track_group_sampler) + bytes);
    if (block == nullptr) return nullptr;
    auto* s = static_cast<orvane_track_group_sampler*>(block);
    s->transformCurveCount = TransformCurveCount;
    s->sampleCount = SampleCount;
    s->current = 0;
    s->positions = reinterpret_cast<float*>(s + 1);
    s->orientations = s->positions + samples * 3;
    s->scaleShears = s->orientations + samples * 4;
    std::memset(s->positions, 0, bytes);
    return s;
}

ORVANE_API void OrvaneEndSampledAnimation(orvane_track_group_sampler* Sampler) {
    ORVANE_DEALLOCATE(Sampler);
}

#define ORVANE_SAMPLE_ARRAY_GETTER(Name, member, width)                                            \
    ORVANE_API orvane_real32* Name(orvane_track_group_sampler* Sampler, orvane_int32 TrackIndex) { \
        if (Sampler == nullptr || TrackIndex < 0 || TrackIndex >= Sampler->transformCurveCount)    \
            return nullptr;                                                                        \
        return Sampler->member + int64_t(TrackIndex) * Sampler->sampleCount * (width);             \
    }

ORVANE_SAMPLE_ARRAY_GETTER(OrvaneGetPositionSamples, positions, 3)
ORVANE_SAMPLE_ARRAY_GETTER(OrvaneGetOrientationSamples, orientations, 4)
ORVANE_SAMPLE_ARRAY_GETTER(OrvaneGetScaleShearSamples, scaleShears, 9)
#undef ORVANE_SAMPLE_ARRAY_GETTER

ORVANE_API void OrvaneSetTransformSample(orvane_track_group_sampler* Sampler,
                                         orvane_int32 TrackIndex, const orvane_real32 Position[3],
                                         const orvane_real32 Orientation[4],
                                         const orvane_real32 ScaleShear[9]) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, Sampler, );
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, Position, );
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, Orientation, );
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, ScaleShear, );
    if (TrackIndex < 0 || TrackIndex >= Sampler->transformCurveCount) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupBuilderOrigin, "TrackIndex %d is out of range [0, %d)",
                         int(TrackIndex), int(Sampler->transformCurveCount));
        return;
    }
    if (Sampler->current >= Sampler->sampleCount) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupBuilderOrigin, "Sample %d is out of range [0, %d)",
                         int(Sampler->current), int(Sampler->sampleCount));
        return;
    }
    const int64_t at = int64_t(TrackIndex) * Sampler->sampleCount + Sampler->current;
    std::memcpy(Sampler->positions + at * 3, Position, 3 * sizeof(float));
    std::memcpy(Sampler->orientations + at * 4, Orientation, 4 * sizeof(float));
    std::memcpy(Sampler->scaleShears + at * 9, ScaleShear, 9 * sizeof(float));
}

ORVANE_API void OrvanePushSampledFrame(orvane_track_group_sampler* Sampler) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, Sampler, );
    if (Sampler->current < Sampler->sampleCount) ++Sampler->current;
}

}  // extern "C"
