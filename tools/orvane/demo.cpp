// orvane demo, the main job: an example content file built from code, written compressed,
// loaded back, verified and described.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "testing/example_content.h"
#include "tool.h"

namespace orvane_tool {

namespace {

struct DemoOptions {
    std::string out, level = "default";
};

int RunDemo(const DemoOptions& o) {
    const std::string path =
        !o.out.empty() ? o.out : std::string(OrvaneGetTemporaryDirectory()) + "orvane_demo.ovn";
    Progress progress("demo");
    std::printf("Orvane %s: building an example content file\n", OrvaneGetVersionString());
    orvane_example::ExampleContent example;
    if (!example.ok()) return Fail("demo: the example content cannot be built");

    progress.Step("writing");
    orvane_example::ExampleFileOptions options;
    options.compression = OrvanePelma1Compression;
    options.level = LevelOf(o.level);
    if (!orvane_example::WriteExampleFile(example, path.c_str(), options))
        return Fail("demo: %s cannot be written", path.c_str());

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
    if (RunVerify(path, false) != 0) return 1;
    InfoOptions info_options;
    info_options.path = path;
    return RunInfo(info_options);
}

}  // namespace

Command AddDemoCommand(CLI::App& tool) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* app = tool.add_subcommand(
        "demo",
        "The main job: builds an example content file from code (skeleton, curves, mesh, "
        "extended data), writes it Pelma1-compressed, loads it back, verifies it and prints its "
        "info.");
    app->add_option("OUT", options->out,
                    "where to keep the file (default: orvane_demo.ovn in the temporary folder)");
    app->add_option("--level", options->level, "how hard the codec compresses")
        ->capture_default_str()
        ->check(CLI::IsMember(kLevelNames));
    return {app, [options] { return RunDemo(*options); }};
}

}  // namespace orvane_tool
