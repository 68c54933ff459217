// The BVH reader of the motion clips (see orvane_motion_clip.h), through assimp; built only
// when assimp is found.
#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/scene.h>

#include <cmath>
#include <vector>

#include "orvane_motion_clip.h"

namespace orvane_workload {

bool CanLoadBvh() {
    return true;
}

bool LoadBvh(const std::string& path, float unitToCm, SampledMotion* motion, std::string* error) {
    auto fail = [error, &path](const std::string& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    Assimp::Importer importer;
    importer.SetPropertyInteger(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, 1);
    const aiScene* scene = importer.ReadFile(path, 0);
    if (scene == nullptr) {
        // assimp's messages mostly name the file already.
        const std::string why = importer.GetErrorString();
        if (error) *error = why.find(path) == std::string::npos ? path + ": " + why : why;
        return false;
    }
    if (scene->mRootNode == nullptr || scene->mNumAnimations != 1 ||
        scene->mAnimations[0]->mNumChannels == 0)
        return fail("no skeleton with motion");
    const aiAnimation& animation = *scene->mAnimations[0];

    // assimp makes a node for every joint and end site, and a channel for every joint in the
    // order the joints appear, which is the nodes' depth-first order without the end sites.
    SampledMotion m;
    std::vector<const aiNode*> nodes;
    struct Open {
        const aiNode* node;
        int32_t parent;  // the nearest enclosing joint's bone, -1 for none
    };
    std::vector<Open> stack{{scene->mRootNode, -1}};
    while (!stack.empty()) {
        const Open open = stack.back();
        stack.pop_back();
        const size_t next = nodes.size();
        if (next >= animation.mNumChannels ||
            animation.mChannels[next]->mNodeName != open.node->mName) {
            if (open.node->mNumChildren != 0) return fail("a joint without motion");
            continue;  // an end site
        }
        const int32_t bone = int32_t(next);
        nodes.push_back(open.node);
        m.boneNames.emplace_back(open.node->mName.C_Str());
        m.parents.push_back(open.parent);
        for (unsigned c = open.node->mNumChildren; c-- > 0;)
            stack.push_back({open.node->mChildren[c], bone});
    }
    if (nodes.size() != animation.mNumChannels) return fail("motion for joints it does not have");

    const unsigned frames = animation.mChannels[0]->mNumRotationKeys;
    const double timeStep = animation.mTicksPerSecond > 0 ? 1.0 / animation.mTicksPerSecond : 0;
    if (frames < 2 || !(timeStep > 0) || !std::isfinite(float(timeStep)))
        return fail("bad frame count or frame time");
    for (unsigned b = 0; b < animation.mNumChannels; ++b) {
        const aiNodeAnim& channel = *animation.mChannels[b];
        if (channel.mNumRotationKeys != frames ||
            (channel.mNumPositionKeys != frames && channel.mNumPositionKeys != 1))
            return fail("joints with different frame counts");
    }
    m.name = path.substr(path.find_last_of('/') + 1);
    m.timeStep = float(timeStep);
    m.frameCount = int32_t(frames);
    const size_t entries = size_t(frames) * nodes.size();
    m.positions.resize(entries * 3);
    m.orientations.resize(entries * 4);
    m.scales.assign(entries * 3, 1.0f);
    for (size_t b = 0; b < nodes.size(); ++b) {
        const aiNodeAnim& channel = *animation.mChannels[b];
        // The joint's offset; a joint with position channels (assimp reads them when the joint
        // has all six channels) has one key a frame, added to it.
        const aiMatrix4x4& offset = nodes[b]->mTransformation;
        const bool moves = channel.mNumPositionKeys == frames;
        float previous[4] = {0, 0, 0, 1};
        for (unsigned f = 0; f < frames; ++f) {
            float* p = &m.positions[m.at(int32_t(f), int32_t(b)) * 3];
            float* q = &m.orientations[m.at(int32_t(f), int32_t(b)) * 4];
            const aiVector3D add = moves ? channel.mPositionKeys[f].mValue : aiVector3D(0, 0, 0);
            p[0] = (offset.a4 + add.x) * unitToCm;
            p[1] = (offset.b4 + add.y) * unitToCm;
            p[2] = (offset.c4 + add.z) * unitToCm;
            const aiQuaternion& r = channel.mRotationKeys[f].mValue;
            q[0] = r.x;
            q[1] = r.y;
            q[2] = r.z;
            q[3] = r.w;
            // Each frame in the hemisphere of the one before (the first with w >= 0).
            if (q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3] <
                0)
                for (int c = 0; c < 4; ++c)
                    q[c] = -q[c];
            for (int c = 0; c < 4; ++c)
                previous[c] = q[c];
            for (int c = 0; c < 3; ++c)
                if (!std::isfinite(p[c])) return fail("a position is not a finite number");
            for (int c = 0; c < 4; ++c)
                if (!std::isfinite(q[c])) return fail("an angle is not a finite number");
        }
    }
    *motion = std::move(m);
    return true;
}

}  // namespace orvane_workload
