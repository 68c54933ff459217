// The tool's frame: a model of a loaded file posed and skinned through the library, one
// Character per model instance. Everything the per-frame path touches is allocated in Create,
// so that Pose allocates nothing (play counts that and prints it).
#include "frame.h"
#include "tool.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace orvane_tool {

namespace {

// Floats on a 64-byte boundary: the accelerated deformers want their matrices, sources and
// destinations on at least 16.
class AlignedFloats {
public:
    AlignedFloats() = default;
    explicit AlignedFloats(size_t count) { Resize(count); }
    ~AlignedFloats() { std::free(data_); }
    AlignedFloats(const AlignedFloats&) = delete;
    AlignedFloats& operator=(const AlignedFloats&) = delete;
    AlignedFloats(AlignedFloats&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), count_(std::exchange(other.count_, 0)) {}
    AlignedFloats& operator=(AlignedFloats&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(count_, other.count_);
        return *this;
    }
    void Resize(size_t count) {
        std::free(data_);
        const size_t bytes = ((count * sizeof(float) + 63) / 64) * 64;
        data_ = static_cast<float*>(std::aligned_alloc(64, bytes == 0 ? 64 : bytes));
        if (data_ == nullptr) throw std::bad_alloc();
        std::memset(data_, 0, bytes == 0 ? 64 : bytes);
        count_ = count;
    }
    float* data() { return data_; }
    const float* data() const { return data_; }
    size_t size() const { return count_; }

private:
    float* data_ = nullptr;
    size_t count_ = 0;
};

void Identity4x4(float m[16]) {
    static const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::memcpy(m, kIdentity, sizeof(kIdentity));
}

// The standard layout with the same bone count as a vertex type, which a deformer into
// OrvanePN33VertexType always exists for.
const orvane_data_type_definition* StandardLayoutFor(const orvane_data_type_definition* type) {
    const int32_t bones = OrvaneGetVertexBoneCount(type);
    if (bones <= 0) return OrvanePN33VertexType;
    if (bones == 1) return OrvanePWN313VertexType;
    if (bones == 2) return OrvanePWN323VertexType;
    return OrvanePWN343VertexType;
}

const orvane_texture* FirstTexture(const orvane_mesh& mesh) {
    if (mesh.MaterialBindingCount <= 0 || mesh.MaterialBindings == nullptr) return nullptr;
    const orvane_material* material = mesh.MaterialBindings[0].Material;
    if (material == nullptr) return nullptr;
    if (material->Texture) return material->Texture;
    if (material->Maps == nullptr) return nullptr;
    for (int32_t i = 0; i < material->MapCount; ++i) {
        const orvane_material* map = material->Maps[i].Map;
        if (map && map->Texture) return map->Texture;
    }
    return nullptr;
}

std::atomic<uint64_t> g_allocations{0};
orvane_allocate_callback g_allocate = nullptr;
orvane_deallocate_callback g_deallocate = nullptr;

void* CountedAllocate(const char* file, orvane_int32 line, orvane_uint32 alignment,
                      orvane_int32 size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return g_allocate(file, line, alignment, size);
}

void CountedDeallocate(const char* file, orvane_int32 line, void* memory) {
    g_deallocate(file, line, memory);
}

}  // namespace

void CountLibraryAllocations() {
    orvane_allocate_callback allocate = nullptr;
    orvane_deallocate_callback deallocate = nullptr;
    OrvaneGetAllocator(&allocate, &deallocate);
    if (allocate == CountedAllocate) return;
    // Blocks taken before stay valid: the counting pair hands every request to the pair that
    // was installed.
    g_allocate = allocate;
    g_deallocate = deallocate;
    OrvaneSetAllocator(CountedAllocate, CountedDeallocate);
}

uint64_t LibraryAllocationCount() {
    return g_allocations.load(std::memory_order_relaxed);
}

std::string DefaultClip(const orvane_file_info* info, int model) {
    if (info == nullptr || model < 0 || model >= info->ModelCount || info->Models == nullptr ||
        info->Models[model] == nullptr || info->Animations == nullptr)
        return {};
    // A track group named as the model first; else the first animation with a track group.
    for (int pass = 0; pass < 2; ++pass)
        for (int32_t a = 0; a < info->AnimationCount; ++a) {
            const orvane_animation* animation = info->Animations[a];
            if (animation == nullptr || animation->Name == nullptr) continue;
            int32_t group = 0;
            if (pass == 0 ? OrvaneFindTrackGroupForModel(animation, info->Models[model]->Name,
                                                         &group) != 0
                          : animation->TrackGroupCount > 0 && animation->TrackGroups != nullptr)
                return animation->Name;
        }
    return {};
}

bool ChooseClips(const orvane_file_info* info, int model, const std::string& anim,
                 const std::vector<std::string>& blends, std::vector<ClipChoice>* clips,
                 std::string* problem) {
    clips->clear();
    if (anim.empty() && blends.empty()) return true;
    const std::string first = anim.empty() ? DefaultClip(info, model) : anim;
    if (first.empty()) {
        *problem =
            "the file has no animation for model " + std::to_string(model) + " to blend with";
        return false;
    }
    clips->push_back({first, 1.0f});
    for (const std::string& text : blends) {
        const size_t colon = text.rfind(':');
        const std::string number = colon == std::string::npos ? "" : text.substr(colon + 1);
        char* end = nullptr;
        const float weight = std::strtof(number.c_str(), &end);
        if (colon == 0 || number.empty() || *end != '\0' || !std::isfinite(weight) ||
            weight < 0.0f) {
            *problem = "--blend takes NAME:WEIGHT with a weight of 0 or more, not \"" + text + "\"";
            return false;
        }
        clips->push_back({text.substr(0, colon), weight});
    }
    return true;
}

namespace {

// Plays the animation on the instance: through the track group named as the model when there
// is one, else through its first track group (importers name groups after the clip).
orvane_control* PlayOn(const orvane_animation* animation, orvane_model_instance* instance) {
    const orvane_model* model = OrvaneGetSourceModel(instance);
    int32_t group = 0;
    if (OrvaneFindTrackGroupForModel(animation, model->Name, &group))
        return OrvanePlayControlledAnimation(0.0f, animation, instance);
    if (animation->TrackGroupCount <= 0 || animation->TrackGroups == nullptr ||
        animation->TrackGroups[0] == nullptr)
        return nullptr;
    orvane_controlled_animation_builder* builder = OrvaneBeginControlledAnimation(0.0f, animation);
    if (builder == nullptr) return nullptr;
    OrvaneSetTrackGroupTarget(builder, 0, instance);
    return OrvaneEndControlledAnimation(builder);
}

}  // namespace

// One mesh of the model as the frame deforms it.
struct MeshState {
    orvane_mesh_binding* binding = nullptr;
    orvane_mesh_deformer* deformer = nullptr;
    int32_t boneCount = 0;         // binding bones, the skinning matrices' count
    const void* source = nullptr;  // the vertices the deformer reads
    AlignedFloats converted;       // the mesh's vertices in a standard layout, when needed
    AlignedFloats matrices;        // max(1, boneCount) x 16
    AlignedFloats deformed;        // vertexCount x 6, position then normal
};

struct Character::State {
    const orvane_file_info* info = nullptr;
    const orvane_model* model = nullptr;
    const orvane_skeleton* skeleton = nullptr;
    orvane_model_instance* instance = nullptr;
    std::vector<orvane_control*> controls;
    std::vector<std::string> clipNames;
    double duration = 0;
    bool accelerated = false;
    bool unpackVertices = true;
    bool textures = true;
    orvane_local_pose* local = nullptr;
    orvane_world_pose* world = nullptr;
    float offset[16];  // the model's placement, the world pose's root matrix
    std::vector<MeshState> meshStates;
    std::vector<PosedMesh> meshes;
    // Root motion from the start of the clips to lastSeconds, as a rigid matrix.
    float motion[16];
    double lastSeconds = 0;

    ~State() {
        for (MeshState& m : meshStates) {
            OrvaneFreeMeshDeformer(m.deformer);
            OrvaneFreeMeshBinding(m.binding);
        }
        OrvaneFreeWorldPose(world);
        OrvaneFreeLocalPose(local);
        // A control frees its bindings with it; the instance has none left then.
        for (orvane_control* c : controls)
            OrvaneFreeControl(c);
        OrvaneFreeModelInstance(instance);
    }

    bool AddMesh(const orvane_mesh* mesh, int index, std::string* problem);
    bool PlayClips(const CharacterOptions& options, std::string* problem);
};

bool Character::State::AddMesh(const orvane_mesh* mesh, int index, std::string* problem) {
    const std::string label = "mesh " + std::to_string(index);
    if (mesh == nullptr || mesh->PrimaryVertexData == nullptr) {
        *problem = label + " of the model has no vertices";
        return false;
    }
    const orvane_vertex_data& data = *mesh->PrimaryVertexData;
    const int32_t count = data.VertexCount;
    if (count < 0 || (count > 0 && data.Vertices == nullptr) || data.VertexType == nullptr) {
        *problem = label + " has damaged vertex data";
        return false;
    }
    meshStates.emplace_back();
    meshes.emplace_back();
    MeshState& state = meshStates.back();
    PosedMesh& posed = meshes.back();
    posed.name = mesh->Name ? mesh->Name : label;
    posed.vertexCount = count;

    // The binding checks the vertices' bone indices against the mesh's bone bindings once,
    // so the deformer can read its matrices unchecked.
    state.binding = OrvaneNewMeshBinding(mesh, skeleton, skeleton);
    if (state.binding == nullptr) {
        *problem = "the mesh \"" + posed.name + "\" cannot be bound to the model's skeleton";
        return false;
    }
    state.boneCount = OrvaneGetMeshBindingBoneCount(state.binding);
    const int32_t vertexBones = OrvaneGetVertexBoneCount(data.VertexType);
    posed.rigid = vertexBones == 0;
    if (!posed.rigid && state.boneCount == 0) {
        *problem = "the mesh \"" + posed.name + "\" has weights but no bone bindings";
        return false;
    }

    state.deformer = OrvaneNewMeshDeformer(data.VertexType, OrvanePN33VertexType,
                                           OrvanePositionNormalDeformation);
    state.source = data.Vertices;
    if (state.deformer == nullptr || (reinterpret_cast<uintptr_t>(data.Vertices) % 16) != 0) {
        // No routine reads this layout (or its vertices sit where the fast routines cannot
        // read them): skin a copy in the standard layout of the same bone count instead.
        OrvaneFreeMeshDeformer(state.deformer);
        const orvane_data_type_definition* standard = StandardLayoutFor(data.VertexType);
        state.deformer =
            OrvaneNewMeshDeformer(standard, OrvanePN33VertexType, OrvanePositionNormalDeformation);
        if (state.deformer == nullptr) {
            *problem = "no deformer skins the mesh \"" + posed.name + "\"";
            return false;
        }
        const size_t bytes = size_t(OrvaneGetTotalObjectSize(standard)) * size_t(count);
        state.converted.Resize((bytes + 3) / 4);
        OrvaneConvertVertexLayouts(count, data.VertexType, data.Vertices, standard,
                                   state.converted.data());
        // More influences than the standard layout holds: the first four are kept, and their
        // weights no longer sum to one.
        if (vertexBones > 4) OrvaneOneNormalizeWeights(count, standard, state.converted.data());
        state.source = state.converted.data();
    }
    state.matrices.Resize(size_t(state.boneCount > 0 ? state.boneCount : 1) * 16);
    Identity4x4(state.matrices.data());
    state.deformed.Resize(size_t(count) * 6);
    posed.positions.assign(size_t(count) * 3, 0.0f);
    posed.normals.assign(size_t(count) * 3, 0.0f);

    // Texture coordinates, read once through the layout conversion.
    if (count > 0 && OrvaneGetVertexComponentIndex("TextureCoordinates0", data.VertexType) >= 0) {
        std::vector<orvane_pt32_vertex> pt(static_cast<size_t>(count));
        OrvaneConvertVertexLayouts(count, data.VertexType, data.Vertices, OrvanePT32VertexType,
                                   pt.data());
        posed.uvs.resize(size_t(count) * 2);
        for (size_t v = 0; v < pt.size(); ++v) {
            posed.uvs[2 * v] = pt[v].TextureCoordinates0[0];
            posed.uvs[2 * v + 1] = pt[v].TextureCoordinates0[1];
        }
    }

    // Indices: a whole number of triangles, each corner a vertex of the mesh.
    const int32_t indexCount = OrvaneGetMeshIndexCount(mesh);
    if (indexCount > 0 && OrvaneGetMeshBytesPerIndex(mesh) != 0) {
        posed.indices.resize(size_t(indexCount));
        OrvaneCopyMeshIndices(mesh, 4, posed.indices.data());
        posed.indices.resize(posed.indices.size() / 3 * 3);
        for (uint32_t i : posed.indices)
            if (i >= uint32_t(count)) {
                *problem = "the mesh \"" + posed.name + "\" has a triangle corner " +
                           std::to_string(i) + " past its " + std::to_string(count) + " vertices";
                return false;
            }
    }

    const orvane_texture* texture = textures ? FirstTexture(*mesh) : nullptr;
    if (texture != nullptr) {
        const int32_t w = texture->Width, h = texture->Height;
        if (w > 0 && h > 0 && int64_t(w) * h <= (int64_t(1) << 26)) {
            posed.textureRGBA.resize(size_t(w) * size_t(h) * 4);
            if (OrvaneCopyTextureImage(texture, 0, 0, OrvaneRGBA8888PixelFormat, w, h, w * 4,
                                       posed.textureRGBA.data())) {
                posed.textureWidth = w;
                posed.textureHeight = h;
            } else {
                posed.textureRGBA.clear();  // drawn untextured
            }
        }
    }
    return true;
}

bool Character::State::PlayClips(const CharacterOptions& options, std::string* problem) {
    std::vector<ClipChoice> clips = options.clips;
    if (clips.empty()) {
        const std::string first = DefaultClip(info, options.model);
        if (!first.empty()) clips.push_back({first, 1.0f});
    }
    for (const ClipChoice& clip : clips) {
        if (!std::isfinite(clip.weight) || clip.weight < 0.0f) {
            *problem = "the weight of \"" + clip.name + "\" must be a number of 0 or more";
            return false;
        }
        const orvane_animation* animation = nullptr;
        for (int32_t a = 0; a < info->AnimationCount && info->Animations; ++a) {
            const orvane_animation* candidate = info->Animations[a];
            if (candidate && candidate->Name && clip.name == candidate->Name) {
                animation = candidate;
                break;
            }
        }
        if (animation == nullptr) {
            *problem = "no animation is named \"" + clip.name + "\"";
            return false;
        }
        if (!(animation->Duration >= 0.0f) || !std::isfinite(animation->Duration)) {
            *problem = "the animation \"" + clip.name + "\" has a damaged duration";
            return false;
        }
        orvane_control* control = PlayOn(animation, instance);
        if (control == nullptr) {
            *problem = "the animation \"" + clip.name + "\" cannot be played on the model \"" +
                       (model->Name ? model->Name : "") + "\"";
            return false;
        }
        controls.push_back(control);
        if (options.loop) OrvaneSetControlLoopCount(control, 0);
        OrvaneSetControlWeight(control, clip.weight);
        clipNames.push_back(clip.name);
        duration = std::max(duration, double(animation->Duration));
    }
    // Locomotion cycles blend at the same phase: every clip takes the first one's duration.
    if (options.samePhase && !controls.empty()) {
        const float first = OrvaneGetControlLocalDuration(controls[0]);
        for (size_t i = 1; i < controls.size(); ++i) {
            const float own = OrvaneGetControlLocalDuration(controls[i]);
            if (first > 0.00001f && own > 0.00001f) OrvaneSetControlSpeed(controls[i], own / first);
        }
        duration = first;
    }
    return true;
}

Character::Character() : state_(std::make_unique<State>()) {}

Character::~Character() = default;

std::unique_ptr<Character> Character::Create(const orvane_file_info* info,
                                             const CharacterOptions& options,
                                             std::string* problem) {
    std::string ignored;
    if (problem == nullptr) problem = &ignored;
    if (info == nullptr) {
        *problem = "no file";
        return nullptr;
    }
    if (options.model < 0 || options.model >= info->ModelCount || info->Models == nullptr ||
        info->Models[options.model] == nullptr) {
        *problem = "model " + std::to_string(options.model) + " is not in the file (it has " +
                   std::to_string(info->ModelCount) +
                   (info->ModelCount == 1 ? " model)" : " models)");
        return nullptr;
    }
    std::unique_ptr<Character> character(new Character());
    State& s = *character->state_;
    s.info = info;
    s.model = info->Models[options.model];
    s.skeleton = s.model->Skeleton;
    s.accelerated = options.accelerated;
    s.unpackVertices = options.unpackVertices;
    s.textures = options.textures;
    if (s.skeleton == nullptr || s.skeleton->BoneCount < 0 ||
        (s.skeleton->BoneCount > 0 && s.skeleton->Bones == nullptr)) {
        *problem = "the model has no usable skeleton";
        return nullptr;
    }
    s.instance = OrvaneInstantiateModel(s.model);
    const int32_t bones = s.skeleton->BoneCount;
    s.local = OrvaneNewLocalPose(bones);
    s.world = OrvaneNewWorldPose(bones);
    if (s.instance == nullptr || s.local == nullptr || s.world == nullptr) {
        *problem = "out of memory";
        return nullptr;
    }
    OrvaneBuildCompositeTransform4x4(&s.model->InitialPlacement, s.offset);
    Identity4x4(s.motion);
    if (!s.PlayClips(options, problem)) return nullptr;
    if (s.model->MeshBindingCount > 0 && s.model->MeshBindings == nullptr) {
        *problem = "the model's mesh list is damaged";
        return nullptr;
    }
    s.meshStates.reserve(size_t(std::max(0, s.model->MeshBindingCount)));
    s.meshes.reserve(s.meshStates.capacity());
    for (int32_t m = 0; m < s.model->MeshBindingCount; ++m)
        if (!s.AddMesh(s.model->MeshBindings[m].Mesh, m, problem)) return nullptr;
    character->Pose(0.0);
    return character;
}

double Character::Duration() const {
    return state_->duration;
}

void Character::Pose(double seconds, StageTimes* times) {
    State& s = *state_;
    const int32_t bones = s.skeleton->BoneCount;
    double t0 = times ? Now() : 0;
    OrvaneSetModelClock(s.instance, float(seconds));

    double t1 = t0;
    if (s.accelerated) {
        // One playing clip is built straight into the world pose (no local pose): sampling
        // and the world pose are one stage then.
        OrvaneSampleModelAnimationsAccelerated(s.instance, bones, s.offset, s.local, s.world);
        if (times) {
            t1 = Now();
            times->sampling += t1 - t0;
        }
    } else {
        OrvaneSampleModelAnimations(s.instance, 0, bones, s.local);
        if (times) {
            t1 = Now();
            times->sampling += t1 - t0;
        }
        // The skinning matrices read world matrices only.
        OrvaneBuildWorldPoseNoComposite(s.skeleton, 0, bones, s.local, s.offset, s.world);
        if (times) {
            const double t2 = Now();
            times->worldPose += t2 - t1;
            t1 = t2;
        }
    }

    for (MeshState& m : s.meshStates)
        if (m.boneCount > 0)
            OrvaneBuildMeshBinding4x4Array(m.binding, s.world, 0, m.boneCount, m.matrices.data());
        else
            std::memcpy(m.matrices.data(), s.offset, sizeof(s.offset));
    double t2 = t1;
    if (times) {
        t2 = Now();
        times->skinningMatrices += t2 - t1;
    }

    for (size_t i = 0; i < s.meshStates.size(); ++i) {
        MeshState& m = s.meshStates[i];
        PosedMesh& posed = s.meshes[i];
        OrvaneDeformVertices(m.deformer, nullptr, m.matrices.data(), posed.vertexCount, m.source,
                             m.deformed.data());
    }
    if (times) times->deformation += Now() - t2;

    for (size_t i = 0; i < s.meshStates.size() && s.unpackVertices; ++i) {
        const MeshState& m = s.meshStates[i];
        PosedMesh& posed = s.meshes[i];
        const float* d = m.deformed.data();
        float* p = posed.positions.data();
        float* n = posed.normals.data();
        // Blended matrices shorten normals (and scaled bones stretch them): unit length again.
        for (int32_t v = 0; v < posed.vertexCount; ++v, d += 6, p += 3, n += 3) {
            p[0] = d[0], p[1] = d[1], p[2] = d[2];
            const float length2 = d[3] * d[3] + d[4] * d[4] + d[5] * d[5];
            const float scale = length2 > 1e-20f ? 1.0f / std::sqrt(length2) : 0.0f;
            n[0] = d[3] * scale, n[1] = d[4] * scale, n[2] = d[5] * scale;
        }
    }

    // Root motion over the time since the last pose; a step back starts the count again.
    double elapsed = seconds - s.lastSeconds;
    if (elapsed < 0) {
        Identity4x4(s.motion);
        elapsed = seconds;
    }
    if (elapsed > 0) {
        float translation[3], rotation[3];
        OrvaneGetRootMotionVectors(s.instance, float(elapsed), translation, rotation, false);
        OrvaneApplyRootMotionVectorsToMatrix(s.motion, translation, rotation, s.motion);
    }
    s.lastSeconds = seconds;
}

int Character::MeshCount() const {
    return int(state_->meshes.size());
}

const PosedMesh& Character::Mesh(int index) const {
    return state_->meshes.at(size_t(index));
}

int Character::BoneCount() const {
    return state_->skeleton->BoneCount;
}

double Character::RootMotionDistance(float vector[3]) const {
    const float* t = &state_->motion[12];
    if (vector) vector[0] = t[0], vector[1] = t[1], vector[2] = t[2];
    return std::sqrt(double(t[0]) * t[0] + double(t[1]) * t[1] + double(t[2]) * t[2]);
}

const std::vector<std::string>& Character::ClipNames() const {
    return state_->clipNames;
}

}  // namespace orvane_tool
