// The orvane command-line tool: inspects, verifies and rewrites content files, and builds an
// example file from code.
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <time.h>
#include <unistd.h>

#include "orvane.h"

// The import command lives in orvane_import_command.cpp.
int RunImportCommand(int argc, char** argv);

namespace {

// ---------------------------------------------------------------------------------------------
// Messages and progress
// ---------------------------------------------------------------------------------------------

int g_libraryErrors = 0;
bool g_quietWarnings = false;

void PrintLibraryMessage(orvane_log_message_type type, orvane_log_message_origin, const char* text,
                         void*) {
    if (type == OrvaneErrorMessage) ++g_libraryErrors;
    if (type == OrvaneErrorMessage || (type == OrvaneWarningMessage && !g_quietWarnings))
        std::fprintf(stderr, "orvane: %s: %s\n", type == OrvaneErrorMessage ? "error" : "warning",
                     text);
}

int Fail(const char* format, ...) {
    std::fprintf(stderr, "orvane: ");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    return 1;
}

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A progress line on stderr, shown only on a terminal and only once the work has taken more
// than a second.
class Progress {
public:
    explicit Progress(const char* command)
        : command_(command), start_(Now()), terminal_(isatty(2) != 0) {}
    ~Progress() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
    }
    void Step(const char* what) {
        if (!terminal_ || Now() - start_ < 1.0) return;
        std::fprintf(stderr, "\r\033[K%s: %s (%.1f s)", command_, what, Now() - start_);
        std::fflush(stderr);
        shown_ = true;
    }

private:
    const char* command_;
    double start_;
    bool terminal_;
    bool shown_ = false;
};

// ---------------------------------------------------------------------------------------------
// Reading a file's head
// ---------------------------------------------------------------------------------------------

struct FileHead {
    std::vector<uint8_t> bytes;
    bool reversed = false;
    std::vector<uint8_t> headerBlock;
    orvane_file_header* header = nullptr;
    orvane_ovn_section* table = nullptr;
};

bool ReadHead(const char* path, FileHead* head, std::string* problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *problem = "cannot open the file";
        return false;
    }
    head->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (head->bytes.size() < 32) {
        *problem = "too short for a content file";
        return false;
    }
    uint32_t headerSize = 0;
    if (!OrvaneIsOrvaneFile(reinterpret_cast<const orvane_file_magic_record*>(head->bytes.data()),
                            &headerSize, &head->reversed)) {
        *problem = "not a content file (unknown magic value)";
        return false;
    }
    if (headerSize < sizeof(orvane_file_header) || 32 + uint64_t(headerSize) > head->bytes.size()) {
        *problem = "the header is cut short";
        return false;
    }
    head->headerBlock.assign(head->bytes.begin() + 32, head->bytes.begin() + 32 + headerSize);
    if (head->reversed)
        for (size_t i = 0; i + 4 <= headerSize; i += 4)
            std::swap(head->headerBlock[i], head->headerBlock[i + 3]),
                std::swap(head->headerBlock[i + 1], head->headerBlock[i + 2]);
    head->header = reinterpret_cast<orvane_file_header*>(head->headerBlock.data());
    if (!OrvaneFileHeaderIsValid(head->header, headerSize)) {
        *problem = "the header or section table is damaged";
        return false;
    }
    head->table = OrvaneGetOVNSectionArray(head->header);
    return true;
}

const char* CodecName(uint32_t compression) {
    switch (compression) {
        case 0:
            return "none";
        case 1:
            return "pelma0";
        case 2:
            return "pelma1";
        default:
            return "unknown";
    }
}

bool HostIsLittleEndian() {
    const uint16_t one = 1;
    return *reinterpret_cast<const uint8_t*>(&one) == 1;
}

const char* OrderName(bool reversed) {
    return (HostIsLittleEndian() != reversed) ? "little-endian" : "big-endian";
}

// The catalogue name of a description, when it is one of the standard ones.
const char* DescribeType(const orvane_data_type_definition* type) {
    if (type == nullptr) return "(none)";
    if (type->Type == OrvaneEndMember) return "(empty description)";
    for (int32_t i = 0; i < OrvaneGetDefinedTypeCount(); ++i)
        if (OrvaneDataTypesAreEqualWithNames(type, OrvaneDefinedTypes[i].Type))
            return OrvaneDefinedTypes[i].Name;
    if (OrvaneDataTypesAreEqualWithNames(type, OrvaneFileInfoType)) return "file_info";
    return "(custom description)";
}

// ---------------------------------------------------------------------------------------------
// The object tree, through its descriptions
// ---------------------------------------------------------------------------------------------

template <typename T>
T Get(const uint8_t* at) {
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

constexpr int kElementsShown = 6;

void Indent(int depth) {
    for (int i = 0; i < depth; ++i)
        std::fputs("  ", stdout);
}

void DumpObject(const orvane_data_type_definition* type, const uint8_t* object, int depth,
                int maxDepth);

void DumpValue(const orvane_data_type_definition* m, const uint8_t* at) {
    const int32_t width = OrvaneGetMemberArrayWidth(m);
    const int32_t shown = width < 16 ? width : 16;
    for (int32_t i = 0; i < shown; ++i) {
        if (i) std::fputs(" ", stdout);
        switch (m->Type) {
            case OrvaneReal32Member:
                std::printf("%g", double(Get<float>(at + 4 * i)));
                break;
            case OrvaneInt8Member:
            case OrvaneBinormalInt8Member:
                std::printf("%d", int(Get<int8_t>(at + i)));
                break;
            case OrvaneUInt8Member:
            case OrvaneNormalUInt8Member:
                std::printf("%u", unsigned(at[i]));
                break;
            case OrvaneInt16Member:
            case OrvaneBinormalInt16Member:
                std::printf("%d", int(Get<int16_t>(at + 2 * i)));
                break;
            case OrvaneUInt16Member:
            case OrvaneNormalUInt16Member:
                std::printf("%u", unsigned(Get<uint16_t>(at + 2 * i)));
                break;
            case OrvaneInt32Member:
                std::printf("%d", Get<int32_t>(at + 4 * i));
                break;
            case OrvaneUInt32Member:
                std::printf("%u", Get<uint32_t>(at + 4 * i));
                break;
            case OrvaneTransformMember: {
                const uint8_t* t = at + 68 * i;
                std::printf("{flags %u, position %g %g %g, orientation %g %g %g %g}",
                            Get<uint32_t>(t), double(Get<float>(t + 4)), double(Get<float>(t + 8)),
                            double(Get<float>(t + 12)), double(Get<float>(t + 16)),
                            double(Get<float>(t + 20)), double(Get<float>(t + 24)),
                            double(Get<float>(t + 28)));
                break;
            }
            default:
                break;
        }
    }
    if (shown < width) std::printf(" ... (%d values)", width);
    std::printf("\n");
}

void DumpArray(const orvane_data_type_definition* type, int32_t count, const uint8_t* array,
               int depth, int maxDepth) {
    const int32_t size = OrvaneGetTotalObjectSize(type);
    for (int32_t i = 0; i < count && i < kElementsShown; ++i) {
        Indent(depth);
        std::printf("[%d]\n", i);
        DumpObject(type, array + int64_t(size) * i, depth + 1, maxDepth);
    }
    if (count > kElementsShown) {
        Indent(depth);
        std::printf("... %d more\n", count - kElementsShown);
    }
}

void DumpObject(const orvane_data_type_definition* type, const uint8_t* object, int depth,
                int maxDepth) {
    const size_t p = sizeof(void*);
    for (const orvane_data_type_definition* m = type; m && m->Type != OrvaneEndMember; ++m) {
        const uint8_t* at = object;
        object += OrvaneGetMemberTypeSize(m);
        Indent(depth);
        std::printf("%s: ", m->Name ? m->Name : "?");
        const bool deeper = depth < maxDepth;
        switch (m->Type) {
            case OrvaneInlineMember:
                std::printf("\n");
                DumpObject(m->ReferenceType, at, depth + 1, maxDepth);
                break;
            case OrvaneStringMember: {
                const char* text = Get<const char*>(at);
                std::printf(text ? "\"%s\"\n" : "null\n", text);
                break;
            }
            case OrvaneReferenceMember: {
                const uint8_t* target = Get<const uint8_t*>(at);
                std::printf("%s\n", target ? DescribeType(m->ReferenceType) : "null");
                if (target && deeper) DumpObject(m->ReferenceType, target, depth + 1, maxDepth);
                break;
            }
            case OrvaneReferenceToArrayMember: {
                const int32_t count = Get<int32_t>(at);
                const uint8_t* array = Get<const uint8_t*>(at + 4);
                std::printf("%d x %s\n", count, DescribeType(m->ReferenceType));
                if (array && deeper) DumpArray(m->ReferenceType, count, array, depth + 1, maxDepth);
                break;
            }
            case OrvaneArrayOfReferencesMember: {
                const int32_t count = Get<int32_t>(at);
                const uint8_t* array = Get<const uint8_t*>(at + 4);
                std::printf("%d references to %s\n", count, DescribeType(m->ReferenceType));
                for (int32_t i = 0; array && deeper && i < count && i < kElementsShown; ++i) {
                    const uint8_t* target = Get<const uint8_t*>(array + p * i);
                    Indent(depth + 1);
                    std::printf("[%d]%s\n", i, target ? "" : " null");
                    if (target) DumpObject(m->ReferenceType, target, depth + 2, maxDepth);
                }
                if (array && deeper && count > kElementsShown) {
                    Indent(depth + 1);
                    std::printf("... %d more\n", count - kElementsShown);
                }
                break;
            }
            case OrvaneVariantReferenceMember: {
                const auto* variant = Get<const orvane_data_type_definition*>(at);
                const uint8_t* target = Get<const uint8_t*>(at + p);
                std::printf("variant %s\n", target ? DescribeType(variant) : "null");
                if (variant && target && deeper) DumpObject(variant, target, depth + 1, maxDepth);
                break;
            }
            case OrvaneSwitchableTypeMember:
                std::printf("switchable, entry %d\n", Get<int32_t>(at));
                break;
            case OrvaneReferenceToVariantArrayMember: {
                const auto* variant = Get<const orvane_data_type_definition*>(at);
                const int32_t count = Get<int32_t>(at + p);
                const uint8_t* array = Get<const uint8_t*>(at + p + 4);
                std::printf("%d x variant %s\n", count, DescribeType(variant));
                if (variant && array && deeper)
                    DumpArray(variant, count, array, depth + 1, maxDepth);
                break;
            }
            default:
                DumpValue(m, at);
                break;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------------------

struct ContentCounts {
    int textures = 0, materials = 0, skeletons = 0, bones = 0, vertexDatas = 0, vertices = 0,
        topologies = 0, triangles = 0, meshes = 0, models = 0, trackGroups = 0, tracks = 0,
        animations = 0;
};

ContentCounts CountContent(const orvane_file_info* info) {
    ContentCounts c;
    c.textures = info->TextureCount;
    c.materials = info->MaterialCount;
    c.skeletons = info->SkeletonCount;
    for (int i = 0; i < info->SkeletonCount; ++i)
        if (info->Skeletons[i]) c.bones += info->Skeletons[i]->BoneCount;
    c.vertexDatas = info->VertexDataCount;
    for (int i = 0; i < info->VertexDataCount; ++i)
        if (info->VertexDatas[i]) c.vertices += info->VertexDatas[i]->VertexCount;
    c.topologies = info->TriTopologyCount;
    for (int i = 0; i < info->TriTopologyCount; ++i)
        if (info->TriTopologies[i])
            c.triangles +=
                (info->TriTopologies[i]->IndexCount + info->TriTopologies[i]->Index16Count) / 3;
    c.meshes = info->MeshCount;
    c.models = info->ModelCount;
    c.trackGroups = info->TrackGroupCount;
    for (int i = 0; i < info->TrackGroupCount; ++i)
        if (info->TrackGroups[i])
            c.tracks += info->TrackGroups[i]->TransformTrackCount +
                        info->TrackGroups[i]->VectorTrackCount +
                        info->TrackGroups[i]->TextTrackCount;
    c.animations = info->AnimationCount;
    return c;
}

int Info(const char* path, bool tree, int depth) {
    FileHead head;
    std::string problem;
    if (!ReadHead(path, &head, &problem)) return Fail("%s: %s", path, problem.c_str());
    const orvane_file_header& h = *head.header;
    std::printf("%s\n", path);
    std::printf("  magic:    content file, %s%s\n", OrderName(head.reversed),
                head.reversed ? " (the other byte order than this machine's)" : "");
    std::printf("  version:  %u%s\n", h.Version,
                h.Version == ORVANE_FILE_FORMAT_REVISION ? "" : " (not the current revision)");
    std::printf("  type tag: 0x%08X%s\n", h.TypeTag,
                h.TypeTag == ORVANE_CURRENT_FILE_TYPE_TAG ? " (current)" : " (other layout)");
    std::printf("  size:     %u bytes\n", h.TotalSize);
    std::printf("  CRC:      0x%08X, %s\n", h.CRC,
                OrvaneFileCRCIsValid(path) ? "valid" : "INVALID");
    std::printf("  extra tags: %u %u %u %u\n", h.ExtraTags[0], h.ExtraTags[1], h.ExtraTags[2],
                h.ExtraTags[3]);
    std::printf("  sections: %u\n", h.SectionCount);
    std::printf("    %-3s %-8s %10s %10s %7s %8s %8s  %s\n", "#", "codec", "stored", "expanded",
                "ratio", "pointers", "mixed", "name");
    for (uint32_t i = 0; i < h.SectionCount; ++i) {
        const orvane_ovn_section& s = head.table[i];
        char ratio[32] = "-";
        if (s.ExpandedSize)
            std::snprintf(ratio, sizeof ratio, "%.2f", double(s.DataSize) / s.ExpandedSize);
        g_quietWarnings = true;
        const char* name = i < uint32_t(OrvaneStandardSectionCount)
                               ? OrvaneGetStandardSectionName(int32_t(i))
                               : "(non-standard section)";
        g_quietWarnings = false;
        std::printf("    %-3u %-8s %10u %10u %7s %8u %8u  %s\n", i, CodecName(s.Compression),
                    s.DataSize, s.ExpandedSize, ratio, s.PointerFixupCount, s.MarshallingFixupCount,
                    name);
    }
    orvane_file* file = OrvaneReadEntireFile(path);
    if (file == nullptr) return Fail("%s: the file cannot be loaded", path);
    orvane_variant root = OrvaneGetDataTreeFromFile(file);
    std::printf("  root:     %s\n", DescribeType(root.Type));
    orvane_file_info* info = nullptr;
    if (root.Type && OrvaneDataTypesAreEqual(root.Type, OrvaneFileInfoType))
        info = OrvaneGetFileInfo(file);
    if (info) {
        ContentCounts c = CountContent(info);
        std::printf(
            "  content:  %d textures, %d materials, %d skeletons (%d bones),\n"
            "            %d vertex data (%d vertices), %d topologies (%d triangles),\n"
            "            %d meshes, %d models, %d track groups (%d tracks), %d animations\n",
            c.textures, c.materials, c.skeletons, c.bones, c.vertexDatas, c.vertices, c.topologies,
            c.triangles, c.meshes, c.models, c.trackGroups, c.tracks, c.animations);
    }
    if (tree && root.Type && root.Object) {
        std::printf("  tree:\n");
        DumpObject(root.Type, static_cast<const uint8_t*>(root.Object), 2, depth + 2);
    }
    OrvaneFreeFile(file);
    return 0;
}

// Checks that hold for every well-formed file info; returns the first problem.
std::string CheckStructure(const orvane_file_info* info) {
    char text[256];
    for (int i = 0; i < info->SkeletonCount; ++i) {
        const orvane_skeleton* s = info->Skeletons[i];
        if (!s) continue;
        for (int b = 0; b < s->BoneCount; ++b) {
            if (s->Bones[b].ParentIndex >= b || s->Bones[b].ParentIndex < -1) {
                std::snprintf(text, sizeof text, "skeleton %d: bone %d has parent %d", i, b,
                              s->Bones[b].ParentIndex);
                return text;
            }
        }
    }
    for (int i = 0; i < info->MeshCount; ++i) {
        const orvane_mesh* m = info->Meshes[i];
        if (!m || !m->PrimaryTopology || !m->PrimaryVertexData) continue;
        const int32_t vertices = m->PrimaryVertexData->VertexCount;
        const orvane_tri_topology* t = m->PrimaryTopology;
        for (int k = 0; k < t->IndexCount; ++k)
            if (t->Indices[k] < 0 || t->Indices[k] >= vertices) {
                std::snprintf(text, sizeof text, "mesh %d: index %d refers to vertex %d of %d", i,
                              k, t->Indices[k], vertices);
                return text;
            }
        for (int k = 0; k < t->Index16Count; ++k)
            if (uint16_t(t->Indices16[k]) >= vertices) {
                std::snprintf(text, sizeof text, "mesh %d: 16-bit index %d out of range", i, k);
                return text;
            }
    }
    for (int i = 0; i < info->AnimationCount; ++i) {
        const orvane_animation* a = info->Animations[i];
        if (a && !(a->Duration >= 0)) {
            std::snprintf(text, sizeof text, "animation %d has a negative duration", i);
            return text;
        }
    }
    return "";
}

int Verify(const char* path, bool quiet = false) {
    FileHead head;
    std::string problem;
    if (!ReadHead(path, &head, &problem)) return Fail("%s: %s", path, problem.c_str());
    if (!OrvaneFileCRCIsValid(path)) return Fail("%s: the CRC does not match the contents", path);
    const int errorsBefore = g_libraryErrors;
    orvane_file* file = OrvaneReadEntireFile(path);
    if (file == nullptr) return Fail("%s: the file cannot be loaded", path);
    for (uint32_t i = 0; i < head.header->SectionCount; ++i) {
        if (head.table[i].ExpandedSize && file->Sections[i] == nullptr) {
            OrvaneFreeFile(file);
            return Fail("%s: section %u cannot be loaded", path, i);
        }
    }
    orvane_variant root = OrvaneGetDataTreeFromFile(file);
    if (root.Type == nullptr || root.Object == nullptr) {
        OrvaneFreeFile(file);
        return Fail("%s: the root object cannot be reached", path);
    }
    if (OrvaneDataTypesAreEqual(root.Type, OrvaneFileInfoType)) {
        orvane_file_info* info = OrvaneGetFileInfo(file);
        if (info == nullptr) {
            OrvaneFreeFile(file);
            return Fail("%s: the file info cannot be read", path);
        }
        problem = CheckStructure(info);
        if (!problem.empty()) {
            OrvaneFreeFile(file);
            return Fail("%s: %s", path, problem.c_str());
        }
    }
    OrvaneFreeFile(file);
    if (g_libraryErrors != errorsBefore) return Fail("%s: loading reported errors", path);
    if (!quiet) std::printf("%s: OK\n", path);
    return 0;
}

int Recompress(const char* in, const char* out, const char* codec) {
    int32_t compression = -1;
    if (!std::strcmp(codec, "none")) compression = 0;
    if (!std::strcmp(codec, "pelma0")) compression = 1;
    if (!std::strcmp(codec, "pelma1")) compression = 2;
    if (compression < 0) return Fail("unknown codec '%s' (none, pelma0 or pelma1)", codec);
    Progress progress("recompress");
    progress.Step("compressing");
    const int32_t mapping[3] = {compression, compression, compression};
    if (!OrvaneRecompressFile(in, out, 3, mapping)) return Fail("%s: cannot be recompressed", in);
    std::printf("%s -> %s (%s)\n", in, out, codec);
    return 0;
}

int Convert(const char* in, const char* out, const char* order) {
    orvane_file_byte_order byteOrder;
    if (!std::strcmp(order, "little"))
        byteOrder = OrvaneLittleEndianByteOrder;
    else if (!std::strcmp(order, "big"))
        byteOrder = OrvaneBigEndianByteOrder;
    else
        return Fail("unknown byte order '%s' (little or big)", order);
    if (!OrvaneConvertFileByteOrder(in, out, byteOrder)) return Fail("%s: cannot be converted", in);
    std::printf("%s -> %s (%s-endian)\n", in, out, order);
    return 0;
}

int Raw(const char* in, const char* out) {
    if (!OrvaneConvertFileToRaw(in, out)) return Fail("%s: cannot be written as a raw image", in);
    std::printf("%s -> %s (raw image)\n", in, out);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The demo content
// ---------------------------------------------------------------------------------------------

#pragma pack(push, 4)
struct DemoVertex {
    float Position[3];
    float Normal[3];
    uint8_t BoneIndices[4];
    uint8_t BoneWeights[4];
};
#pragma pack(pop)

orvane_data_type_definition g_demoVertexType[] = {
    {OrvaneReal32Member, "Position", nullptr, 3, {0, 0, 0}, 0},
    {OrvaneReal32Member, "Normal", nullptr, 3, {0, 0, 0}, 0},
    {OrvaneUInt8Member, "BoneIndices", nullptr, 4, {0, 0, 0}, 0},
    {OrvaneNormalUInt8Member, "BoneWeights", nullptr, 4, {0, 0, 0}, 0},
    {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};

orvane_transform Identity() {
    orvane_transform t = {};
    t.Orientation[3] = 1;
    for (int i = 0; i < 3; ++i)
        t.ScaleShear[i][i] = 1;
    return t;
}

orvane_transform Translation(float x, float y, float z) {
    orvane_transform t = Identity();
    t.Flags = OrvaneTransformHasPosition;
    t.Position[0] = x;
    t.Position[1] = y;
    t.Position[2] = z;
    return t;
}

// Everything the demo file info points at.
struct Demo {
    std::vector<orvane_curve2*> curves;
    orvane_string_table* strings = nullptr;
    orvane_data_type_definition* extendedType = nullptr;
    void* extendedObject = nullptr;

    orvane_art_tool_info art;
    orvane_exporter_info exporter;
    orvane_bone bones[4];
    orvane_skeleton skeleton;
    orvane_skeleton* skeletonPointer;
    DemoVertex vertices[8];
    orvane_vertex_data vertexData;
    orvane_vertex_data* vertexDataPointer;
    orvane_tri_material_group group;
    int32_t indices[36];
    orvane_tri_topology topology;
    orvane_tri_topology* topologyPointer;
    orvane_mesh mesh;
    orvane_mesh* meshPointer;
    orvane_model_mesh_binding meshBinding;
    orvane_model model;
    orvane_model* modelPointer;
    orvane_transform_track tracks[4];
    orvane_track_group trackGroup;
    orvane_track_group* trackGroupPointer;
    orvane_animation animation;
    orvane_animation* animationPointer;
    orvane_file_info info;

    ~Demo() {
        for (orvane_curve2* c : curves)
            OrvaneFreeCurve(c);
        if (extendedType) OrvaneFreeBuilderResult(extendedType);
        if (strings) OrvaneFreeStringTable(strings);
    }

    orvane_curve2 Curve(orvane_data_type_definition* format, int degree, int dimension, int knots,
                        const float* knotValues, const float* controls) {
        orvane_curve_builder* b = OrvaneBeginCurve(format, degree, dimension, knots);
        if (!b) return orvane_curve2{{nullptr, nullptr}};
        OrvanePushCurveKnotArray(b, knotValues);
        OrvanePushCurveControlArray(b, controls);
        orvane_curve2* curve = OrvaneEndCurve(b);
        if (!curve) return orvane_curve2{{nullptr, nullptr}};
        curves.push_back(curve);
        return *curve;
    }

    bool Build() {
        art = {const_cast<char*>("Demo Modeler"),
               4,
               2,
               1.0f,
               {0, 0, 0},
               {1, 0, 0},
               {0, 1, 0},
               {0, 0, 1}};
        exporter = {const_cast<char*>("orvane demo"), 2, 6, 0, 13};

        static const char* boneNames[4] = {"Hips", "Spine", "Neck", "Head"};
        for (int i = 0; i < 4; ++i) {
            bones[i] = {};
            bones[i].Name = const_cast<char*>(boneNames[i]);
            bones[i].ParentIndex = i - 1;
            bones[i].Transform = i ? Translation(0, 0.25f, 0) : Translation(0, 1, 0);
            for (int r = 0; r < 4; ++r)
                bones[i].InverseWorldTransform[r][r] = 1;
            bones[i].InverseWorldTransform[3][1] = -(1 + 0.25f * float(i));
        }
        skeleton = {const_cast<char*>("Biped"), 4, bones};
        skeletonPointer = &skeleton;

        for (int i = 0; i < 8; ++i) {
            const float x = (i & 1) ? 0.5f : -0.5f, y = (i & 2) ? 2.0f : 0.0f,
                        z = (i & 4) ? 0.5f : -0.5f;
            const float n = 1.0f / std::sqrt(3.0f);
            vertices[i] = {{x, y, z},
                           {x > 0 ? n : -n, y > 0 ? n : -n, z > 0 ? n : -n},
                           {uint8_t((i & 2) ? 3 : 0), 1, 0, 0},
                           {200, 55, 0, 0}};
        }
        vertexData = {};
        vertexData.VertexType = g_demoVertexType;
        vertexData.VertexCount = 8;
        vertexData.Vertices = vertices;
        vertexDataPointer = &vertexData;
        static const int32_t box[36] = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                                        2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
        std::memcpy(indices, box, sizeof box);
        group = {0, 0, 12};
        topology = {};
        topology.GroupCount = 1;
        topology.Groups = &group;
        topology.IndexCount = 36;
        topology.Indices = indices;
        topologyPointer = &topology;
        mesh = {};
        mesh.Name = const_cast<char*>("Box");
        mesh.PrimaryVertexData = &vertexData;
        mesh.PrimaryTopology = &topology;
        meshPointer = &mesh;
        meshBinding = {&mesh};
        model = {const_cast<char*>("Demo"), &skeleton, Identity(), 1, &meshBinding};
        modelPointer = &model;

        // Curves in several formats: full-precision keys, quantised keys, a normalised
        // quaternion format, a constant and the identity.
        static const float knots[4] = {0, 0.5f, 1, 1.5f};
        static const float positions[12] = {0, 1, 0, 0, 1.1f, 0.2f, 0, 1, 0.4f, 0, 0.9f, 0.6f};
        static const float rotations[16] = {0, 0,    0, 1,     0, 0.1f, 0, 0.995f,
                                            0, 0.2f, 0, 0.98f, 0, 0.1f, 0, 0.995f};
        static const float scale[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        static const float lean[4] = {0.05f, 0, 0, 0.9987f};
        const orvane_curve2 none = {{nullptr, nullptr}};
        tracks[0] = {const_cast<char*>("Hips"),
                     Curve(OrvaneCurveDataDaK32fC32fType, 3, 3, 4, knots, positions),
                     Curve(OrvaneCurveDataD4nK16uC15uType, 3, 4, 4, knots, rotations),
                     Curve(OrvaneCurveDataDaIdentityType, 0, 9, 0, nullptr, nullptr)};
        tracks[1] = {const_cast<char*>("Spine"),
                     Curve(OrvaneCurveDataD3Constant32fType, 0, 3, 1, knots, positions),
                     Curve(OrvaneCurveDataD4nK8uC7uType, 3, 4, 4, knots, rotations),
                     Curve(OrvaneCurveDataDaConstant32fType, 0, 9, 1, knots, scale)};
        tracks[2] = {const_cast<char*>("Neck"),
                     Curve(OrvaneCurveDataD3K16uC16uType, 3, 3, 4, knots, positions),
                     Curve(OrvaneCurveDataD4Constant32fType, 0, 4, 1, knots, lean), none};
        tracks[3] = {const_cast<char*>("Head"),
                     Curve(OrvaneCurveDataD3K8uC8uType, 3, 3, 4, knots, positions),
                     Curve(OrvaneCurveDataDaKeyframes32fType, 0, 4, 4, knots, rotations), none};
        if (curves.size() != 10) return false;  // every curve was built
        trackGroup = {};
        trackGroup.Name = const_cast<char*>("Nod");
        trackGroup.TransformTrackCount = 4;
        trackGroup.TransformTracks = tracks;
        trackGroup.InitialPlacement = Identity();
        trackGroupPointer = &trackGroup;
        animation = {const_cast<char*>("Nod"), 1.5f, 1.0f / 30, 1.0f, 1, &trackGroupPointer};
        animationPointer = &animation;

        strings = OrvaneNewStringTable();
        orvane_variant_builder* v = OrvaneBeginVariant(strings);
        const float tint[3] = {0.8f, 0.6f, 0.4f};
        OrvaneAddStringMember(v, "Comment", "built by orvane demo");
        OrvaneAddIntegerMember(v, "SceneRevision", 3);
        OrvaneAddScalarArrayMember(v, "Tint", 3, tint);
        OrvaneAddReferenceMember(v, "MainModel", OrvaneModelType, &model);
        if (!OrvaneEndVariant(v, &extendedType, &extendedObject)) return false;

        info = {};
        info.ArtToolInfo = &art;
        info.ExporterInfo = &exporter;
        info.FromFileName = const_cast<char*>("demo.scene");
        info.SkeletonCount = 1;
        info.Skeletons = &skeletonPointer;
        info.VertexDataCount = 1;
        info.VertexDatas = &vertexDataPointer;
        info.TriTopologyCount = 1;
        info.TriTopologies = &topologyPointer;
        info.MeshCount = 1;
        info.Meshes = &meshPointer;
        info.ModelCount = 1;
        info.Models = &modelPointer;
        info.TrackGroupCount = 1;
        info.TrackGroups = &trackGroupPointer;
        info.AnimationCount = 1;
        info.Animations = &animationPointer;
        info.ExtendedData = {extendedType, extendedObject};
        return true;
    }
};

int RunDemo(const char* out) {
    std::string path = out ? out : std::string(OrvaneGetTemporaryDirectory()) + "orvane_demo.ovn";
    Progress progress("demo");
    std::printf("Orvane %s: building an example content file\n", OrvaneGetVersionString());
    Demo demo;
    if (!demo.Build()) return Fail("demo: the example content cannot be built");

    progress.Step("writing");
    orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(
        OrvaneFileInfoType, &demo.info, OrvaneStandardMainSection, OrvaneStandardMainSection);
    orvane_file_builder* builder =
        OrvaneBeginFile(OrvaneStandardSectionCount, ORVANE_CURRENT_FILE_TYPE_TAG,
                        OrvaneGetTemporaryDirectory(), "orvane_demo");
    if (!writer || !builder) {
        OrvaneEndFileDataTreeWriting(writer);
        OrvaneAbortFile(builder);
        return Fail("demo: cannot start writing");
    }
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneVertexDataType,
                                         OrvaneStandardDeformableVertexSection);
    OrvaneSetFileSectionForObject(writer, demo.indices, OrvaneStandardDeformableIndexSection);
    for (int32_t s = 0; s < OrvaneStandardSectionCount; ++s)
        OrvaneSetFileSectionFormat(builder, s, OrvanePelma1Compression, 4);
    const bool written = OrvaneWriteDataTreeToFileBuilder(writer, builder);
    const bool ended = OrvaneEndFile(builder, path.c_str());
    OrvaneEndFileDataTreeWriting(writer);
    if (!written || !ended) return Fail("demo: %s cannot be written", path.c_str());

    progress.Step("loading");
    orvane_file* file = OrvaneReadEntireFile(path.c_str());
    orvane_file_info* info = file ? OrvaneGetFileInfo(file) : nullptr;
    if (info == nullptr) {
        OrvaneFreeFile(file);
        return Fail("demo: %s cannot be loaded back", path.c_str());
    }
    std::printf(
        "loaded back: %s by %s, skeleton \"%s\" with %d bones, %d transform tracks, "
        "mesh \"%s\" with %d vertices\n",
        info->ArtToolInfo->FromArtToolName, info->ExporterInfo->ExporterName,
        info->Skeletons[0]->Name, info->Skeletons[0]->BoneCount,
        info->TrackGroups[0]->TransformTrackCount, info->Meshes[0]->Name,
        info->Meshes[0]->PrimaryVertexData->VertexCount);
    const bool shared = info->Models[0]->MeshBindings[0].Mesh == info->Meshes[0];
    std::printf("the model's mesh is the file's mesh: %s\n", shared ? "yes" : "no");
    OrvaneFreeFile(file);

    progress.Step("verifying");
    if (Verify(path.c_str()) != 0) return 1;
    return Info(path.c_str(), false, 0);
}

// ---------------------------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------------------------

struct Command {
    const char* name;
    const char* usage;
    const char* summary;
};

const Command kCommands[] = {
    {"info", "orvane info FILE [--tree [--depth N]]",
     "byte order, version, type tag, CRC, sections, root type and content counts; --tree dumps "
     "the object tree through its type descriptions (to depth N, default 3)"},
    {"verify", "orvane verify FILE",
     "checks the CRC, loads the whole file and checks its structure; exit status 1 on a fault"},
    {"recompress", "orvane recompress IN OUT --codec none|pelma0|pelma1",
     "rewrites every section with the given codec, keeping the byte order"},
    {"convert", "orvane convert IN OUT --byte-order little|big",
     "rewrites the file in the given byte order"},
    {"raw", "orvane raw IN OUT", "writes the file's info as a raw memory image"},
    {"demo", "orvane demo [OUT]",
     "builds an example content file from code, writes it compressed, loads it back, verifies "
     "it and prints its info"},
    {"version", "orvane version", "prints the library version"},
    {"import", "orvane import IN [-o OUT] [options]", "imports an art-tool scene (see --help)"},
};

int Usage(FILE* out) {
    std::fprintf(out, "usage: orvane <command> [arguments]\ncommands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %s\n", c.usage);
    std::fprintf(out, "Every command accepts --help.\n");
    return out == stdout ? 0 : 1;
}

int CommandHelp(const Command& c) {
    std::printf("usage: %s\n  %s\n", c.usage, c.summary);
    return 0;
}

int CommandUsageError(const Command& c, const char* problem) {
    std::fprintf(stderr, "orvane %s: %s\nusage: %s\n", c.name, problem, c.usage);
    return 1;
}

int Run(int argc, char** argv) {
    if (argc < 2) return Usage(stderr);
    const char* name = argv[1];
    if (!std::strcmp(name, "--help") || !std::strcmp(name, "help") || !std::strcmp(name, "-h"))
        return Usage(stdout);
    if (!std::strcmp(name, "import")) return RunImportCommand(argc - 2, argv + 2);
    const Command* command = nullptr;
    for (const Command& c : kCommands)
        if (!std::strcmp(c.name, name)) command = &c;
    if (command == nullptr) {
        std::fprintf(stderr, "orvane: unknown command '%s'\n", name);
        return Usage(stderr);
    }
    std::vector<const char*> positional;
    const char* codec = nullptr;
    const char* order = nullptr;
    bool tree = false;
    int depth = 3;
    for (int i = 2; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) return CommandHelp(*command);
        if (!std::strcmp(a, "--tree")) {
            tree = true;
        } else if (!std::strcmp(a, "--depth")) {
            const char* text = nullptr;
            if (!value(&text)) return CommandUsageError(*command, "--depth needs a number");
            char* end = nullptr;
            long d = std::strtol(text, &end, 10);
            if (*end || d < 0 || d > 1000) return CommandUsageError(*command, "bad --depth");
            depth = int(d);
        } else if (!std::strcmp(a, "--codec")) {
            if (!value(&codec)) return CommandUsageError(*command, "--codec needs a value");
        } else if (!std::strcmp(a, "--byte-order")) {
            if (!value(&order)) return CommandUsageError(*command, "--byte-order needs a value");
        } else if (a[0] == '-' && a[1] == '-') {
            return CommandUsageError(*command, "unknown option");
        } else {
            positional.push_back(a);
        }
    }
    const std::string cmd = name;
    auto expect = [&](size_t n) { return positional.size() == n; };
    if (cmd == "version") {
        std::printf("%s\n", OrvaneGetVersionString());
        return 0;
    }
    if (cmd == "info") {
        if (!expect(1)) return CommandUsageError(*command, "one FILE expected");
        return Info(positional[0], tree, depth);
    }
    if (cmd == "verify") {
        if (!expect(1)) return CommandUsageError(*command, "one FILE expected");
        return Verify(positional[0]);
    }
    if (cmd == "recompress") {
        if (!expect(2) || !codec)
            return CommandUsageError(*command, "IN, OUT and --codec expected");
        return Recompress(positional[0], positional[1], codec);
    }
    if (cmd == "convert") {
        if (!expect(2) || !order)
            return CommandUsageError(*command, "IN, OUT and --byte-order expected");
        return Convert(positional[0], positional[1], order);
    }
    if (cmd == "raw") {
        if (!expect(2)) return CommandUsageError(*command, "IN and OUT expected");
        return Raw(positional[0], positional[1]);
    }
    if (cmd == "demo") {
        if (positional.size() > 1) return CommandUsageError(*command, "at most one OUT expected");
        return RunDemo(positional.empty() ? nullptr : positional[0]);
    }
    return Usage(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (!OrvaneVersionsMatch()) return 1;
    orvane_log_callback callback = {PrintLibraryMessage, nullptr};
    OrvaneSetLogCallback(&callback);
    int status = Run(argc, argv);
    OrvaneSetLogCallback(nullptr);
    return status;
}
