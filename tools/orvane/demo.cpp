// orvane demo, the main job: the demo character built from code (or a content file given with
// --content), written compressed, loaded back, verified and described, then played, blended and
// skinned through the tool's frame, with the time of every stage.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#include "demo_character.h"
#include "frame.h"
#include "image_io.h"
#include "raster.h"
#include "tool.h"

namespace orvane_tool {

namespace {

struct DemoOptions {
    std::string out, level = "default", content, png, size = "240x320";
    double seconds = 2.0, fps = 60.0;
    int frames = 6;
    bool ignoreCrc = false;
};

const uint8_t kBackground[4] = {236, 238, 242, 255};
constexpr int kSupersampling = 2;  // each cell is drawn this many times larger and averaged down

bool Usable(const float* v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]) &&
           v[0] * v[0] + v[1] * v[1] + v[2] * v[2] > 1e-12f;
}

// The model's up axis and the way it faces (along the art tool's back vector, towards the
// tool's viewer), as the render command takes them; y up and +z ahead when the file's axes
// are missing or parallel.
FramingOptions Framing(const orvane_file_info* info) {
    FramingOptions framing;
    const orvane_art_tool_info* art = info->ArtToolInfo;
    if (art == nullptr || !Usable(art->UpVector) || !Usable(art->BackVector)) return framing;
    const float* u = art->UpVector;
    const float* b = art->BackVector;
    const float cross[3] = {u[1] * b[2] - u[2] * b[1], u[2] * b[0] - u[0] * b[2],
                            u[0] * b[1] - u[1] * b[0]};
    if (!Usable(cross)) return framing;
    std::memcpy(framing.up, u, sizeof framing.up);
    std::memcpy(framing.front, b, sizeof framing.front);
    return framing;
}

// One row of the contact sheet: `count` frames spread over the clips' duration, framed by the
// box the meshes fill over the whole of it.
bool RenderRow(const orvane_file_info* info, const CharacterOptions& options, int count, int width,
               int height, std::vector<Image>* cells, double* seconds) {
    std::string problem;
    std::unique_ptr<Character> character = Character::Create(info, options, &problem);
    if (!character) {
        Fail("demo: the picture: %s", problem.c_str());
        return false;
    }
    const double duration = character->Duration();
    Box box;
    for (int k = 0; k <= 24; ++k) {
        character->Pose(duration * k / 24);
        for (int m = 0; m < character->MeshCount(); ++m) {
            const PosedMesh& mesh = character->Mesh(m);
            for (int32_t v = 0; v < mesh.vertexCount; ++v)
                box.Add(&mesh.positions[size_t(v) * 3]);
        }
    }
    const Camera camera = FrameBox(box, float(width) / float(height), Framing(info));
    Rasterizer raster;
    const double start = Now();
    for (int k = 0; k < count; ++k) {
        character->Pose(duration * k / count);
        if (!raster.Begin(width * kSupersampling, height * kSupersampling, kBackground)) {
            Fail("demo: the picture's cells cannot be %d x %d", width, height);
            return false;
        }
        raster.SetCamera(camera);
        for (int m = 0; m < character->MeshCount(); ++m) {
            const PosedMesh& mesh = character->Mesh(m);
            MeshView view;
            view.positions = mesh.positions.data();
            view.normals = mesh.normals.empty() ? nullptr : mesh.normals.data();
            view.uvs = mesh.uvs.empty() ? nullptr : mesh.uvs.data();
            view.vertexCount = mesh.vertexCount;
            view.indices = mesh.indices.data();
            view.indexCount = int64_t(mesh.indices.size());
            if (!mesh.textureRGBA.empty())
                view.texture = {mesh.textureRGBA.data(), mesh.textureWidth, mesh.textureHeight};
            raster.Draw(view);
        }
        cells->push_back(Downsample(raster.Frame(), kSupersampling));
    }
    *seconds += Now() - start;
    return true;
}

bool IsBackground(const uint8_t* p) {
    return std::memcmp(p, kBackground, 4) == 0;
}

// What a person looks for in the picture: every cell shows the figure (a fair share of its
// pixels), the figure lies inside the cell (its border is background), and the moving clip's
// first and middle frames differ. False with the reason in *problem.
bool CheckPicture(const std::vector<Image>& row, std::string* problem) {
    for (size_t c = 0; c < row.size(); ++c) {
        const Image& cell = row[c];
        int64_t figure = 0;
        bool border = true;
        for (int y = 0; y < cell.height; ++y)
            for (int x = 0; x < cell.width; ++x) {
                const bool edge = x == 0 || y == 0 || x == cell.width - 1 || y == cell.height - 1;
                const bool background = IsBackground(cell.Pixel(x, y));
                figure += !background;
                if (edge && !background) border = false;
            }
        if (figure < int64_t(cell.width) * cell.height / 50) {
            *problem = "frame " + std::to_string(c) + " is (nearly) empty";
            return false;
        }
        if (!border) {
            *problem = "frame " + std::to_string(c) + " cuts the figure at its edge";
            return false;
        }
    }
    if (row.size() >= 2) {
        const Image &a = row[0], &b = row[row.size() / 2];
        int64_t differ = 0;
        for (size_t i = 0; i < a.rgba.size(); i += 4)
            differ += std::memcmp(&a.rgba[i], &b.rgba[i], 4) != 0;
        if (differ < int64_t(a.width) * a.height / 200) {
            *problem = "the clip's first and middle frames look the same";
            return false;
        }
    }
    return true;
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

// Plays the clips for the demo's seconds at its frame rate and prints each stage's median and
// 99th percentile per frame; false (after a message) when the character cannot be made or a
// frame after the first allocates.
bool Play(const orvane_file_info* info, const CharacterOptions& options, const DemoOptions& o,
          const char* what) {
    std::string problem;
    std::unique_ptr<Character> character = Character::Create(info, options, &problem);
    if (!character) {
        Fail("demo: %s: %s", what, problem.c_str());
        return false;
    }
    std::printf("%s:", what);
    for (size_t i = 0; i < character->ClipNames().size(); ++i)
        std::printf(" %s%s (weight %g)", i ? "+ " : "", character->ClipNames()[i].c_str(),
                    options.clips.empty() ? 1.0 : double(options.clips[i].weight));
    const int frames = std::max(1, int(std::ceil(o.seconds * o.fps)));
    std::printf(", %d frames at %g fps\n", frames, o.fps);
    std::vector<double> stage[5];
    uint64_t later = 0;
    for (int f = 0; f < frames; ++f) {
        const uint64_t before = LibraryAllocationCount();
        StageTimes t;
        character->Pose(double(f + 1) / o.fps, &t);
        if (f > 0) later += LibraryAllocationCount() - before;
        const double parts[5] = {t.sampling, t.worldPose, t.skinningMatrices, t.deformation,
                                 t.sampling + t.worldPose + t.skinningMatrices + t.deformation};
        for (int s = 0; s < 5; ++s)
            stage[s].push_back(parts[s]);
    }
    static const char* const kNames[5] = {"sampling", "world pose", "skinning matrices",
                                          "deformation", "whole frame"};
    std::printf("  %-20s %10s %10s\n", "stage (us/frame)", "median", "99th pct");
    for (int s = 0; s < 5; ++s)
        std::printf("  %-20s %10.2f %10.2f\n", kNames[s], Percentile(stage[s], 0.5) * 1e6,
                    Percentile(stage[s], 0.99) * 1e6);
    float vector[3];
    const double distance = character->RootMotionDistance(vector);
    std::printf("  root motion travelled: %.3f (%.3f, %.3f, %.3f); allocations per frame: %.0f\n",
                distance, double(vector[0]), double(vector[1]), double(vector[2]),
                frames > 1 ? double(later) / double(frames - 1) : 0.0);
    if (later != 0) {
        Fail("demo: %s: %llu allocations after the first frame", what,
             static_cast<unsigned long long>(later));
        return false;
    }
    return true;
}

// The animations that play on the model: the first one alone, then it blended half and half
// with the next one, when there is a next one.
std::vector<std::string> ClipsFor(const orvane_file_info* info) {
    std::vector<std::string> names;
    const std::string first = DefaultClip(info, 0);
    if (first.empty()) return names;
    names.push_back(first);
    for (int32_t a = 0; a < info->AnimationCount && info->Animations; ++a) {
        const orvane_animation* animation = info->Animations[a];
        if (animation && animation->Name && first != animation->Name &&
            animation->TrackGroupCount > 0) {
            names.push_back(animation->Name);
            break;
        }
    }
    return names;
}

int RunDemo(const DemoOptions& o) {
    if (!(o.seconds > 0) || !std::isfinite(o.seconds) || o.seconds > 3600)
        return Fail("demo: --seconds must be above 0 (at most 3600)");
    if (!(o.fps > 0) || !std::isfinite(o.fps) || o.fps > 1000)
        return Fail("demo: --fps must be above 0 (at most 1000)");
    int width = 0, height = 0;
    char extra = 0;
    if (std::sscanf(o.size.c_str(), "%dx%d%c", &width, &height, &extra) != 2 || width < 16 ||
        height < 16 || width > 4096 || height > 4096) {
        return Fail("demo: --size takes WxH, each from 16 to 4096, not \"%s\"", o.size.c_str());
    }
    // Memory for the picture, bounded before any work: up to three rows of cells, each drawn
    // supersampled.
    if (int64_t(width) * o.frames * int64_t(height) * 3 > (int64_t(1) << 28))
        return Fail("demo: the picture would be too large (3 rows of %d frames of %d x %d)",
                    o.frames, width, height);
    if (int64_t(width) * height * kSupersampling * kSupersampling > (int64_t(1) << 26))
        return Fail("demo: frames of %d x %d are too large to draw", width, height);
    std::string problem;
    if (!o.content.empty() && !CheckContentInput(o.content, o.ignoreCrc, &problem))
        return Fail("demo: %s", problem.c_str());
    std::vector<std::string> inputs;
    if (!o.content.empty()) inputs.push_back(o.content);
    OutputFile contentOutput;
    if (o.content.empty() && !o.out.empty() && !contentOutput.Open(o.out, inputs, false, &problem))
        return Fail("demo: %s", problem.c_str());
    if (!o.png.empty()) {
        OutputFile check;
        std::vector<std::string> pictureInputs = inputs;
        if (o.content.empty() && !o.out.empty()) pictureInputs.push_back(o.out);
        if (!check.Open(o.png, pictureInputs, false, &problem))
            return Fail("demo: %s", problem.c_str());
        if (!o.out.empty() && o.content.empty() && o.png == o.out)
            return Fail("demo: the picture and the content file cannot both be %s", o.png.c_str());
    }
    CountLibraryAllocations();
    const std::string path =
        !o.out.empty() ? o.out : std::string(OrvaneGetTemporaryDirectory()) + "orvane_demo.ovn";
    Progress progress("demo");
    std::unique_ptr<DemoCharacter> character;
    double buildSeconds = 0, writeSeconds = 0;
    std::string source = o.content;
    if (source.empty()) {
        std::printf("Orvane %s: building the demo character from code\n", OrvaneGetVersionString());
        progress.Step("building");
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
        if (contentOutput.path().empty() && !contentOutput.Open(path, inputs, false, &problem))
            return Fail("demo: %s", problem.c_str());
        ForgetLibraryReason();
        if (!character->Write(contentOutput.path().c_str(), OrvanePelma1Compression,
                              LevelOf(o.level))) {
            contentOutput.Discard();
            const std::string reason = LibraryReason();
            return Fail("demo: %s: cannot be written%s%s", path.c_str(), reason.empty() ? "" : ": ",
                        reason.c_str());
        }
        if (!contentOutput.Commit(&problem)) return Fail("demo: %s", problem.c_str());
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
        if (!SameContent(*character, info, &problem)) {
            OrvaneFreeFile(file);
            return Fail("demo: %s: %s", source.c_str(), problem.c_str());
        }
        std::printf("loaded back: the skeleton, mesh, model and clips match what was built\n");
    }

    progress.Step("verifying");
    InfoOptions info_options;
    info_options.path = source;
    if (RunVerify(source, false) != 0 || RunInfo(info_options) != 0) {
        OrvaneFreeFile(file);
        return 1;
    }

    progress.Step("playing");
    bool played = true;
    const std::vector<std::string> clips = ClipsFor(info);
    if (info->ModelCount < 1) {
        std::printf("the file has no model to play\n");
    } else {
        CharacterOptions options;
        if (!clips.empty()) options.clips.push_back({clips[0], 1.0f});
        played = Play(info, options, o, clips.empty() ? "rest pose" : "playing");
        if (played && clips.size() > 1) {
            options.clips = {{clips[0], 0.5f}, {clips[1], 0.5f}};
            played = Play(info, options, o, "blending");
        }
    }
    if (!played) {
        OrvaneFreeFile(file);
        return 1;
    }

    // The picture: a row of the first clip, and a row of the blend when there is one.
    progress.Step("drawing");
    if (info->ModelCount >= 1) {
        // Rows: the first clip, the second, and the two blended half and half.
        std::vector<std::pair<std::string, CharacterOptions>> rows(1);
        rows[0].first = clips.empty() ? "the rest pose" : clips[0];
        if (!clips.empty()) rows[0].second.clips = {{clips[0], 1.0f}};
        if (clips.size() > 1) {
            rows.push_back({clips[1], {}});
            rows.back().second.clips = {{clips[1], 1.0f}};
            rows.push_back({clips[0] + " + " + clips[1], {}});
            rows.back().second.clips = {{clips[0], 0.5f}, {clips[1], 0.5f}};
        }
        std::vector<Image> cells;
        double drawSeconds = 0;
        std::string labels;
        for (const auto& [label, options] : rows) {
            std::vector<Image> row;
            if (!RenderRow(info, options, o.frames, width, height, &row, &drawSeconds)) {
                OrvaneFreeFile(file);
                return 1;
            }
            // The demo character's clips all move; an imported one's need not.
            if (character && !CheckPicture(row, &problem)) {
                OrvaneFreeFile(file);
                return Fail("demo: the picture of %s: %s", label.c_str(), problem.c_str());
            }
            cells.insert(cells.end(), row.begin(), row.end());
            labels += (labels.empty() ? "" : "; ") + label;
        }
        const Image sheet = ComposeSheet(cells, o.frames, kBackground);
        std::string png = o.png;
        if (png.empty()) {
            const size_t dot = source.rfind('.'), slash = source.rfind('/');
            png = (dot != std::string::npos && (slash == std::string::npos || dot > slash)
                       ? source.substr(0, dot)
                       : source) +
                  ".png";
        }
        if (WriteOutput("demo", png, {source}, [&](const std::string& at, std::string* why) {
                return WritePng(at, sheet, why);
            }) != 0) {
            OrvaneFreeFile(file);
            return 1;
        }
        const int drawnFrames = o.frames * int(rows.size());
        std::printf(
            "picture: %s, %d x %d: rows of %d frames (%s), drawn in %.1f ms (%.2f ms a frame "
            "of %d x %d)\n",
            png.c_str(), sheet.width, sheet.height, o.frames, labels.c_str(), drawSeconds * 1e3,
            drawSeconds * 1e3 / drawnFrames, width * kSupersampling, height * kSupersampling);
        if (character)
            std::printf("picture checks: every frame shows the whole figure; every clip moves\n");
    }
    OrvaneFreeFile(file);
    if (character)
        std::printf("timings: build %.1f ms, write %.1f ms, load %.1f ms\n", buildSeconds * 1e3,
                    writeSeconds * 1e3, loadSeconds * 1e3);
    else
        std::printf("timings: load %.1f ms\n", loadSeconds * 1e3);
    return LibraryErrorStatus("demo");
}

}  // namespace

Command AddDemoCommand(CLI::App& tool) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* app = tool.add_subcommand(
        "demo",
        "The main job: builds the demo character from code (a skinned, textured figure of 23 "
        "bones with a walk and a wave compressed by the fitter), writes it Pelma1-compressed, "
        "loads it back, verifies it, prints its info, then plays the walk, blends it with the "
        "wave, skins the mesh each frame, draws a contact sheet to a PNG and prints the time of "
        "every stage.");
    app->add_option("OUT", options->out,
                    "where to keep the file (default: orvane_demo.ovn in the temporary folder)");
    app->add_option("--level", options->level, "how hard the codec compresses")
        ->capture_default_str()
        ->check(CLI::IsMember(kLevelNames));
    app->add_option("--content", options->content,
                    "use this content file instead of building the demo character");
    app->add_flag("--ignore-crc", options->ignoreCrc,
                  "play a --content file whose CRC does not match its contents (a damaged file)");
    app->add_option("--seconds", options->seconds, "how long each clip plays, in seconds")
        ->capture_default_str();
    app->add_option("--fps", options->fps, "frames per second")->capture_default_str();
    app->add_option(
        "--png", options->png,
        "where the contact sheet goes (default: the content file's name with .png; never the "
        "content file itself)");
    app->add_option("--frames", options->frames, "frames per row of the contact sheet")
        ->capture_default_str()
        ->check(CLI::Range(1, 64));
    app->add_option("--size", options->size, "each frame's size in pixels, WxH")
        ->capture_default_str();
    return {app, [options] { return RunDemo(*options); }};
}

}  // namespace orvane_tool
