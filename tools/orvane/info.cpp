// orvane info: what a content file holds, as text or as JSON for scripts.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "tool.h"

namespace orvane_tool {

namespace {

struct ContentCounts {
    int textures = 0, materials = 0, skeletons = 0, bones = 0, vertexDatas = 0, vertices = 0,
        topologies = 0, triangles = 0, meshes = 0, models = 0, trackGroups = 0, tracks = 0,
        animations = 0;
    // Curves of the track groups by format name ("unreadable": unknown or damaged), in the
    // order first met.
    std::vector<std::pair<std::string, int>> curveFormats;
};

// A curve's format by its data description's name ("CurveDataHeader_<format>" first).
std::string CurveFormatName(const orvane_curve2& curve) {
    if (curve.CurveData.Object == nullptr) return "none";
    if (!OrvaneCurveFormatIsInitializedCorrectly(&curve)) return "unreadable";
    const orvane_data_type_definition* type = OrvaneCurveGetDataTypeDefinition(&curve);
    const std::string name = type && type->Name ? type->Name : "";
    const std::string prefix = "CurveDataHeader_";
    return name.compare(0, prefix.size(), prefix) == 0 ? name.substr(prefix.size()) : name;
}

void CountCurve(ContentCounts& c, const orvane_curve2& curve) {
    const std::string name = CurveFormatName(curve);
    for (auto& entry : c.curveFormats)
        if (entry.first == name) {
            ++entry.second;
            return;
        }
    c.curveFormats.emplace_back(name, 1);
}

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
    for (int i = 0; i < info->TrackGroupCount; ++i) {
        const orvane_track_group* g = info->TrackGroups[i];
        if (!g) continue;
        c.tracks += g->TransformTrackCount + g->VectorTrackCount + g->TextTrackCount;
        for (int t = 0; t < g->TransformTrackCount; ++t) {
            CountCurve(c, g->TransformTracks[t].PositionCurve);
            CountCurve(c, g->TransformTracks[t].OrientationCurve);
            CountCurve(c, g->TransformTracks[t].ScaleShearCurve);
        }
        for (int t = 0; t < g->VectorTrackCount; ++t)
            CountCurve(c, g->VectorTracks[t].ValueCurve);
    }
    c.animations = info->AnimationCount;
    return c;
}

const char* SectionName(uint32_t index) {
    QuietWarnings(true);
    const char* name = index < uint32_t(OrvaneStandardSectionCount)
                           ? OrvaneGetStandardSectionName(int32_t(index))
                           : "(non-standard section)";
    QuietWarnings(false);
    return name;
}

// The loaded file's root and, when the root is a file info, its content counts.
struct Loaded {
    orvane_file* file = nullptr;
    orvane_variant root = {nullptr, nullptr};
    const orvane_file_info* info = nullptr;
};

// Loads the whole file; false with the reason when it does not load whole (a section that
// cannot be read or expanded, or an error from the library).
bool Load(const char* path, const FileHead& head, Loaded* loaded, std::string* problem) {
    const int errorsBefore = LibraryErrorCount();
    ForgetLibraryReason();
    loaded->file = OrvaneReadEntireFile(path);
    if (loaded->file == nullptr) {
        const std::string reason = LibraryReason();
        *problem =
            reason.empty() ? "the file cannot be loaded" : "the file cannot be loaded: " + reason;
        return false;
    }
    for (uint32_t i = 0; i < head.header->SectionCount; ++i)
        if (head.table[i].ExpandedSize && loaded->file->Sections[i] == nullptr) {
            const std::string reason = LibraryReason();
            *problem = "section " + std::to_string(i) + " cannot be loaded" +
                       (reason.empty() ? "" : ": " + reason);
            return false;
        }
    loaded->root = OrvaneGetDataTreeFromFile(loaded->file);
    if (loaded->root.Type && OrvaneDataTypesAreEqual(loaded->root.Type, OrvaneFileInfoType))
        loaded->info = OrvaneGetFileInfo(loaded->file);
    if (LibraryErrorCount() != errorsBefore) {
        const std::string reason = LibraryReason();
        *problem = "the file does not load cleanly" + (reason.empty() ? "" : ": " + reason);
        return false;
    }
    return true;
}

// "1 skeleton", "2 skeletons".
std::string Count(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

int PrintText(const InfoOptions& options, const FileHead& head) {
    const char* path = options.path.c_str();
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
        std::printf("    %-3u %-8s %10u %10u %7s %8u %8u  %s\n", i, CodecName(s.Compression),
                    s.DataSize, s.ExpandedSize, ratio, s.PointerFixupCount, s.MarshallingFixupCount,
                    SectionName(i));
    }
    Loaded loaded;
    std::string problem;
    if (!Load(path, head, &loaded, &problem)) {
        OrvaneFreeFile(loaded.file);
        return Fail("info: %s: %s", path, problem.c_str());
    }
    std::printf("  root:     %s\n", DescribeType(loaded.root.Type));
    if (loaded.info) {
        ContentCounts c = CountContent(loaded.info);
        std::printf("  content:  %s, %s, %s (%s),\n",
                    Count(c.textures, "texture", "textures").c_str(),
                    Count(c.materials, "material", "materials").c_str(),
                    Count(c.skeletons, "skeleton", "skeletons").c_str(),
                    Count(c.bones, "bone", "bones").c_str());
        std::printf("            %s (%s), %s (%s),\n",
                    Count(c.vertexDatas, "vertex data", "vertex data").c_str(),
                    Count(c.vertices, "vertex", "vertices").c_str(),
                    Count(c.topologies, "topology", "topologies").c_str(),
                    Count(c.triangles, "triangle", "triangles").c_str());
        std::printf("            %s, %s, %s (%s), %s\n", Count(c.meshes, "mesh", "meshes").c_str(),
                    Count(c.models, "model", "models").c_str(),
                    Count(c.trackGroups, "track group", "track groups").c_str(),
                    Count(c.tracks, "track", "tracks").c_str(),
                    Count(c.animations, "animation", "animations").c_str());
        if (!c.curveFormats.empty()) {
            std::string formats;
            for (const auto& entry : c.curveFormats)
                formats += (formats.empty() ? "" : ", ") + entry.first + " " +
                           std::to_string(entry.second);
            std::printf("  curves:   %s\n", formats.c_str());
        }
    }
    if (options.tree && loaded.root.Type && loaded.root.Object) {
        std::printf("  tree:\n");
        DumpObject(loaded.root.Type, static_cast<const uint8_t*>(loaded.root.Object), 2,
                   options.depth + 2);
    }
    OrvaneFreeFile(loaded.file);
    return 0;
}

// The same facts as one JSON object on stdout; the keys are a stable interface for scripts.
int PrintJson(const InfoOptions& options, const FileHead& head) {
    const char* path = options.path.c_str();
    const orvane_file_header& h = *head.header;
    nlohmann::ordered_json out;
    out["path"] = options.path;
    out["byte_order"] = OrderName(head.reversed) == std::string("little-endian") ? "little" : "big";
    out["native_byte_order"] = !head.reversed;
    out["format_revision"] = h.Version;
    out["current_revision"] = h.Version == ORVANE_FILE_FORMAT_REVISION;
    out["type_tag"] = h.TypeTag;
    out["current_type_tag"] = h.TypeTag == ORVANE_CURRENT_FILE_TYPE_TAG;
    out["size"] = h.TotalSize;
    out["crc"] = h.CRC;
    out["crc_valid"] = OrvaneFileCRCIsValid(path);
    out["extra_tags"] = {h.ExtraTags[0], h.ExtraTags[1], h.ExtraTags[2], h.ExtraTags[3]};
    nlohmann::ordered_json sections = nlohmann::ordered_json::array();
    for (uint32_t i = 0; i < h.SectionCount; ++i) {
        const orvane_ovn_section& s = head.table[i];
        nlohmann::ordered_json section;
        section["index"] = i;
        section["name"] = SectionName(i);
        section["codec"] = CodecName(s.Compression);
        section["stored_size"] = s.DataSize;
        section["expanded_size"] = s.ExpandedSize;
        section["pointer_fixups"] = s.PointerFixupCount;
        section["marshalling_fixups"] = s.MarshallingFixupCount;
        sections.push_back(section);
    }
    out["sections"] = sections;
    Loaded loaded;
    std::string problem;
    if (!Load(path, head, &loaded, &problem)) {
        OrvaneFreeFile(loaded.file);
        return Fail("info: %s: %s", path, problem.c_str());
    }
    out["root_type"] = DescribeType(loaded.root.Type);
    if (loaded.info) {
        const ContentCounts c = CountContent(loaded.info);
        out["content"] = {{"textures", c.textures},
                          {"materials", c.materials},
                          {"skeletons", c.skeletons},
                          {"bones", c.bones},
                          {"vertex_datas", c.vertexDatas},
                          {"vertices", c.vertices},
                          {"topologies", c.topologies},
                          {"triangles", c.triangles},
                          {"meshes", c.meshes},
                          {"models", c.models},
                          {"track_groups", c.trackGroups},
                          {"tracks", c.tracks},
                          {"animations", c.animations}};
        nlohmann::ordered_json formats = nlohmann::ordered_json::object();
        for (const auto& entry : c.curveFormats)
            formats[entry.first] = entry.second;
        out["curve_formats"] = formats;
    } else {
        out["content"] = nullptr;
    }
    OrvaneFreeFile(loaded.file);
    std::printf("%s\n", out.dump(2).c_str());
    return 0;
}

}  // namespace

int RunInfo(const InfoOptions& options) {
    FileHead head;
    std::string problem;
    if (!ReadHead(options.path.c_str(), &head, &problem)) return Fail("info: %s", problem.c_str());
    return options.json ? PrintJson(options, head) : PrintText(options, head);
}

Command AddInfoCommand(CLI::App& tool) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* app = tool.add_subcommand(
        "info",
        "Prints a content file's byte order, format revision, type tag, CRC, sections (codec, "
        "sizes, fixups), root type and a count of each content kind.");
    app->add_option("FILE", options->path, "the content file")->required();
    CLI::Option* tree = app->add_flag("--tree", options->tree,
                                      "also dump the object tree through its type "
                                      "descriptions");
    app->add_option("--depth", options->depth, "how deep --tree descends")
        ->capture_default_str()
        ->check(CLI::Range(0, 1000));
    app->add_flag("--json", options->json,
                  "print the facts as one JSON object (keys: path, byte_order, format_revision, "
                  "type_tag, size, crc, crc_valid, sections, root_type, content, ...)")
        ->excludes(tree);
    return {app, [options] { return RunInfo(*options); }};
}

}  // namespace orvane_tool
