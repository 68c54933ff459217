// Model placement and the material lookups by texture type and channel name.
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/math.h"
#include "orvane/types.h"
#include "support/log_capture.h"

namespace {

struct MaterialGraph {
    orvane_texture diffuse{}, bump{}, own{};
    orvane_material textured{};  // has the diffuse texture
    orvane_material bumpy{};     // has the bump texture
    orvane_material relay{};     // no texture; its first map leads to `textured`
    orvane_material_map relayMaps[1]{};
    orvane_material root{};  // maps: "Diffuse Color" -> relay, "bump" -> bumpy
    orvane_material_map rootMaps[2]{};

    MaterialGraph() {
        textured.Texture = &diffuse;
        bumpy.Texture = &bump;
        relayMaps[0] = {const_cast<char*>("anything"), &textured};
        relay.MapCount = 1;
        relay.Maps = relayMaps;
        rootMaps[0] = {const_cast<char*>("Diffuse Color"), &relay};
        rootMaps[1] = {const_cast<char*>("bump"), &bumpy};
        root.MapCount = 2;
        root.Maps = rootMaps;
        root.Texture = &own;  // never considered unless reached through a map
    }
};

TEST(MaterialLookups, FollowMapsDepthFirstToATexture) {
    MaterialGraph g;
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&g.root, OrvaneDiffuseColorTexture), &g.diffuse);
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&g.root, OrvaneBumpHeightTexture), &g.bump);
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&g.root, OrvaneOpacityTexture), nullptr);
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&g.root, static_cast<orvane_material_texture_type>(0)),
              nullptr);
    EXPECT_EQ(OrvaneGetMaterialTextureByType(nullptr, OrvaneDiffuseColorTexture), nullptr);
    EXPECT_EQ(OrvaneGetTexturedMaterialByChannelName(&g.root, "DIFFUSE COLOR"), &g.textured);
    EXPECT_EQ(OrvaneGetMaterialTextureByChannelName(&g.root, "Bump"), &g.bump);
    EXPECT_EQ(OrvaneGetMaterialTextureByChannelName(&g.root, "Opacity"), nullptr);
    EXPECT_EQ(OrvaneGetMaterialTextureByChannelName(&g.root, nullptr), nullptr);
    // A material with no maps finds nothing, even with a texture of its own.
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&g.textured, OrvaneDiffuseColorTexture), nullptr);
}

TEST(MaterialLookups, ChannelNamesThatStandForTwoTypes) {
    MaterialGraph g;
    g.rootMaps[0].Usage = const_cast<char*>("BASECOLOR");
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&g.root, OrvaneAmbientColorTexture), &g.diffuse);
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&g.root, OrvaneDiffuseColorTexture), &g.diffuse);
    g.rootMaps[0].Usage = nullptr;
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&g.root, OrvaneDiffuseColorTexture), nullptr);
    // A missing channel name matches only a missing usage.
    EXPECT_EQ(OrvaneGetTexturedMaterialByChannelName(&g.root, nullptr), &g.textured);
    EXPECT_EQ(OrvaneGetTexturedMaterialByChannelName(&g.root, ""), nullptr);
}

TEST(MaterialLookups, MaterialGraphsThatLoopTerminate) {
    orvane_material a{}, b{};
    orvane_material_map toB{const_cast<char*>("Diffuse Color"), &b};
    orvane_material_map toA{const_cast<char*>("Diffuse Color"), &a};
    a.MapCount = 1;
    a.Maps = &toB;
    b.MapCount = 1;
    b.Maps = &toA;
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&a, OrvaneDiffuseColorTexture), nullptr);
    EXPECT_EQ(OrvaneGetTexturedMaterialByChannelName(&a, "Diffuse Color"), nullptr);
}

TEST(MaterialLookups, EveryChannelNameAndTheTypesItStandsFor) {
    struct Expected {
        const char* usage;
        std::set<int> types;
    };
    const Expected expected[] = {
        {"color", {2}},
        {"specularColor", {3}},
        {"normalCamera", {6}},
        {"incandescence", {4}},
        {"Ambient Color", {1}},
        {"Diffuse Color", {2}},
        {"Specular Color", {3}},
        {"Specular Level", {3}},
        {"Self-Illumination", {4}},
        {"Opacity", {5}},
        {"Bump", {6}},
        {"Reflection", {7}},
        {"Refraction", {8}},
        {"Displacement", {9}},
        {"BaseColor", {1, 2}},
        {"Specularity", {3}},
        {"Luminosity", {4}},
        {"Transparency", {5}},
        {"ReflectionImage", {7}},
        {"RefractionImage", {8}},
        {"SPECULARITY", {3}},
        {"Diffuse", {}},
        {"Colour", {}},
        {"", {}},
    };
    orvane_texture texture{};
    orvane_material textured{};
    textured.Texture = &texture;
    orvane_material_map map{nullptr, &textured};
    orvane_material material{};
    material.MapCount = 1;
    material.Maps = &map;
    for (const Expected& e : expected) {
        map.Usage = const_cast<char*>(e.usage);
        for (int type = 0; type <= 10; ++type) {
            const bool found =
                OrvaneGetMaterialTextureByType(
                    &material, static_cast<orvane_material_texture_type>(type)) == &texture;
            EXPECT_EQ(found, e.types.count(type) == 1) << e.usage << " as type " << type;
        }
    }
}

TEST(MaterialLookups, LongChainsOfMapsReachTheirTexture) {
    // 200 materials without a texture, each mapping to the next, and a textured one at the end.
    constexpr int kLength = 200;
    orvane_texture texture{};
    orvane_material last{};
    last.Texture = &texture;
    std::vector<orvane_material> chain(kLength);
    std::vector<orvane_material_map> maps(kLength);
    for (int i = 0; i < kLength; ++i) {
        maps[i] = {const_cast<char*>("Diffuse Color"), i + 1 < kLength ? &chain[i + 1] : &last};
        chain[i].MapCount = 1;
        chain[i].Maps = &maps[i];
    }
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&chain[0], OrvaneDiffuseColorTexture), &texture);
    EXPECT_EQ(OrvaneGetTexturedMaterialByChannelName(&chain[0], "diffuse color"), &last);
    EXPECT_EQ(OrvaneGetMaterialTextureByChannelName(&chain[0], "Diffuse Color"), &texture);
}

TEST(MaterialLookups, SharedMaterialsAreSearchedOnce) {
    // Layers of materials without textures, each material mapping twice to the next layer's:
    // searched path by path this would take 2^64 steps.
    constexpr int kLayers = 64;
    std::vector<orvane_material> layer(kLayers);
    std::vector<orvane_material_map> maps(2 * kLayers);
    for (int i = 0; i + 1 < kLayers; ++i) {
        maps[2 * i] = {const_cast<char*>("Bump"), &layer[i + 1]};
        maps[2 * i + 1] = {const_cast<char*>("Bump"), &layer[i + 1]};
        layer[i].MapCount = 2;
        layer[i].Maps = &maps[2 * i];
    }
    orvane_material root{};
    orvane_material_map rootMaps[2] = {{const_cast<char*>("Bump"), &layer[0]},
                                       {const_cast<char*>("Opacity"), nullptr}};
    root.MapCount = 2;
    root.Maps = rootMaps;
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&root, OrvaneBumpHeightTexture), nullptr);
    EXPECT_EQ(OrvaneGetTexturedMaterialByChannelName(&root, "Bump"), nullptr);

    // A texture in a later map of the deepest layer is still found, depth first.
    orvane_texture texture{};
    orvane_material textured{};
    textured.Texture = &texture;
    orvane_material_map deepest[2] = {{const_cast<char*>("x"), nullptr},
                                      {const_cast<char*>("y"), &textured}};
    layer[kLayers - 1].MapCount = 2;
    layer[kLayers - 1].Maps = deepest;
    EXPECT_EQ(OrvaneGetMaterialTextureByType(&root, OrvaneBumpHeightTexture), &texture);
}

TEST(MaterialLookups, OutOfMemoryWhileSearchingIsReported) {
    MaterialGraph g;
    orvane_allocate_callback allocate;
    orvane_deallocate_callback deallocate;
    OrvaneGetAllocator(&allocate, &deallocate);
    orvane_test::LogCapture log;
    OrvaneSetAllocator(
        [](const char*, orvane_int32, orvane_uint32, orvane_int32) -> void* { return nullptr; },
        deallocate);
    // A map straight to a textured material needs no search.
    const orvane_texture* bump = OrvaneGetMaterialTextureByType(&g.root, OrvaneBumpHeightTexture);
    const size_t errorsBefore = log.errors();
    // Reaching the diffuse texture means searching below a material without one.
    const orvane_texture* diffuse =
        OrvaneGetMaterialTextureByType(&g.root, OrvaneDiffuseColorTexture);
    OrvaneSetAllocator(allocate, deallocate);
    EXPECT_EQ(bump, &g.bump);
    EXPECT_EQ(errorsBefore, 0u);
    EXPECT_EQ(diffuse, nullptr);
    EXPECT_GE(log.errors(), 1u);
}

TEST(ModelLookups, InitialPlacementAsAColumnMatrix) {
    orvane_model model{};
    OrvaneMakeIdentity(&model.InitialPlacement);
    const float position[3] = {1, 2, 3};
    const float orientation[4] = {0, 0, 0, 1};
    const float scale[9] = {2, 0, 0, 0, 2, 0, 0, 0, 2};
    OrvaneSetTransformWithIdentityCheck(&model.InitialPlacement, position, orientation, scale);
    float m[16];
    OrvaneGetModelInitialPlacement4x4(&model, m);
    EXPECT_FLOAT_EQ(m[0], 2);
    EXPECT_FLOAT_EQ(m[5], 2);
    EXPECT_FLOAT_EQ(m[12], 1);
    EXPECT_FLOAT_EQ(m[13], 2);
    EXPECT_FLOAT_EQ(m[14], 3);
    EXPECT_FLOAT_EQ(m[15], 1);
}

}  // namespace
