// Type description equality, as curve format recognition uses it: sixteen descriptions shaped
// like curve data formats (an inline two-byte header, then scalars and counted arrays),
// compared with themselves, with a separately allocated copy of each (as a loaded file holds
// them) and with one another. The baseline is the comparison that breaks cycles by writing
// marks into the descriptions, measured on the same data.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "orvane/types.h"

namespace {

using Def = orvane_data_type_definition;

Def M(int32_t kind, const char* name, Def* type = nullptr, int32_t width = 0) {
    return {kind, name, type, width, {0, 0, 0}, 0};
}

struct FormatShape {
    const char* name;
    std::vector<std::array<int32_t, 2>> members;  // kind, width; arrays refer to an element type
    std::vector<const char*> memberNames;
};

// One set of sixteen descriptions with their own header and element types.
struct FormatSet {
    std::vector<Def> header, real32, uint16, uint8;
    std::vector<std::vector<Def>> formats;
    std::vector<std::string> names;

    FormatSet() {
        header = {M(OrvaneUInt8Member, "Format"), M(OrvaneUInt8Member, "Degree"),
                  M(OrvaneEndMember, nullptr)};
        real32 = {M(OrvaneReal32Member, "Real32"), M(OrvaneEndMember, nullptr)};
        uint16 = {M(OrvaneUInt16Member, "UInt16"), M(OrvaneEndMember, nullptr)};
        uint8 = {M(OrvaneUInt8Member, "UInt8"), M(OrvaneEndMember, nullptr)};
        struct Field {
            int32_t kind;
            const char* name;
            Def* type;
            int32_t width;
        };
        Def* r = real32.data();
        Def* u16 = uint16.data();
        Def* u8 = uint8.data();
        const int32_t A = OrvaneReferenceToArrayMember, I16 = OrvaneInt16Member,
                      U16 = OrvaneUInt16Member, R = OrvaneReal32Member;
        const std::vector<std::pair<const char*, std::vector<Field>>> shapes = {
            {"DaKeyframes32f", {{I16, "Dimension", nullptr, 0}, {A, "Controls", r, 0}}},
            {"DaK32fC32f",
             {{I16, "Padding", nullptr, 0}, {A, "Knots", r, 0}, {A, "Controls", r, 0}}},
            {"DaIdentity", {{I16, "Dimension", nullptr, 0}}},
            {"DaConstant32f", {{I16, "Padding", nullptr, 0}, {A, "Controls", r, 0}}},
            {"D3Constant32f", {{I16, "Padding", nullptr, 0}, {R, "Controls", nullptr, 3}}},
            {"D4Constant32f", {{I16, "Padding", nullptr, 0}, {R, "Controls", nullptr, 4}}},
            {"DaK16uC16u",
             {{U16, "OneOverKnotScaleTrunc", nullptr, 0},
              {A, "ControlScaleOffsets", r, 0},
              {A, "KnotsControls", u16, 0}}},
            {"DaK8uC8u",
             {{U16, "OneOverKnotScaleTrunc", nullptr, 0},
              {A, "ControlScaleOffsets", r, 0},
              {A, "KnotsControls", u8, 0}}},
            {"D4nK16uC15u",
             {{U16, "ScaleOffsetTableEntries", nullptr, 0},
              {R, "OneOverKnotScale", nullptr, 0},
              {A, "KnotsControls", u16, 0}}},
            {"D4nK8uC7u",
             {{U16, "ScaleOffsetTableEntries", nullptr, 0},
              {R, "OneOverKnotScale", nullptr, 0},
              {A, "KnotsControls", u8, 0}}},
            {"D3K16uC16u",
             {{U16, "OneOverKnotScaleTrunc", nullptr, 0},
              {R, "ControlScales", nullptr, 3},
              {R, "ControlOffsets", nullptr, 3},
              {A, "KnotsControls", u16, 0}}},
            {"D3K8uC8u",
             {{U16, "OneOverKnotScaleTrunc", nullptr, 0},
              {R, "ControlScales", nullptr, 3},
              {R, "ControlOffsets", nullptr, 3},
              {A, "KnotsControls", u8, 0}}},
            {"D9I1K16uC16u",
             {{U16, "OneOverKnotScaleTrunc", nullptr, 0},
              {R, "ControlScale", nullptr, 0},
              {R, "ControlOffset", nullptr, 0},
              {A, "KnotsControls", u16, 0}}},
            {"D9I3K16uC16u",
             {{U16, "OneOverKnotScaleTrunc", nullptr, 0},
              {R, "ControlScales", nullptr, 3},
              {R, "ControlOffsets", nullptr, 3},
              {A, "KnotsControls", u16, 0}}},
            {"D9I1K8uC8u",
             {{U16, "OneOverKnotScaleTrunc", nullptr, 0},
              {R, "ControlScale", nullptr, 0},
              {R, "ControlOffset", nullptr, 0},
              {A, "KnotsControls", u8, 0}}},
            {"D9I3K8uC8u",
             {{U16, "OneOverKnotScaleTrunc", nullptr, 0},
              {R, "ControlScales", nullptr, 3},
              {R, "ControlOffsets", nullptr, 3},
              {A, "KnotsControls", u8, 0}}},
        };
        names.reserve(shapes.size());
        for (const auto& [name, fields] : shapes)
            names.push_back(std::string("CurveDataHeader_") + name);
        for (size_t i = 0; i < shapes.size(); ++i) {
            std::vector<Def> format = {M(OrvaneInlineMember, names[i].c_str(), header.data())};
            for (const Field& f : shapes[i].second)
                format.push_back(M(f.kind, f.name, f.type, f.width));
            format.push_back(M(OrvaneEndMember, nullptr));
            formats.push_back(std::move(format));
        }
    }
    FormatSet(const FormatSet&) = delete;
    Def* operator[](size_t i) { return formats[i].data(); }
};

FormatSet& Library() {
    static FormatSet set;
    return set;
}
FormatSet& Loaded() {
    static FormatSet set;
    return set;
}

// The baseline: cycles broken by marks written into the first records of both descriptions.
bool MarkingEqual(Def* a, Def* b, bool names) {
    if (a == b) return true;
    if (a == nullptr || b == nullptr) return false;
    if (a->TraversalMark == reinterpret_cast<uintptr_t>(b) ||
        b->TraversalMark == reinterpret_cast<uintptr_t>(a)) {
        return true;
    }
    a->TraversalMark = reinterpret_cast<uintptr_t>(b);
    b->TraversalMark = reinterpret_cast<uintptr_t>(a);
    Def* x = a;
    Def* y = b;
    bool ok = true;
    for (; x->Type != OrvaneEndMember && y->Type != OrvaneEndMember; ++x, ++y) {
        if (x->Type != y->Type || x->ArrayWidth != y->ArrayWidth ||
            (names && OrvaneStringDifference(x->Name, y->Name) != 0) ||
            (x->Type != OrvaneSwitchableTypeMember &&
             !MarkingEqual(x->ReferenceType, y->ReferenceType, names))) {
            ok = false;
            break;
        }
    }
    a->TraversalMark = 0;
    b->TraversalMark = 0;
    return ok && x->Type == y->Type;
}

// What format recognition does: search the library's formats in order for the loaded one.
template <typename Equal>
int Recognise(Def* loaded, Equal equal) {
    for (int f = 0; f < 16; ++f) {
        if (equal(Library()[f], loaded)) return f;
    }
    return 255;
}

void Identical(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < 16; ++i) {
            benchmark::DoNotOptimize(OrvaneDataTypesAreEqualWithNames(Library()[i], Library()[i]));
        }
    }
    state.SetItemsProcessed(state.iterations() * 16);
}

template <bool kNames, bool kBaseline>
void Copies(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < 16; ++i) {
            bool equal = kBaseline ? MarkingEqual(Library()[i], Loaded()[i], kNames)
                         : kNames  ? OrvaneDataTypesAreEqualWithNames(Library()[i], Loaded()[i])
                                   : OrvaneDataTypesAreEqual(Library()[i], Loaded()[i]);
            if (!equal) state.SkipWithError("copies differ");
        }
    }
    state.SetItemsProcessed(state.iterations() * 16);
}

template <bool kBaseline>
void AllPairs(benchmark::State& state) {
    int equalPairs = 0;
    for (auto _ : state) {
        equalPairs = 0;
        for (int i = 0; i < 16; ++i) {
            for (int j = 0; j < 16; ++j) {
                equalPairs += kBaseline
                                  ? MarkingEqual(Library()[i], Loaded()[j], true)
                                  : OrvaneDataTypesAreEqualWithNames(Library()[i], Loaded()[j]);
            }
        }
    }
    if (equalPairs != 16) state.SkipWithError("expected 16 equal pairs");
    state.SetItemsProcessed(state.iterations() * 256);
}

template <bool kBaseline>
void Recognition(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < 16; ++i) {
            int format = kBaseline
                             ? Recognise(Loaded()[i],
                                         [](Def* a, Def* b) { return MarkingEqual(a, b, true); })
                             : Recognise(Loaded()[i], [](Def* a, Def* b) {
                                   return OrvaneDataTypesAreEqualWithNames(a, b);
                               });
            if (format != i) state.SkipWithError("wrong format");
        }
    }
    state.SetItemsProcessed(state.iterations() * 16);
}

BENCHMARK(Identical);
BENCHMARK(Copies<true, true>)->Name("Copies/WithNames/baseline_marks");
BENCHMARK(Copies<true, false>)->Name("Copies/WithNames");
BENCHMARK(Copies<false, true>)->Name("Copies/NoNames/baseline_marks");
BENCHMARK(Copies<false, false>)->Name("Copies/NoNames");
BENCHMARK(AllPairs<true>)->Name("AllPairs/baseline_marks");
BENCHMARK(AllPairs<false>)->Name("AllPairs");
BENCHMARK(Recognition<true>)->Name("Recognition/baseline_marks");
BENCHMARK(Recognition<false>)->Name("Recognition");

}  // namespace

BENCHMARK_MAIN();
