// orvane render: frames of a model's clip posed and skinned through the shared frame, drawn by
// the software rasteriser into a PNG contact sheet and, when asked, an animated GIF.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#include "frame.h"
#include "image_io.h"
#include "raster.h"
#include "tool.h"

namespace orvane_tool {

namespace {

const uint8_t kBackground[4] = {38, 42, 50, 255};

bool Usable(const float* v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]) &&
           v[0] * v[0] + v[1] * v[1] + v[2] * v[2] > 1e-12f;
}

// The model's up axis and the direction its front faces, from the file's art-tool axes when
// they are usable (a character faces the viewer of the art tool, along its back vector);
// otherwise y up and +z ahead, as most exporters write.
void ModelAxes(const orvane_file_info* info, FramingOptions* framing) {
    const float up[3] = {0, 1, 0}, front[3] = {0, 0, 1};
    std::memcpy(framing->up, up, sizeof up);
    std::memcpy(framing->front, front, sizeof front);
    const orvane_art_tool_info* art = info->ArtToolInfo;
    if (art == nullptr || !Usable(art->UpVector) || !Usable(art->BackVector)) return;
    float cross[3] = {
        art->UpVector[1] * art->BackVector[2] - art->UpVector[2] * art->BackVector[1],
        art->UpVector[2] * art->BackVector[0] - art->UpVector[0] * art->BackVector[2],
        art->UpVector[0] * art->BackVector[1] - art->UpVector[1] * art->BackVector[0]};
    if (!Usable(cross)) return;  // parallel axes
    std::memcpy(framing->up, art->UpVector, sizeof up);
    std::memcpy(framing->front, art->BackVector, sizeof front);
}

Box PosedBox(const Character& character) {
    Box box;
    for (int m = 0; m < character.MeshCount(); ++m) {
        const PosedMesh& mesh = character.Mesh(m);
        for (int32_t v = 0; v < mesh.vertexCount; ++v)
            box.Add(&mesh.positions[size_t(v) * 3]);
    }
    return box;
}

// Draws the character as the last Pose left it; the frame is scale times the cell's size.
void DrawCharacter(const Character& character, Rasterizer* raster) {
    for (int m = 0; m < character.MeshCount(); ++m) {
        const PosedMesh& mesh = character.Mesh(m);
        MeshView view;
        view.positions = mesh.positions.data();
        view.normals =
            mesh.normals.size() == size_t(mesh.vertexCount) * 3 ? mesh.normals.data() : nullptr;
        view.uvs = mesh.uvs.size() == size_t(mesh.vertexCount) * 2 ? mesh.uvs.data() : nullptr;
        view.vertexCount = mesh.vertexCount;
        view.indices = mesh.indices.data();
        view.indexCount = int64_t(mesh.indices.size());
        if (mesh.textureWidth > 0 && mesh.textureHeight > 0 &&
            mesh.textureRGBA.size() == size_t(mesh.textureWidth) * mesh.textureHeight * 4)
            view.texture = {mesh.textureRGBA.data(), mesh.textureWidth, mesh.textureHeight};
        const uint8_t clay[4] = {205, 190, 170, 255};
        std::memcpy(view.color, clay, sizeof clay);
        raster->Draw(view);
    }
}

bool ParseSize(const std::string& text, int* w, int* h) {
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%dx%d%n", w, h, &consumed) != 2 || consumed != int(text.size()))
        return false;
    return *w >= 16 && *h >= 16 && *w <= 4096 && *h <= 4096;
}

}  // namespace

int RenderModel(const orvane_file_info* info, const RenderOptions& o) {
    if (o.frames < 1 || o.frames > 256) return Fail("render: --frames must be 1 to 256");
    if (o.gifFrames < 1 || o.gifFrames > 1000)
        return Fail("render: --gif-frames must be 1 to 1000");
    if (o.width < 16 || o.height < 16 || o.width > 4096 || o.height > 4096)
        return Fail("render: the cell size must be 16 to 4096 on a side");
    if (o.samples < 1 || o.samples > 4) return Fail("render: --samples must be 1 to 4");
    const int columns = o.columns > 0 ? std::min(o.columns, o.frames) : std::min(o.frames, 8);
    const int rows = (o.frames + columns - 1) / columns;
    // Memory for the pictures, bounded before any work: the sheet, the GIF's frames (each
    // cell kept) and the supersampled drawing surface.
    if (int64_t(o.width) * columns * int64_t(o.height) * rows > (int64_t(1) << 28))
        return Fail("render: the contact sheet would be too large (%d x %d cells of %d x %d)",
                    columns, rows, o.width, o.height);
    if (!o.gif.empty() && int64_t(o.width) * o.height * o.gifFrames > (int64_t(1) << 28))
        return Fail("render: the GIF would be too large (%d frames of %d x %d)", o.gifFrames,
                    o.width, o.height);
    if (int64_t(o.width) * o.height * o.samples * o.samples > (int64_t(1) << 26))
        return Fail("render: %d x %d pixels supersampled %d x %d is too large to draw", o.width,
                    o.height, o.samples, o.samples);
    if (!o.gif.empty() && o.gif == o.out)
        return Fail("render: the contact sheet and the GIF cannot both be %s", o.out.c_str());
    std::vector<std::string> inputs;
    if (!o.input.empty()) inputs.push_back(o.input);
    // Both destinations are checked before the work, so a refused one costs nothing.
    {
        std::string problem;
        for (const std::string* out : {&o.out, &o.gif}) {
            OutputFile check;
            if (!out->empty() && !check.Open(*out, inputs, false, &problem))
                return Fail("render: %s", problem.c_str());
        }
    }

    CharacterOptions options;
    options.model = o.model;
    if (!o.anim.empty()) options.clips.push_back({o.anim, 1.0f});
    std::string problem;
    std::unique_ptr<Character> character = Character::Create(info, options, &problem);
    if (!character) return Fail("render: %s", problem.c_str());
    const double duration = character->Duration();

    // The sheet's frames spread evenly over the clip, which loops: the end would repeat the
    // start, so the last frame stops one step short of it.
    std::vector<double> sheetTimes, gifTimes;
    for (int i = 0; i < o.frames; ++i)
        sheetTimes.push_back(duration * double(i) / double(o.frames));
    if (!o.gif.empty())
        for (int i = 0; i < o.gifFrames; ++i)
            gifTimes.push_back(duration * double(i) / double(o.gifFrames));

    // One camera for every frame, fitted to the box the model fills over the whole clip, so
    // the motion shows against a still view.
    Box box;
    for (const std::vector<double>* times : {&sheetTimes, &gifTimes})
        for (double t : *times) {
            character->Pose(t);
            box.Add(PosedBox(*character));
        }
    if (box.empty) return Fail("render: model %d has no finite vertex to draw", o.model);
    FramingOptions framing;
    ModelAxes(info, &framing);
    const int s = o.samples;
    const Camera camera = FrameBox(box, float(o.width) / float(o.height), framing);

    Rasterizer raster;
    raster.SetCamera(camera);
    double drawing = 0;
    int drawn = 0;
    auto render = [&](double t) {
        character->Pose(t);
        const double start = Now();
        raster.Begin(o.width * s, o.height * s, kBackground);
        DrawCharacter(*character, &raster);
        Image cell = Downsample(raster.Frame(), s);
        drawing += Now() - start;
        ++drawn;
        return cell;
    };

    std::vector<Image> cells;
    for (double t : sheetTimes)
        cells.push_back(render(t));
    const Image sheet = ComposeSheet(cells, columns, kBackground);
    if (WriteOutput("render", o.out, inputs, [&](const std::string& path, std::string* why) {
            return WritePng(path, sheet, why);
        }) != 0)
        return 1;
    if (!o.quiet) {
        Say("%s: %d frames of %.3f s of \"%s\" in %d x %d cells of %d x %d", o.out.c_str(),
            o.frames, duration,
            character->ClipNames().empty() ? "(rest pose)" : character->ClipNames()[0].c_str(),
            columns, rows, o.width, o.height);
    }
    if (!o.gif.empty()) {
        std::vector<Image> frames;
        for (double t : gifTimes)
            frames.push_back(render(t));
        // The frames play at the clip's own speed, within what GIF delays can say.
        const double perFrame = duration > 0 ? duration / double(o.gifFrames) : 0.1;
        const int delay = std::clamp(int(std::lround(perFrame * 100)), 2, 1000);
        if (WriteOutput("render", o.gif, inputs, [&](const std::string& path, std::string* why) {
                return WriteGif(path, frames, delay, why);
            }) != 0)
            return 1;
        if (!o.quiet)
            Say("%s: %d frames of %d x %d, %d ms each", o.gif.c_str(), o.gifFrames, o.width,
                o.height, delay * 10);
    }
    if (!o.quiet)
        Say("drawing: %.2f ms per frame (%d frames, %dx supersampled)",
            drawn ? drawing / drawn * 1e3 : 0.0, drawn, s);
    return LibraryErrorStatus("render");
}

namespace {

struct RenderCommandOptions {
    std::string path, size = "256x256";
    bool ignoreCrc = false;
    RenderOptions render;
};

int RunRender(RenderCommandOptions& o) {
    if (!ParseSize(o.size, &o.render.width, &o.render.height))
        return Fail("render: --size takes WxH, each 16 to 4096, not \"%s\"", o.size.c_str());
    std::string problem;
    if (!CheckContentInput(o.path, o.ignoreCrc, &problem))
        return Fail("render: %s", problem.c_str());
    o.render.input = o.path;
    ForgetLibraryReason();
    orvane_file* file = OrvaneReadEntireFile(o.path.c_str());
    orvane_file_info* info = file ? OrvaneGetFileInfo(file) : nullptr;
    if (info == nullptr) {
        OrvaneFreeFile(file);
        const std::string reason = LibraryReason();
        return Fail("render: %s: cannot be loaded%s%s", o.path.c_str(), reason.empty() ? "" : ": ",
                    reason.c_str());
    }
    const int status = RenderModel(info, o.render);
    OrvaneFreeFile(file);
    return status;
}

}  // namespace

Command AddRenderCommand(CLI::App& tool) {
    auto options = std::make_shared<RenderCommandOptions>();
    RenderOptions& r = options->render;
    CLI::App* app = tool.add_subcommand(
        "render",
        "Draws frames of a model's clip, posed and skinned, side by side into a PNG contact "
        "sheet (and with --gif an animated GIF), with a small software rasteriser: depth "
        "buffer, Lambert shading, textures, the model framed by its extent over the whole "
        "clip.");
    app->add_option("FILE", options->path, "the content file")->required();
    app->add_option("-o,--output", r.out, "the PNG contact sheet to write (not FILE)")->required();
    app->add_option("--frames", r.frames, "frames in the sheet, spread evenly over the clip")
        ->capture_default_str();
    app->add_option("--size", options->size, "each frame's size in pixels, WxH")
        ->capture_default_str();
    app->add_option("--anim", r.anim, "the clip to play (default: the first one for the model)");
    app->add_option("--model", r.model, "the model's index in the file")->capture_default_str();
    app->add_option("--columns", r.columns, "frames per row of the sheet (0: up to 8)");
    app->add_option("--gif", r.gif, "also write an animated GIF of the clip");
    app->add_option("--gif-frames", r.gifFrames, "frames in the GIF")->capture_default_str();
    app->add_option("--samples", r.samples,
                    "supersampling: each pixel averages samples x samples (1 to 4)")
        ->capture_default_str();
    app->add_flag("--ignore-crc", options->ignoreCrc,
                  "draw a file whose CRC does not match its contents (a damaged file)");
    return {app, [options] { return RunRender(*options); }};
}

}  // namespace orvane_tool
