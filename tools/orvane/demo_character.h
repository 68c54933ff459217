// The demo character of the main job, built from code with the library's builders only: a
// skeleton of 23 bones (root, pelvis, a spine of three, neck, head, clavicle, upper arm,
// forearm and hand per side, thigh, calf, foot and toe per side), a skinned mesh of tapered
// rounded segments, one per limb part, with smooth weights of up to four bones, normals,
// texture coordinates and a small generated texture, a model binding mesh and skeleton, and
// two looping clips of analytic motion ("Walk" with root motion, "Wave" in place) sampled per
// frame and compressed by the animation compressor within a stated object-space error.
//
// Lengths are in metres, Y up, the figure faces +Z with its left side on +X.
#ifndef ORVANE_TOOL_DEMO_CHARACTER_H
#define ORVANE_TOOL_DEMO_CHARACTER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orvane.h"

namespace orvane_tool {

// What the compressor made of one clip.
struct DemoClipReport {
    std::string name;
    float duration = 0;  // seconds
    int32_t frames = 0;  // samples fitted, both ends included
    float maxError = 0;  // largest object-space error met, metres
    int32_t maxErrorBone = -1;
    int32_t curveBytes = 0;   // encoded curve data
    int32_t groupBytes = 0;   // the whole track group block
    int32_t sampleBytes = 0;  // the samples as floats: position and orientation per bone and frame
    int32_t exactComponents = 0;
};

class DemoCharacter {
public:
    // The object-space error the clips are compressed within, and the distance of the
    // measuring points from each bone (metres).
    static constexpr float kErrorBudget = 0.001f;
    static constexpr float kShellDistance = 0.2f;
    static constexpr float kFramesPerSecond = 30.0f;

    // Builds everything; null with the reason in *problem when a builder fails.
    static std::unique_ptr<DemoCharacter> Build(std::string* problem);
    ~DemoCharacter();
    DemoCharacter(const DemoCharacter&) = delete;
    DemoCharacter& operator=(const DemoCharacter&) = delete;

    // The root of the content; it points into this object.
    orvane_file_info* info() { return &info_; }
    const std::vector<DemoClipReport>& clips() const { return reports_; }
    const orvane_skeleton* skeleton() const { return skeleton_; }
    int32_t vertexCount() const;
    int32_t triangleCount() const;

    // Writes the content with every section in `compression` at `level`, vertices and indices
    // in their own sections and the texture in the texture section. False (with the library's
    // messages logged) when a step fails; a failed write leaves no file behind.
    bool Write(const char* path, int32_t compression, int32_t level);

private:
    DemoCharacter();
    struct Parts;
    std::unique_ptr<Parts> parts_;
    orvane_skeleton* skeleton_ = nullptr;
    std::vector<DemoClipReport> reports_;
    orvane_file_info info_{};
};

}  // namespace orvane_tool

#endif  // ORVANE_TOOL_DEMO_CHARACTER_H
