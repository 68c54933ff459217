// The orvane command-line tool: what its commands share.
//
// Each command lives in a file of its own (info.cpp, verify.cpp, ...) and offers one function,
// Add<Name>Command, which adds its subcommand, with its options and --help text, to the tool's
// CLI11 application and returns the work to run when that subcommand is chosen. main.cpp lists
// the commands in kCommands, in the order --help shows them. A new command is a new file here
// with its Add function declared below and listed in kCommands; tools/CMakeLists.txt globs
// this folder.
//
// The import command plugs in the same way: import.cpp defines AddImportCommand with its
// CLI11 options, and import_command.cpp runs the import they ask for through the importer.
// Both files are compiled, with ORVANE_TOOL_IMPORT defined and liborvane_import linked, only
// when the build has the orvane_import target, so the tool builds without assimp.
//
// What every command keeps to: inputs are checked (CheckInput, ReadHead, CheckContentInput)
// before any work; every file is written through an OutputFile (whole or not at all, never
// over an input); failures print one line naming the file and the reason (Fail) and give exit
// status 1; main turns anything unexpected into such a line.
#ifndef ORVANE_TOOL_H
#define ORVANE_TOOL_H

#include <cstdint>
#include <cstdio>
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
Command AddViewCommand(CLI::App& tool);
Command AddVersionCommand(CLI::App& tool);
#ifdef ORVANE_TOOL_IMPORT
Command AddImportCommand(CLI::App& tool);
// The import command's arguments (import.cpp) and the import they ask for
// (import_command.cpp).
struct ImportArguments {
    std::string in, out, codec, textures, axes, sourceUnit, rootMotion;
    double toleranceCentimeters = 0, unitsPerMeter = 0;
    bool keepGoing = false;
    std::string format = "base";  // the curve formats: base or compact
    float right[3] = {0, 0, 0}, up[3] = {0, 0, 0}, back[3] = {0, 0, 0};
    std::vector<std::string> anims;
};
int RunImport(const ImportArguments& arguments);
#endif

// ---------------------------------------------------------------------------------------------
// Clock and statistics (common.cpp)
// ---------------------------------------------------------------------------------------------

// Seconds on the monotonic clock.
double Now();
// The value at fraction (0 to 1) of the way through the sorted values, the nearest one; 0 when
// there are none.
double Percentile(std::vector<double> values, double fraction);

// ---------------------------------------------------------------------------------------------
// Messages (common.cpp)
// ---------------------------------------------------------------------------------------------

// How much the tool says: --quiet keeps only errors; --verbose adds the library's own log
// lines (with their module and line) to the tool's messages.
enum class Verbosity { Quiet, Normal, Verbose };
void SetVerbosity(Verbosity verbosity);
Verbosity CurrentVerbosity();

// The library's log callback: errors are counted and, like warnings, remembered for the tool's
// own messages; they are printed as they come only with --verbose.
void PrintLibraryMessage(orvane_log_message_type type, orvane_log_message_origin origin,
                         const char* text, void* user);
// Errors the library has logged so far.
int LibraryErrorCount();
// 0 when the library has logged no error; otherwise prints one line ("COMMAND: the library
// reported N errors (the first: ...)") and returns 1.
int LibraryErrorStatus(const char* command);
// While set, the library's warnings are not shown (for look-ups that may warn by design).
void QuietWarnings(bool quiet);
// Why the library's last operation failed, for a message of the tool's own: the operating
// system's reason when a platform call failed, else the text of the first error (without its
// module and line) since ForgetLibraryReason; empty when the library said nothing.
std::string LibraryReason();
// The operating system's reason alone, when a platform call of the library failed.
std::string LibrarySystemReason();
void ForgetLibraryReason();

// Prints "orvane: <message>" on stderr and returns 1, the failure exit status.
int Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Prints "orvane: warning: <message>" on stderr, unless --quiet.
void Warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Prints a line of what was done on stdout, unless --quiet.
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));

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

// The largest file that can be a content file: every offset in one is a 32-bit signed value.
constexpr int64_t kLargestContentFile = 0x7FFFFFFF;

// Checks, before any work, that `path` names a regular file that can be opened for reading
// and, when maxBytes is above 0, is no larger than that; false with "PATH: reason".
bool CheckInput(const std::string& path, std::string* problem, int64_t maxBytes = 0);
// CheckInput for a content file (at most kLargestContentFile bytes), then its CRC: a file
// whose CRC does not match is refused unless ignoreCrc, which lets it through with a warning.
// False with "PATH: reason".
bool CheckContentInput(const std::string& path, bool ignoreCrc, std::string* problem);

// A file's magic record, header and section table, in this machine's byte order.
struct FileHead {
    bool reversed = false;
    std::vector<uint8_t> headerBlock;
    orvane_file_header* header = nullptr;
    orvane_ovn_section* table = nullptr;
};

// Checks the file as CheckInput does, reads its magic value, header and section table and
// checks them; false with a description of the problem.
bool ReadHead(const char* path, FileHead* head, std::string* problem);

// A file the tool writes, written whole or not at all: the work writes path(), a temporary
// file beside the destination, and Commit flushes it to the disk and renames it over the
// destination, so a failure at any point leaves the destination as it was and no partial file
// behind. A destination that is a character device or a FIFO is written into (a copy of the
// finished temporary file, made in the temporary folder), never replaced; a directory or any
// other kind of file is refused. A destination that is the same file as one of the inputs
// (after links are followed) is refused, unless inPlace is set, for the commands that document
// working in place.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False with "DESTINATION: reason" when the destination cannot be written.
    bool Open(const std::string& destination, const std::vector<std::string>& inputs, bool inPlace,
              std::string* problem);
    // The temporary file the work writes.
    const std::string& path() const { return temporary_; }
    // False with "DESTINATION: reason"; the temporary file is gone either way.
    bool Commit(std::string* problem);
    // Removes the temporary file (also done by the destructor when Commit was not reached).
    void Discard();

private:
    std::string destination_, name_, temporary_;  // name_: the destination as the user gave it
    bool intoDevice_ = false;
    unsigned mode_ = 0;
};

// The work of a command that reads the content file `in` and writes `out`: checks the input
// (CheckContentInput), prepares the output (OutputFile: an input is refused as the output
// unless inPlace), runs write(temporary path) and puts the result in place. On any failure
// prints one line ("COMMAND: FILE: reason") and returns 1, leaving `out` as it was; 0 on
// success. `failure` says what could not be done to `in` ("cannot be recompressed").
int WriteContent(const char* command, const std::string& in, const std::string& out, bool inPlace,
                 bool ignoreCrc, const std::function<bool(const char*)>& write,
                 const char* failure);

// Writes a file that is not a content file (a picture) through an OutputFile: write(temporary
// path, problem) makes it; `inputs` may not be the destination. On failure prints one line
// ("COMMAND: OUT: cannot be written: reason") and returns 1, leaving `out` as it was.
int WriteOutput(const char* command, const std::string& out, const std::vector<std::string>& inputs,
                const std::function<bool(const std::string&, std::string*)>& write);

// The operating system's text for an errno value.
std::string SystemReason(int error);

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
    std::string input;  // the content file drawn, which no picture may replace
};
// render.cpp: draws a model of a loaded file as RenderOptions ask; the exit status.
int RenderModel(const orvane_file_info* info, const RenderOptions& options);
// tree.cpp: dumps an object through its type description, to maxDepth levels.
void DumpObject(const orvane_data_type_definition* type, const uint8_t* object, int depth,
                int maxDepth);

}  // namespace orvane_tool

#endif  // ORVANE_TOOL_H
