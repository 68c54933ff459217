// `orvane import`: an art-tool scene becomes a content file through liborvane_import; the
// arguments come parsed from import.cpp.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef ORVANE_HAVE_IMPORTER
#include "orvane/import.h"
#endif
#include "tool.h"

namespace orvane_tool {

#ifdef ORVANE_HAVE_IMPORTER
namespace {

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
    if (CurrentVerbosity() == Verbosity::Quiet) return;
    if (t->open) std::fprintf(stderr, "\r%*s\r", 80, "");
    t->open = false;
    std::printf("%s\n", line);
}

// Units per metre of --source-unit's names; 0 for none (the scene's own).
float SourceUnitsPerMeter(const std::string& unit) {
    if (unit == "m") return 1.0f;
    if (unit == "cm") return 100.0f;
    if (unit == "mm") return 1000.0f;
    if (unit == "in") return float(1 / 0.0254);
    if (unit == "ft") return float(1 / 0.3048);
    return 0.0f;
}

}  // namespace
#endif

int RunImport(const ImportArguments& a) {
#ifndef ORVANE_HAVE_IMPORTER
    (void)a;
    return Fail("import: this tool was built without the importer (assimp)");
#else
    std::string problem;
    if (!CheckInput(a.in, &problem)) return Fail("import: %s", problem.c_str());
    for (const std::string& anim : a.anims)
        if (!CheckInput(anim, &problem)) return Fail("import: %s", problem.c_str());
    orvane_import_options options;
    OrvaneGetDefaultImportOptions(&options);
    options.ToleranceCentimeters = float(a.toleranceCentimeters);
    options.Codec = a.codec == "none"     ? OrvaneImportNoCompression
                    : a.codec == "pelma0" ? OrvaneImportPelma0
                                          : OrvaneImportPelma1;
    options.TextureEncoding =
        a.textures == "s3tc" ? OrvaneImportS3TCTextures : OrvaneImportRawTextures;
    options.UnitsPerMeter = float(a.unitsPerMeter);
    options.SourceUnitsPerMeter = SourceUnitsPerMeter(a.sourceUnit);
    options.KeepGoing = a.keepGoing;
    options.CompactCurves = a.format == "compact";
    options.RootMotionBone = a.rootMotion.empty() ? nullptr : a.rootMotion.c_str();
    std::memcpy(options.Right, a.right, sizeof options.Right);
    std::memcpy(options.Up, a.up, sizeof options.Up);
    std::memcpy(options.Back, a.back, sizeof options.Back);
    std::string out = a.out;
    if (out.empty()) {
        out = a.in;
        const size_t slash = out.rfind('/'), dot = out.rfind('.');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
            out.resize(dot);
        out += ".ovn";
    }
    // The scene and its clip files are never written over; the file is written whole beside
    // its destination and only then takes its place.
    std::vector<std::string> inputs = a.anims;
    inputs.push_back(a.in);
    OutputFile output;
    if (!output.Open(out, inputs, false, &problem)) return Fail("import: %s", problem.c_str());
    std::vector<const char*> anims;
    for (const std::string& anim : a.anims)
        anims.push_back(anim.c_str());
    options.AnimationFileCount = int(anims.size());
    options.AnimationFiles = anims.data();
    Terminal terminal;
    terminal.bar = terminal.bar && CurrentVerbosity() != Verbosity::Quiet;
    options.Progress = ShowProgress;
    options.Report = PrintLine;
    options.UserData = &terminal;
    orvane_import_summary summary;
    ForgetLibraryReason();
    const bool imported = OrvaneImportFile(a.in.c_str(), output.path().c_str(), &options, &summary);
    if (terminal.open) std::fprintf(stderr, "\n");
    if (!imported) {
        // A failed write names the temporary file; the user knows the destination.
        const bool writing = std::string(summary.Error).find(output.path()) != std::string::npos;
        output.Discard();
        if (writing) {
            const std::string reason = LibraryReason();
            return Fail("import: %s: cannot be written%s%s", out.c_str(),
                        reason.empty() ? "" : ": ", reason.c_str());
        }
        return Fail("import: %s", summary.Error);
    }
    if (!output.Commit(&problem)) return Fail("import: %s", problem.c_str());
    Say("%s -> %s: %d bytes; %.3f s (reading %.3f, fitting %.3f, writing %.3f)", a.in.c_str(),
        out.c_str(), summary.OutputBytes, summary.TotalSeconds, summary.ReadSeconds,
        summary.FitSeconds, summary.WriteSeconds);
    return 0;
#endif
}

}  // namespace orvane_tool
