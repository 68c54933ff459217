// orvane import: the command's arguments, as CLI11 options with their defaults in --help; the
// import itself runs in the importer's command (import_command.cpp).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "orvane/import.h"
#include "tool.h"

namespace orvane_tool {

namespace {

// One of x, -x, y, -y, z, -z as a unit vector.
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

// RIGHT,UP,BACK into the three axes of the options.
bool ParseAxes(const std::string& text, ImportArguments* arguments) {
    float* axes[3] = {arguments->right, arguments->up, arguments->back};
    size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        const size_t comma = text.find(',', start);
        if ((k < 2) != (comma != std::string::npos)) return false;
        const std::string part =
            text.substr(start, comma == std::string::npos ? comma : comma - start);
        if (!ParseAxis(part, axes[k])) return false;
        start = comma + 1;
    }
    return true;
}

// A number above 0 and at most `most`.
CLI::Validator Above0(double most, const char* mostText) {
    return CLI::Validator(
        [most, mostText](std::string& text) {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != 0 || !(value > 0) || value > most)
                return "must be a number above 0 and at most " + std::string(mostText) + ", not " +
                       text;
            return std::string();
        },
        "");
}

}  // namespace

Command AddImportCommand(CLI::App& tool) {
    auto arguments = std::make_shared<ImportArguments>();
    orvane_import_options defaults;
    OrvaneGetDefaultImportOptions(&defaults);
    arguments->toleranceCentimeters = double(defaults.ToleranceCentimeters);
    arguments->codec = defaults.Codec == OrvaneImportNoCompression ? "none"
                       : defaults.Codec == OrvaneImportPelma0      ? "pelma0"
                                                                   : "pelma1";
    arguments->textures = defaults.TextureEncoding == OrvaneImportS3TCTextures ? "s3tc" : "raw";
    CLI::App* app = tool.add_subcommand(
        "import",
        "Imports an art-tool scene (glTF, FBX, COLLADA, .X, BVH ...) into a content file: its "
        "skeleton, meshes, materials and textures, and its clips with every key at its time: "
        "sampled on their keys' frame grid and compressed within the tolerance (checked between "
        "samples too), or kept as keys (glTF step and cubic channels, keys off any grid).");
    app->add_option("IN", arguments->in, "the scene to read")->required();
    app->add_option("-o,--output", arguments->out,
                    "the content file to write (default: IN with the extension .ovn)");
    app->add_option("--tolerance", arguments->toleranceCentimeters,
                    "the largest error allowed in the animation, in centimetres of object space, "
                    "measured at every joint and at each bone's farthest vertex (above 0, at "
                    "most 1000000)")
        ->type_name("CM")
        ->capture_default_str()
        ->check(Above0(1e6, "1000000"));
    app->add_option("--codec", arguments->codec, "the codec of the file's sections")
        ->capture_default_str()
        ->check(CLI::IsMember({"none", "pelma0", "pelma1"}));
    app->add_option("--textures", arguments->textures,
                    "how textures are stored: raw (RGBA, 8 bits a channel) or s3tc (DXT)")
        ->capture_default_str()
        ->check(CLI::IsMember({"raw", "s3tc"}));
    app->add_option("--axes", arguments->axes,
                    "the axes to write, as RIGHT,UP,BACK, each one of x, -x, y, -y, z, -z (e.g. "
                    "x,z,-y for Z up; default: the scene's own)")
        ->type_name("R,U,B")
        ->check([](const std::string& text) {
            ImportArguments parsed;
            return ParseAxes(text, &parsed) ? std::string()
                                            : "takes RIGHT,UP,BACK, each one of x, -x, "
                                              "y, -y, z, -z, not \"" +
                                                  text + "\"";
        });
    app->add_option("--units-per-meter", arguments->unitsPerMeter,
                    "length units per metre in the written file (default: the scene's own)")
        ->type_name("U")
        ->default_str("")
        ->check(Above0(1e9, "1000000000"));
    app->add_option("--source-unit", arguments->sourceUnit,
                    "what one unit of the scene is, for scenes that declare no unit (BVH: "
                    "metres unless told) or a wrong one; nothing is rescaled, the tolerance and "
                    "the written file's unit follow it (default: the scene's own)")
        ->type_name("UNIT")
        ->check(CLI::IsMember({"m", "cm", "mm", "in", "ft"}));
    app->add_option("--root-motion", arguments->rootMotion,
                    "the bone whose travel (horizontal movement and heading) becomes the clips' "
                    "root motion, moving the model instead of the pose (e.g. Hips)")
        ->type_name("BONE");
    app->add_option("--format", arguments->format,
                    "the curve formats of the compressed clips: base (the sixteen formats every "
                    "reader knows) or compact (knots on a uniform grid, each segment with its own "
                    "range and bit depths: smaller, read by this version and later)")
        ->capture_default_str()
        ->check(CLI::IsMember({"base", "compact"}));
    app->add_flag("--keep-going", arguments->keepGoing,
                  "write the file even when a clip's error stays above the tolerance (without "
                  "it the import fails and writes nothing)");
    app->add_option("--anim", arguments->anims,
                    "further scenes whose clips are added, matched to the bones by name "
                    "(repeatable; several files may follow one --anim)")
        ->type_name("FILE")
        ->default_str("");
    return {app, [arguments] {
                if (!arguments->axes.empty() && !ParseAxes(arguments->axes, arguments.get()))
                    return Fail("import: bad --axes");
                return RunImport(*arguments);
            }};
}

}  // namespace orvane_tool
