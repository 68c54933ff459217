// orvane bench: the frame of play measured for many instances of a model at once, spread over
// threads (each thread poses characters of its own), and how characters per second scale
// from one thread to the number asked for.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "frame.h"
#include "tool.h"

namespace orvane_tool {

namespace {

struct BenchOptions {
    std::string path, anim;
    std::vector<std::string> blends;
    int model = 0, instances = 16, threads = 2, frames = 120;
    double fps = 60.0;
    bool ignoreCrc = false;
};

// What one more posed character holds in memory, from the first one made: the tool's copies
// of its meshes (positions, normals, texture coordinates, indices), the library's skinned
// vertices and matrices, and the timings kept for every frame it is posed.
int64_t CharacterBytes(const Character& character, int frames) {
    int64_t bytes = 4096 + int64_t(character.BoneCount()) * 256;
    for (int m = 0; m < character.MeshCount(); ++m) {
        const PosedMesh& mesh = character.Mesh(m);
        bytes += int64_t(mesh.vertexCount) * (3 + 3 + 2 + 6) * 4 +
                 int64_t(mesh.indices.size()) * 4 + int64_t(mesh.textureRGBA.size());
    }
    return bytes + int64_t(frames) * 4 * int64_t(sizeof(double));
}

// The memory the machine has, or 0 when it cannot be told.
int64_t MachineBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? int64_t(pages) * size : 0;
}

double ThreadCpuNow() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Run {
    double seconds = 0;             // wall clock of the whole run
    double busiestCpu = 0;          // CPU seconds of the busiest thread
    std::vector<double> stages[4];  // per posed character, over all threads
};

// Poses every character `frames` times, characters split into `threads` contiguous groups,
// one per thread. Each thread writes only its own characters and its own timing lists.
Run Measure(std::vector<std::unique_ptr<Character>>& characters, int threads, int frames,
            double fps, double startTime) {
    const size_t n = characters.size();
    std::vector<std::vector<double>> stages(size_t(threads) * 4);
    std::vector<double> cpu(size_t(threads), 0.0);
    for (auto& s : stages)
        s.reserve(n / size_t(threads) * size_t(frames) + size_t(frames));
    auto work = [&](int thread) {
        const size_t begin = n * size_t(thread) / size_t(threads);
        const size_t end = n * size_t(thread + 1) / size_t(threads);
        const double cpuStart = ThreadCpuNow();
        for (int f = 0; f < frames; ++f) {
            const double t = startTime + double(f) / fps;
            for (size_t c = begin; c < end; ++c) {
                StageTimes times;
                // Instances a little apart in time, as a crowd would be.
                characters[c]->Pose(t + 0.01 * double(c), &times);
                stages[size_t(thread) * 4 + 0].push_back(times.sampling);
                stages[size_t(thread) * 4 + 1].push_back(times.worldPose);
                stages[size_t(thread) * 4 + 2].push_back(times.skinningMatrices);
                stages[size_t(thread) * 4 + 3].push_back(times.deformation);
            }
        }
        cpu[size_t(thread)] = ThreadCpuNow() - cpuStart;
    };
    Run run;
    const double start = Now();
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(work, t);
    work(0);
    for (std::thread& t : pool)
        t.join();
    run.seconds = Now() - start;
    run.busiestCpu = *std::max_element(cpu.begin(), cpu.end());
    for (int t = 0; t < threads; ++t)
        for (int s = 0; s < 4; ++s) {
            auto& from = stages[size_t(t) * 4 + size_t(s)];
            run.stages[s].insert(run.stages[s].end(), from.begin(), from.end());
        }
    return run;
}

int RunBench(const BenchOptions& o) {
    if (o.instances < 1 || o.instances > 100000)
        return Fail("bench: --instances must be 1 to 100000");
    if (o.threads < 1 || o.threads > 256) return Fail("bench: --threads must be 1 to 256");
    if (o.frames < 1 || o.frames > 1000000) return Fail("bench: --frames must be 1 to 1000000");
    if (!(o.fps > 0) || !std::isfinite(o.fps)) return Fail("bench: --fps must be above 0");

    std::string problem;
    if (!CheckContentInput(o.path, o.ignoreCrc, &problem))
        return Fail("bench: %s", problem.c_str());
    ForgetLibraryReason();
    orvane_file* file = OrvaneReadEntireFile(o.path.c_str());
    orvane_file_info* info = file ? OrvaneGetFileInfo(file) : nullptr;
    if (info == nullptr) {
        OrvaneFreeFile(file);
        const std::string reason = LibraryReason();
        return Fail("bench: %s: cannot be loaded%s%s", o.path.c_str(), reason.empty() ? "" : ": ",
                    reason.c_str());
    }
    CharacterOptions options;
    options.model = o.model;
    options.unpackVertices = false;
    // Bench never draws: the texture, read-only, is left in the file for every instance
    // instead of being decoded into a copy per instance.
    options.textures = false;
    std::string unusable;
    if (!ChooseClips(info, o.model, o.anim, o.blends, &options.clips, &unusable)) {
        OrvaneFreeFile(file);
        return Fail("bench: %s", unusable.c_str());
    }

    int status = 0;
    {
        Progress progress("bench");
        progress.Step("instantiating");
        std::vector<std::unique_ptr<Character>> characters;
        for (int i = 0; i < o.instances; ++i) {
            characters.push_back(Character::Create(info, options, &problem));
            if (!characters.back()) {
                characters.clear();
                OrvaneFreeFile(file);
                return Fail("bench: %s", problem.c_str());
            }
            // The memory of all the instances, bounded once the first shows what one holds
            // and before the others are made.
            const int64_t each = CharacterBytes(*characters[0], o.frames);
            const int64_t machine = MachineBytes();
            if (i == 0 && machine > 0 && each * o.instances > machine / 2) {
                characters.clear();
                OrvaneFreeFile(file);
                return Fail(
                    "bench: %d instances of model %d would take about %lld MB, more than half "
                    "of this machine's memory; ask for at most %lld",
                    o.instances, o.model, static_cast<long long>(each * o.instances >> 20),
                    static_cast<long long>(std::max<int64_t>(1, machine / 2 / each)));
            }
        }
        int64_t vertices = 0;
        for (int m = 0; m < characters[0]->MeshCount(); ++m)
            vertices += characters[0]->Mesh(m).vertexCount;
        std::printf("%s: %d instances of model %d (%d bones, %lld vertices), %d frames each\n",
                    o.path.c_str(), o.instances, o.model, characters[0]->BoneCount(),
                    static_cast<long long>(vertices), o.frames);
        // One untimed pass: caches and first-use set-up.
        Measure(characters, 1, 1, o.fps, 0.0);

        std::printf("%-8s %14s %8s %14s %8s %10s %10s %10s %10s\n", "threads", "characters/s",
                    "scaling", "per CPU-busy s", "scaling", "sampling", "world", "matrices",
                    "deform");
        double one = 0, oneCpu = 0;
        for (int threads = 1; threads <= o.threads; ++threads) {
            progress.Step("measuring");
            const Run run = Measure(characters, threads, o.frames, o.fps, 1.0 / o.fps);
            const double poses = double(o.instances) * double(o.frames);
            const double rate = poses / run.seconds;
            const double cpuRate = poses / std::max(run.busiestCpu, 1e-9);
            if (threads == 1) one = rate, oneCpu = cpuRate;
            std::printf("%-8d %14.0f %7.2fx %14.0f %7.2fx %8.2fus %8.2fus %8.2fus %8.2fus\n",
                        threads, rate, rate / one, cpuRate, cpuRate / oneCpu,
                        Median(run.stages[0]) * 1e6, Median(run.stages[1]) * 1e6,
                        Median(run.stages[2]) * 1e6, Median(run.stages[3]) * 1e6);
        }
        // On a machine shared with other work the wall-clock rate tells how much of the
        // processor was free; the rate per CPU-busy second of the slowest thread tells what
        // the threads themselves can do.
        std::printf(
            "(stages: medians per character frame; per CPU-busy s: poses over the busiest "
            "thread's CPU time; %u hardware threads)\n",
            std::thread::hardware_concurrency());
    }
    OrvaneFreeFile(file);
    if (LibraryErrorStatus("bench") != 0) status = 1;
    return status;
}

}  // namespace

Command AddBenchCommand(CLI::App& tool) {
    auto options = std::make_shared<BenchOptions>();
    CLI::App* app = tool.add_subcommand(
        "bench",
        "Times the frame of 'play' for many instances of a model spread over threads (distinct "
        "instances on each): per-stage medians, characters per second and the scaling from 1 to "
        "T threads.");
    app->add_option("FILE", options->path, "the content file")->required();
    app->add_option("--model", options->model, "the model's index in the file")
        ->capture_default_str();
    app->add_option("--anim", options->anim, "the clip to play (default: the first one)");
    app->add_option("--blend", options->blends, "another clip blended in, as NAME:WEIGHT")
        ->allow_extra_args(false)
        ->default_str("");
    app->add_option("--instances", options->instances,
                    "characters posed each frame (1 to 100000, as memory allows)")
        ->capture_default_str();
    app->add_option("--threads", options->threads, "the most threads to measure with")
        ->capture_default_str();
    app->add_option("--frames", options->frames, "frames per measurement")->capture_default_str();
    app->add_flag("--ignore-crc", options->ignoreCrc,
                  "time a file whose CRC does not match its contents (a damaged file)");
    return {app, [options] { return RunBench(*options); }};
}

}  // namespace orvane_tool
