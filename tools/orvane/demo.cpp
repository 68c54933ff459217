// orvane demo, the main job: the demo character built from code (or a content file given with
// --content), written compressed, loaded back, verified and described.
#include <chrono>
#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#include "demo_character.h"
#include "tool.h"

namespace orvane_tool {

namespace {

struct DemoOptions {
    std::string out, level = "default", content;
};

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The loaded file against what was built: the same skeleton, mesh and clips.
bool SameContent(const DemoCharacter& built, const orvane_file_info* loaded, std::string* problem) {
    const orvane_skeleton* s = built.skeleton();
    if (loaded->SkeletonCount != 1 || !loaded->Skeletons[0] ||
        loaded->Skeletons[0]->BoneCount != s->BoneCount) {
        *problem = "the skeleton did not come back";
        return false;
    }
    for (int32_t b = 0; b < s->BoneCount; ++b) {
        const orvane_bone& a = s->Bones[b];
        const orvane_bone& c = loaded->Skeletons[0]->Bones[b];
        if (!c.Name || std::strcmp(a.Name, c.Name) != 0 || a.ParentIndex != c.ParentIndex ||
            std::memcmp(a.InverseWorldTransform, c.InverseWorldTransform,
                        sizeof a.InverseWorldTransform) != 0) {
            *problem = "bone " + std::to_string(b) + " came back different";
            return false;
        }
    }
    if (loaded->MeshCount != 1 || !loaded->Meshes[0] || !loaded->Meshes[0]->PrimaryVertexData ||
        loaded->Meshes[0]->PrimaryVertexData->VertexCount != built.vertexCount() ||
        !loaded->Meshes[0]->PrimaryTopology ||
        loaded->Meshes[0]->PrimaryTopology->IndexCount != 3 * built.triangleCount()) {
        *problem = "the mesh came back different";
        return false;
    }
    if (loaded->ModelCount != 1 || !loaded->Models[0] || loaded->Models[0]->MeshBindingCount != 1 ||
        loaded->Models[0]->MeshBindings[0].Mesh != loaded->Meshes[0] ||
        loaded->Models[0]->Skeleton != loaded->Skeletons[0]) {
        *problem = "the model does not bind the file's mesh and skeleton";
        return false;
    }
    if (loaded->AnimationCount != int32_t(built.clips().size())) {
        *problem = "the clips did not come back";
        return false;
    }
    for (int32_t a = 0; a < loaded->AnimationCount; ++a) {
        const orvane_animation* anim = loaded->Animations[a];
        if (!anim || !anim->Name || built.clips()[size_t(a)].name != anim->Name ||
            anim->TrackGroupCount != 1 || !anim->TrackGroups[0] ||
            anim->TrackGroups[0]->TransformTrackCount != s->BoneCount) {
            *problem = "clip " + std::to_string(a) + " came back different";
            return false;
        }
    }
    return true;
}

int RunDemo(const DemoOptions& o) {
    const std::string path =
        !o.out.empty() ? o.out : std::string(OrvaneGetTemporaryDirectory()) + "orvane_demo.ovn";
    Progress progress("demo");
    std::unique_ptr<DemoCharacter> character;
    double buildSeconds = 0, writeSeconds = 0;
    std::string source = o.content;
    if (source.empty()) {
        std::printf("Orvane %s: building the demo character from code\n", OrvaneGetVersionString());
        progress.Step("building");
        std::string problem;
        const double start = Now();
        character = DemoCharacter::Build(&problem);
        buildSeconds = Now() - start;
        if (!character)
            return Fail("demo: the demo character cannot be built: %s", problem.c_str());
        std::printf("built: skeleton \"%s\" with %d bones, mesh of %d vertices and %d triangles\n",
                    character->skeleton()->Name, character->skeleton()->BoneCount,
                    character->vertexCount(), character->triangleCount());
        for (const DemoClipReport& c : character->clips())
            std::printf(
                "clip \"%s\": %.2f s, %d frames at %g/s fitted within %g m (shell %g m): max "
                "error %.3g m, %d bytes of curves for %d bytes of samples (%.1f:1), %d exact "
                "components\n",
                c.name.c_str(), c.duration, c.frames, double(DemoCharacter::kFramesPerSecond),
                double(DemoCharacter::kErrorBudget), double(DemoCharacter::kShellDistance),
                double(c.maxError), c.curveBytes, c.sampleBytes,
                c.curveBytes > 0 ? double(c.sampleBytes) / c.curveBytes : 0.0, c.exactComponents);

        progress.Step("writing");
        const double writeStart = Now();
        if (!character->Write(path.c_str(), OrvanePelma1Compression, LevelOf(o.level)))
            return Fail("demo: %s cannot be written", path.c_str());
        writeSeconds = Now() - writeStart;
        source = path;
    }

    progress.Step("loading");
    const double loadStart = Now();
    orvane_file* file = OrvaneReadEntireFile(source.c_str());
    orvane_file_info* info = file ? OrvaneGetFileInfo(file) : nullptr;
    const double loadSeconds = Now() - loadStart;
    if (info == nullptr) {
        OrvaneFreeFile(file);
        return Fail("demo: %s cannot be loaded back", source.c_str());
    }
    if (character) {
        std::string problem;
        if (!SameContent(*character, info, &problem)) {
            OrvaneFreeFile(file);
            return Fail("demo: %s: %s", source.c_str(), problem.c_str());
        }
        std::printf("loaded back: the skeleton, mesh, model and clips match what was built\n");
    }
    OrvaneFreeFile(file);

    progress.Step("verifying");
    if (RunVerify(source, false) != 0) return 1;
    InfoOptions info_options;
    info_options.path = source;
    if (RunInfo(info_options) != 0) return 1;
    std::printf("timings: build %.1f ms, write %.1f ms, load %.1f ms\n", buildSeconds * 1e3,
                writeSeconds * 1e3, loadSeconds * 1e3);
    return 0;
}

}  // namespace

Command AddDemoCommand(CLI::App& tool) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* app = tool.add_subcommand(
        "demo",
        "The main job: builds the demo character from code (a skinned, textured figure of 23 "
        "bones with a walk and a wave compressed by the fitter), writes it Pelma1-compressed, "
        "loads it back, verifies it and prints its info.");
    app->add_option("OUT", options->out,
                    "where to keep the file (default: orvane_demo.ovn in the temporary folder)");
    app->add_option("--level", options->level, "how hard the codec compresses")
        ->capture_default_str()
        ->check(CLI::IsMember(kLevelNames));
    app->add_option("--content", options->content,
                    "use this content file instead of building the demo character");
    return {app, [options] { return RunDemo(*options); }};
}

}  // namespace orvane_tool
