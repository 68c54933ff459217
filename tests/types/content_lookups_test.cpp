// Model placement and the material lookups by texture type and channel name.
#include <gtest/gtest.h>

#include "orvane/math.h"
#include "orvane/types.h"

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
