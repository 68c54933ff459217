// The orvane command-line tool: what its commands share.
//
// Each command lives in a file of its own (info.cpp, verify.cpp, ...) and offers one function,
// Add<Name>Command, which adds its subcommand, with its options and --help text, to the tool's
// CLI11 application and returns the work to run when that subcommand is chosen. main.cpp lists
// the commands in kCommands, in the order --help shows them. A new command is a new file here
// with its Add function declared below and listed in kCommands; tools/CMakeLists.txt globs
// this folder.
//
// The import command plugs in the same way: import.cpp defines AddImportCommand, which for now
// hands its arguments unread to the importer's own RunImportCommand (import_command.cpp); moving
// that parsing into CLI11 options there gives it the same --help as the others. Both files are
// compiled, with ORVANE_TOOL_IMPORT defined and liborvane_import linked, only when the build has
// the orvane_import target, so the tool builds without assimp.
#ifndef ORVANE_TOOL_H
#define ORVANE_TOOL_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "orvane.h"

namespace CLI {
class App;
}

namespace orvane_tool {

// A command as main.cpp sees it: its subcommand and what it does once its arguments are parsed
// (returning the exit status: 0 on success, 1 on any failure).
struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

Command AddInfoCommand(CLI::App& tool);
Command AddVerifyCommand(CLI::App& tool);
Command AddRecompressCommand(CLI::App& tool);
Command AddConvertCommand(CLI::App& tool);
Command AddRawCommand(CLI::App& tool);
Command AddDemoCommand(CLI::App& tool);
Command AddPlayCommand(CLI::App& tool);
Command AddBenchCommand(CLI::App& tool);
Command AddRenderCommand(CLI::App& tool);
Command AddVersionCommand(CLI::App& tool);
#ifdef ORVANE_TOOL_IMPORT
Command AddImportCommand(CLI::App& tool);
#endif

// ---------------------------------------------------------------------------------------------
// Messages (common.cpp)
// ---------------------------------------------------------------------------------------------

// The library's log callback: errors and warnings go to stderr; errors are counted.
void PrintLibraryMessage(orvane_log_message_type type, orvane_log_message_origin origin,
                         const char* text, void* user);
// Errors the library has logged so far.
int LibraryErrorCount();
// While set, the library's warnings are not shown (for look-ups that may warn by design).
void QuietWarnings(bool quiet);

// Prints "orvane: <message>" on stderr and returns 1, the failure exit status.
int Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A progress line on stderr, shown only on a terminal and only once the work has taken more
// than a second.
class Progress {
public:
    explicit Progress(const char* command);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void Step(const char* what);

private:
    const char* command_;
    double start_;
    bool terminal_;
    bool shown_ = false;
};

// ---------------------------------------------------------------------------------------------
// Content files (common.cpp)
// ---------------------------------------------------------------------------------------------

// A file's bytes with its header and section table in this machine's byte order.
struct FileHead {
    std::vector<uint8_t> bytes;
    bool reversed = false;
    std::vector<uint8_t> headerBlock;
    orvane_file_header* header = nullptr;
    orvane_ovn_section* table = nullptr;
};

// Reads the whole file and checks its magic value, header and section table; false with a
// description of the problem.
bool ReadHead(const char* path, FileHead* head, std::string* problem);

// "none", "pelma0", "pelma1" or "unknown".
const char* CodecName(uint32_t compression);
// "little-endian" or "big-endian": the byte order of a file that is (or is not) reversed
// relative to this machine.
const char* OrderName(bool reversed);
// The catalogue name of a type description when it is a standard one; otherwise a note.
const char* DescribeType(const orvane_data_type_definition* type);

// The names of the compression levels, as the --level options take them.
extern const std::vector<std::string> kLevelNames;
// The level a name of kLevelNames stands for.
int32_t LevelOf(const std::string& name);

// ---------------------------------------------------------------------------------------------
// Shared work of the commands
// ---------------------------------------------------------------------------------------------

struct InfoOptions {
    std::string path;
    bool tree = false;
    int depth = 3;
    bool json = false;
};
// info.cpp: prints what InfoOptions ask for.
int RunInfo(const InfoOptions& options);
// verify.cpp: checks the CRC, loads the file and checks its structure; prints "<path>: OK"
// unless quiet.
int RunVerify(const std::string& path, bool quiet);
// What render.cpp draws: a contact sheet of `frames` frames spread over a model's clip, each
// width x height pixels, `columns` to a row (0: up to 8), written as a PNG to `out`; and, when
// `gif` is not empty, an animated GIF of gifFrames frames of the clip.
struct RenderOptions {
    std::string out, gif, anim;  // anim empty: the model's first clip
    int model = 0;
    int frames = 8, gifFrames = 24, columns = 0;
    int width = 256, height = 256;
    int samples = 2;  // supersampling per axis
    bool quiet = false;
};
// render.cpp: draws a model of a loaded file as RenderOptions ask; the exit status.
int RenderModel(const orvane_file_info* info, const RenderOptions& options);
// tree.cpp: dumps an object through its type description, to maxDepth levels.
void DumpObject(const orvane_data_type_definition* type, const uint8_t* object, int depth,
                int maxDepth);

}  // namespace orvane_tool

#endif  // ORVANE_TOOL_H
