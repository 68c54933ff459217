// orvane verify: the CRC, a full load and the structural checks that hold for every
// well-formed file info.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace orvane_tool {

namespace {

// Returns the first problem, or an empty text.
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
    // Every curve recognised: an unknown format (one this version does not know) or a damaged
    // compact curve is refused by the samplers.
    for (int i = 0; i < info->TrackGroupCount; ++i) {
        const orvane_track_group* g = info->TrackGroups[i];
        if (!g) continue;
        for (int t = 0; t < g->TransformTrackCount; ++t) {
            const orvane_transform_track& track = g->TransformTracks[t];
            const orvane_curve2* curves[3] = {&track.PositionCurve, &track.OrientationCurve,
                                              &track.ScaleShearCurve};
            const char* names[3] = {"position", "orientation", "scale/shear"};
            for (int k = 0; k < 3; ++k)
                if (curves[k]->CurveData.Object &&
                    !OrvaneCurveFormatIsInitializedCorrectly(curves[k])) {
                    std::snprintf(text, sizeof text,
                                  "track group %d, track %d: the %s curve's format is unknown "
                                  "or its data damaged",
                                  i, t, names[k]);
                    return text;
                }
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

}  // namespace

int RunVerify(const std::string& pathText, bool quiet) {
    const char* path = pathText.c_str();
    FileHead head;
    std::string problem;
    if (!ReadHead(path, &head, &problem)) return Fail("verify: %s", problem.c_str());
    if (!OrvaneFileCRCIsValid(path))
        return Fail("verify: %s: the CRC does not match the contents: the file is damaged", path);
    const int errorsBefore = LibraryErrorCount();
    ForgetLibraryReason();
    orvane_file* file = OrvaneReadEntireFile(path);
    if (file == nullptr) return Fail("verify: %s: the file cannot be loaded", path);
    for (uint32_t i = 0; i < head.header->SectionCount; ++i) {
        if (head.table[i].ExpandedSize && file->Sections[i] == nullptr) {
            OrvaneFreeFile(file);
            const std::string reason = LibraryReason();
            return Fail("verify: %s: section %u cannot be loaded%s%s", path, i,
                        reason.empty() ? "" : ": ", reason.c_str());
        }
    }
    orvane_variant root = OrvaneGetDataTreeFromFile(file);
    if (root.Type == nullptr || root.Object == nullptr) {
        OrvaneFreeFile(file);
        return Fail("verify: %s: the root object cannot be reached", path);
    }
    if (OrvaneDataTypesAreEqual(root.Type, OrvaneFileInfoType)) {
        orvane_file_info* info = OrvaneGetFileInfo(file);
        if (info == nullptr) {
            OrvaneFreeFile(file);
            return Fail("verify: %s: the file info cannot be read", path);
        }
        problem = CheckStructure(info);
        if (!problem.empty()) {
            OrvaneFreeFile(file);
            return Fail("verify: %s: %s", path, problem.c_str());
        }
    }
    OrvaneFreeFile(file);
    if (LibraryErrorCount() != errorsBefore) {
        const std::string reason = LibraryReason();
        return Fail("verify: %s: loading reported errors%s%s", path, reason.empty() ? "" : ": ",
                    reason.c_str());
    }
    if (!quiet) Say("%s: OK", path);
    return 0;
}

Command AddVerifyCommand(CLI::App& tool) {
    auto path = std::make_shared<std::string>();
    CLI::App* app = tool.add_subcommand(
        "verify",
        "Checks a content file's CRC, loads the whole file and checks its structure (bone "
        "parents, vertex indices, readable curves, animation durations); prints \"FILE: OK\", or "
        "the first fault "
        "with exit status 1.");
    app->add_option("FILE", *path, "the content file")->required();
    return {app, [path] { return RunVerify(*path, false); }};
}

}  // namespace orvane_tool
