// `orvane import`: an art-tool scene becomes a content file through liborvane_import.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef ORVANE_HAVE_IMPORTER
#include "orvane/import.h"
#endif

int RunImportCommand(int argc, char** argv);

namespace {

const char kImportUsage[] =
    "usage: orvane import IN [-o OUT] [--tolerance CM] [--codec none|pelma0|pelma1]\n"
    "                     [--textures raw|s3tc] [--axes RIGHT,UP,BACK] [--units-per-meter U]\n"
    "                     [--anim FILE...]\n"
    "  reads IN (glTF, FBX, COLLADA, .X, BVH ...) and writes OUT (default: IN with .ovn);\n"
    "  --axes takes three of x, -x, y, -y, z, -z (e.g. x,z,-y for Z up)\n";

int UsageError(const char* problem) {
    std::fprintf(stderr, "orvane import: %s\n%s", problem, kImportUsage);
    return 1;
}

#ifdef ORVANE_HAVE_IMPORTER
bool ParseAxis(const std::string& text, float out[3]) {
    out[0] = out[1] = out[2] = 0;
    if (text.size() == 1 || (text.size() == 2 && text[0] == '-')) {
        const char c = text.back();
        if (c < 'x' || c > 'z') return false;
        out[c - 'x'] = text[0] == '-' ? -1.0f : 1.0f;
        return true;
    }
    return false;
}

struct Terminal {
    bool bar = isatty(fileno(stderr)) != 0;
    bool open = false;
};

void ShowProgress(const char* step, int done, int total, void* user) {
    auto* t = static_cast<Terminal*>(user);
    if (!t->bar || total <= 0) return;
    const int width = 30, filled = done * width / total;
    std::fprintf(stderr, "\r%-28.28s [%.*s%*s] %d/%d", step, filled,
                 "##############################", width - filled, "", done, total);
    t->open = done < total;
    if (!t->open) std::fprintf(stderr, "\r%*s\r", 80, "");
    std::fflush(stderr);
}

void PrintLine(const char* line, void* user) {
    auto* t = static_cast<Terminal*>(user);
    if (t->open) std::fprintf(stderr, "\r%*s\r", 80, "");
    t->open = false;
    std::printf("%s\n", line);
}
#endif

}  // namespace

int RunImportCommand(int argc, char** argv) {
#ifndef ORVANE_HAVE_IMPORTER
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "orvane import: this tool was built without the importer (assimp)\n");
    return 1;
#else
    orvane_import_options options;
    OrvaneGetDefaultImportOptions(&options);
    const char* in = nullptr;
    std::string out;
    std::vector<const char*> anims;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            std::printf("%s", kImportUsage);
            return 0;
        } else if (a == "-o") {
            const char* v = value();
            if (!v) return UsageError("-o needs a file");
            out = v;
        } else if (a == "--tolerance") {
            const char* v = value();
            char* end = nullptr;
            const double cm = v ? std::strtod(v, &end) : 0;
            if (!v || *end || !(cm > 0) || cm > 1e6) return UsageError("bad --tolerance");
            options.ToleranceCentimeters = float(cm);
        } else if (a == "--codec") {
            const char* v = value();
            if (!v) return UsageError("--codec needs a value");
            if (!std::strcmp(v, "none"))
                options.Codec = OrvaneImportNoCompression;
            else if (!std::strcmp(v, "pelma0"))
                options.Codec = OrvaneImportPelma0;
            else if (!std::strcmp(v, "pelma1"))
                options.Codec = OrvaneImportPelma1;
            else
                return UsageError("bad --codec");
        } else if (a == "--textures") {
            const char* v = value();
            if (!v || (std::strcmp(v, "raw") && std::strcmp(v, "s3tc")))
                return UsageError("bad --textures");
            options.TextureEncoding =
                std::strcmp(v, "s3tc") ? OrvaneImportRawTextures : OrvaneImportS3TCTextures;
        } else if (a == "--axes") {
            const char* v = value();
            if (!v) return UsageError("--axes needs RIGHT,UP,BACK");
            std::string text = v;
            float* axes[3] = {options.Right, options.Up, options.Back};
            size_t start = 0;
            for (int k = 0; k < 3; ++k) {
                const size_t comma = text.find(',', start);
                if ((k < 2) != (comma != std::string::npos) ||
                    !ParseAxis(
                        text.substr(start, comma == std::string::npos ? comma : comma - start),
                        axes[k]))
                    return UsageError("bad --axes");
                start = comma + 1;
            }
        } else if (a == "--units-per-meter") {
            const char* v = value();
            char* end = nullptr;
            const double u = v ? std::strtod(v, &end) : 0;
            if (!v || *end || !(u > 0) || u > 1e9) return UsageError("bad --units-per-meter");
            options.UnitsPerMeter = float(u);
        } else if (a == "--anim") {
            // Every following argument that is not an option is a clip file.
            while (i + 1 < argc && argv[i + 1][0] != '-')
                anims.push_back(argv[++i]);
            if (anims.empty()) return UsageError("--anim needs a file");
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option");
        } else if (!in) {
            in = argv[i];
        } else {
            return UsageError("one IN expected");
        }
    }
    if (!in) return UsageError("IN expected");
    if (out.empty()) {
        out = in;
        const size_t slash = out.rfind('/'), dot = out.rfind('.');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
            out.resize(dot);
        out += ".ovn";
    }
    options.AnimationFileCount = int(anims.size());
    options.AnimationFiles = anims.data();
    Terminal terminal;
    options.Progress = ShowProgress;
    options.Report = PrintLine;
    options.UserData = &terminal;
    orvane_import_summary summary;
    if (!OrvaneImportFile(in, out.c_str(), &options, &summary)) {
        if (terminal.open) std::fprintf(stderr, "\n");
        std::fprintf(stderr, "orvane import: %s\n", summary.Error);
        return 1;
    }
    std::printf("%s -> %s: %d bytes; %.3f s (reading %.3f, fitting %.3f, writing %.3f)\n", in,
                out.c_str(), summary.OutputBytes, summary.TotalSeconds, summary.ReadSeconds,
                summary.FitSeconds, summary.WriteSeconds);
    return 0;
#endif
}
