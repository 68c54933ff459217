// The frame the play, render, bench and demo commands share: one model of a loaded file,
// instantiated, with its clips playing (and blending) through controls; each call to Pose
// samples them, builds the world pose and the skinning matrices, and skins every mesh of the
// model into position/normal buffers the caller can read or draw.
//
// A Character owns everything it allocates through the library (instance, controls, poses,
// mesh bindings, deformers, output buffers); none of it is shared with another Character, so
// distinct Characters may be posed on distinct threads at once. The file info must outlive it.
#ifndef ORVANE_TOOL_FRAME_H
#define ORVANE_TOOL_FRAME_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orvane.h"

namespace orvane_tool {

// A clip to play: an animation of the file chosen by name (empty: the file's first animation
// that has a track group for the model) and the weight it blends with.
struct ClipChoice {
    std::string name;
    float weight = 1.0f;
};

struct CharacterOptions {
    int model = 0;                  // index into the file's models
    std::vector<ClipChoice> clips;  // empty: the first animation for the model, at weight 1
    bool loop = true;               // clips repeat past their end
    // Every clip plays at the speed that fits it into the first clip's duration, so cycles of
    // different lengths (a walk and a jog) blend at the same phase.
    bool samePhase = false;
    // Sampling through the library's accelerated path, which builds a single playing clip
    // straight into the world pose; the world pose stage's time is then part of sampling.
    bool accelerated = false;
    // Each Pose copies the skinned vertices out of the library's interleaved buffer into the
    // meshes' positions and normals (normals made unit length again), after the timed stages.
    // Off, they stay as Create left them: for timing the library's frame alone.
    bool unpackVertices = true;
    // The first texture of each mesh is decoded for drawing (PosedMesh::textureRGBA); off for
    // characters that are never drawn.
    bool textures = true;
};

// Wall-clock seconds spent in each stage of one Pose call.
struct StageTimes {
    double sampling = 0;          // sampling and blending the clips into the local pose
    double worldPose = 0;         // the world pose from the local pose
    double skinningMatrices = 0;  // the skinning matrices of every mesh binding
    double deformation = 0;       // skinning every mesh's vertices
};

// One mesh of the model, as the last Pose call left it. Positions and normals are in the
// model's space (the world pose's root placed by the model's initial placement; root motion is
// measured, see RootMotionDistance, not applied, so the character stays in frame).
struct PosedMesh {
    std::string name;
    int32_t vertexCount = 0;
    std::vector<float> positions;   // vertexCount x 3
    std::vector<float> normals;     // vertexCount x 3, unit length (or zero)
    std::vector<float> uvs;         // vertexCount x 2, or empty when the mesh has none
    std::vector<uint32_t> indices;  // triangle list, every index below vertexCount
    // The first texture of the mesh's first material, as 8-bit RGBA rows from the top; empty
    // when there is none.
    std::vector<uint8_t> textureRGBA;
    int32_t textureWidth = 0, textureHeight = 0;
    bool rigid = false;  // drawn with its bone's world matrix, not skinned per vertex
};

class Character {
public:
    // Null with the reason in *problem when the model index, a clip name or the model's meshes
    // cannot be used.
    static std::unique_ptr<Character> Create(const orvane_file_info* info,
                                             const CharacterOptions& options, std::string* problem);
    ~Character();
    Character(const Character&) = delete;
    Character& operator=(const Character&) = delete;

    // Seconds of the longest clip played (0 when no clip plays: the rest pose).
    double Duration() const;
    // Poses the character at the given time in seconds from the start of the clips; adds each
    // stage's time to *times when given.
    void Pose(double seconds, StageTimes* times = nullptr);

    int MeshCount() const;
    const PosedMesh& Mesh(int index) const;
    int BoneCount() const;
    // The root motion travelled from the start to the last posed time: its length in the
    // file's units, and the vector.
    double RootMotionDistance(float vector[3] = nullptr) const;
    // The names of the clips played, in CharacterOptions order.
    const std::vector<std::string>& ClipNames() const;

private:
    Character();
    struct State;
    std::unique_ptr<State> state_;
};

// The name of the file's first animation with a track group for the model, or empty.
std::string DefaultClip(const orvane_file_info* info, int model);

// The clips the play-like commands' --anim NAME and --blend NAME:WEIGHT options ask for: none
// when both are empty (the Character's default), else the clip (the default clip when anim is
// empty) at weight 1 followed by each blend. False with the reason in *problem for a blend
// that is not NAME:WEIGHT with a finite weight of 0 or more, or when there is no clip to blend
// with; the names themselves are checked when the Character is created.
bool ChooseClips(const orvane_file_info* info, int model, const std::string& anim,
                 const std::vector<std::string>& blends, std::vector<ClipChoice>* clips,
                 std::string* problem);

// Routes the library's allocations through a counter (over the installed allocator), from the
// next allocation on; call before the work to be counted. Safe to call more than once.
void CountLibraryAllocations();
// Allocations the library made since CountLibraryAllocations, over all threads.
uint64_t LibraryAllocationCount();

}  // namespace orvane_tool

#endif  // ORVANE_TOOL_FRAME_H
