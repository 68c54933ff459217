// orvane play: a model of a file posed frame after frame through the shared frame, with the
// time of each stage, the root motion travelled and the library's allocations per frame.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <CLI/CLI.hpp>

#include "frame.h"
#include "tool.h"

namespace orvane_tool {

namespace {

struct PlayOptions {
    std::string path, anim;
    std::vector<std::string> blends;
    int model = 0;
    double seconds = 2.0, fps = 60.0;
    bool checksum = false, accelerated = false, samePhase = false, list = false, counters = false;
    bool ignoreCrc = false;
};

// A checksum of the skinned vertices that tolerates the last bits of float arithmetic: each
// value is rounded to 1/10,000 of a unit first.
uint32_t PoseChecksum(const Character& character) {
    uint32_t hash = 2166136261u;
    auto mix = [&hash](float value) {
        const long q = std::lround(double(value) * 1e4);
        const auto bits = static_cast<uint64_t>(q);
        for (int b = 0; b < 8; ++b) {
            hash ^= uint32_t((bits >> (8 * b)) & 0xFF);
            hash *= 16777619u;
        }
    };
    for (int m = 0; m < character.MeshCount(); ++m) {
        const PosedMesh& mesh = character.Mesh(m);
        for (float v : mesh.positions)
            mix(v);
        for (float v : mesh.normals)
            mix(v);
    }
    return hash;
}

int RunPlay(const PlayOptions& o) {
    if (!(o.seconds > 0) || !std::isfinite(o.seconds))
        return Fail("play: --seconds must be above 0");
    if (!(o.fps > 0) || !std::isfinite(o.fps) || o.fps > 10000)
        return Fail("play: --fps must be above 0 (at most 10000)");
    const double frameCount = std::ceil(o.seconds * o.fps);
    if (frameCount > 1e7) return Fail("play: --seconds x --fps asks for too many frames");

    std::string problem;
    if (!CheckContentInput(o.path, o.ignoreCrc, &problem)) return Fail("play: %s", problem.c_str());
    CountLibraryAllocations();
    ForgetLibraryReason();
    orvane_file* file = OrvaneReadEntireFile(o.path.c_str());
    orvane_file_info* info = file ? OrvaneGetFileInfo(file) : nullptr;
    if (info == nullptr) {
        OrvaneFreeFile(file);
        const std::string reason = LibraryReason();
        return Fail("play: %s: cannot be loaded%s%s", o.path.c_str(), reason.empty() ? "" : ": ",
                    reason.c_str());
    }
    if (o.list) {
        for (int32_t a = 0; a < info->AnimationCount && info->Animations; ++a)
            if (info->Animations[a] && info->Animations[a]->Name)
                std::printf("%s\n", info->Animations[a]->Name);
        OrvaneFreeFile(file);
        return 0;
    }
    CharacterOptions options;
    options.model = o.model;
    options.accelerated = o.accelerated;
    options.samePhase = o.samePhase;
    // The vertices are read back only for the checksum.
    options.unpackVertices = o.checksum;
    options.textures = false;  // nothing is drawn
    std::string unusable;
    if (!ChooseClips(info, o.model, o.anim, o.blends, &options.clips, &unusable)) {
        OrvaneFreeFile(file);
        return Fail("play: %s", unusable.c_str());
    }

    int status = 0;
    {
        std::unique_ptr<Character> character = Character::Create(info, options, &problem);
        if (!character) {
            OrvaneFreeFile(file);
            return Fail("play: %s", problem.c_str());
        }
        const orvane_model* model = info->Models[o.model];
        int64_t vertices = 0, triangles = 0;
        for (int m = 0; m < character->MeshCount(); ++m) {
            vertices += character->Mesh(m).vertexCount;
            triangles += int64_t(character->Mesh(m).indices.size() / 3);
        }
        std::printf("%s: model %d \"%s\": %d bones, %d meshes, %lld vertices, %lld triangles\n",
                    o.path.c_str(), o.model, model->Name ? model->Name : "", character->BoneCount(),
                    character->MeshCount(), static_cast<long long>(vertices),
                    static_cast<long long>(triangles));
        if (character->ClipNames().empty()) {
            std::printf("clips: none (the rest pose)\n");
        } else {
            std::printf("clips:");
            for (size_t i = 0; i < options.clips.size() || i < character->ClipNames().size(); ++i)
                std::printf(" %s (weight %g)", character->ClipNames()[i].c_str(),
                            options.clips.empty() ? 1.0 : double(options.clips[i].weight));
            std::printf(", %.3f s\n", character->Duration());
        }

        const int frames = int(frameCount);
        std::vector<double> stage[5];
        for (auto& s : stage)
            s.reserve(size_t(frames));
        OrvaneResetCounters();
        const uint64_t beforeFirst = LibraryAllocationCount();
        uint64_t firstFrame = 0, later = 0;
        for (int f = 0; f < frames; ++f) {
            const double t = double(f + 1) / o.fps;
            const uint64_t before = LibraryAllocationCount();
            StageTimes times;
            character->Pose(t, &times);
            const uint64_t made = LibraryAllocationCount() - before;
            if (f == 0)
                firstFrame = LibraryAllocationCount() - beforeFirst;
            else
                later += made;
            stage[0].push_back(times.sampling);
            stage[1].push_back(times.worldPose);
            stage[2].push_back(times.skinningMatrices);
            stage[3].push_back(times.deformation);
            stage[4].push_back(times.sampling + times.worldPose + times.skinningMatrices +
                               times.deformation);
        }
        std::printf("%d frames at %g fps (%.3f s)\n", frames, o.fps, double(frames) / o.fps);
        static const char* const kNames[5] = {"sampling", "world pose", "skinning matrices",
                                              "deformation", "whole frame"};
        std::printf("%-20s %12s %12s\n", "stage (us/frame)", "median", "99th pct");
        for (int s = 0; s < 5; ++s)
            std::printf("%-20s %12.2f %12.2f\n", kNames[s], Percentile(stage[s], 0.5) * 1e6,
                        Percentile(stage[s], 0.99) * 1e6);
        if (o.accelerated) std::printf("(accelerated: the world pose is built while sampling)\n");
        float vector[3];
        const double distance = character->RootMotionDistance(vector);
        std::printf("root motion travelled: %.4f units (%.4f, %.4f, %.4f)\n", distance,
                    double(vector[0]), double(vector[1]), double(vector[2]));
        std::printf("allocations per frame: %.0f (first frame: %llu)\n",
                    frames > 1 ? double(later) / double(frames - 1) : 0.0,
                    static_cast<unsigned long long>(firstFrame));
        if (o.checksum) std::printf("checksum: %08x\n", PoseChecksum(*character));
        if (o.counters) {
            // The library's own timing blocks over the same frames (children included).
            std::printf("%-40s %10s %12s\n", "library timing block", "per frame", "us/frame");
            for (int32_t i = 0; i < OrvaneGetCounterCount(); ++i) {
                orvane_counter_results r{};
                OrvaneGetCounterResults(i, &r);
                if (r.Count <= 0 || r.Name == nullptr) continue;
                std::printf("%-40s %10.2f %12.2f\n", r.Name, double(r.Count) / frames,
                            r.SecondsElapsed * 1e6 / frames);
            }
        }
        if (later != 0) {
            std::fprintf(stderr, "orvane: play: %llu allocations after the first frame\n",
                         static_cast<unsigned long long>(later));
            status = 1;
        }
    }
    OrvaneFreeFile(file);
    if (LibraryErrorStatus("play") != 0) status = 1;
    return status;
}

}  // namespace

Command AddPlayCommand(CLI::App& tool) {
    auto options = std::make_shared<PlayOptions>();
    CLI::App* app = tool.add_subcommand(
        "play",
        "Plays a model's clips (blended through controls) frame after frame: samples, builds "
        "the world pose and the skinning matrices and skins every mesh; prints each stage's "
        "median and 99th percentile per frame, the root motion travelled and the library's "
        "allocations per frame (exit status 1 when it allocates after the first frame).");
    app->add_option("FILE", options->path, "the content file")->required();
    app->add_option("--model", options->model, "the model's index in the file")
        ->capture_default_str();
    app->add_option("--anim", options->anim,
                    "the clip to play at weight 1 (default: the first one for the model)");
    app->add_option("--blend", options->blends,
                    "another clip blended in, as NAME:WEIGHT (repeatable)")
        ->allow_extra_args(false)
        ->default_str("");
    app->add_option("--seconds", options->seconds, "how long to play, in seconds")
        ->capture_default_str();
    app->add_option("--fps", options->fps, "frames per second")->capture_default_str();
    app->add_flag("--same-phase", options->samePhase,
                  "fit every clip to the first one's duration (blends cycles in step)");
    app->add_flag("--accelerated", options->accelerated,
                  "sample through the accelerated path (one clip builds the world pose directly)");
    app->add_flag("--counters", options->counters,
                  "also print the library's timing blocks per frame (calibrating them takes a "
                  "second)");
    app->add_flag("--list", options->list, "list the file's animations by name, one a line");
    app->add_flag("--checksum", options->checksum,
                  "print a checksum of the last frame's skinned vertices");
    app->add_flag("--ignore-crc", options->ignoreCrc,
                  "play a file whose CRC does not match its contents (a damaged file)");
    return {app, [options] { return RunPlay(*options); }};
}

}  // namespace orvane_tool
