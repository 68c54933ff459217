// Lookups on models and materials: a model's initial placement as a matrix, and the textures
// reached through a material's maps by channel.
#include "core/orvane_string.h"
#include "orvane/math.h"
#include "orvane/types.h"

namespace orvane {
namespace {

struct Channel {
    orvane_material_texture_type type;
    const char* name;
};

// Scanned in this order. The first names are those of one family of exporters, the second
// block those of another, the last those of a third; some names stand for two types.
constexpr Channel kChannels[] = {
    {OrvaneDiffuseColorTexture, "color"},
    {OrvaneSpecularColorTexture, "specularColor"},
    {OrvaneBumpHeightTexture, "normalCamera"},
    {OrvaneSelfIlluminationTexture, "incandescence"},
    {OrvaneAmbientColorTexture, "Ambient Color"},
    {OrvaneDiffuseColorTexture, "Diffuse Color"},
    {OrvaneSpecularColorTexture, "Specular Color"},
    {OrvaneSpecularColorTexture, "Specular Level"},
    {OrvaneSelfIlluminationTexture, "Self-Illumination"},
    {OrvaneOpacityTexture, "Opacity"},
    {OrvaneBumpHeightTexture, "Bump"},
    {OrvaneReflectionTexture, "Reflection"},
    {OrvaneRefractionTexture, "Refraction"},
    {OrvaneDisplacementTexture, "Displacement"},
    {OrvaneAmbientColorTexture, "BaseColor"},
    {OrvaneDiffuseColorTexture, "BaseColor"},
    {OrvaneSpecularColorTexture, "Specularity"},
    {OrvaneSelfIlluminationTexture, "Luminosity"},
    {OrvaneOpacityTexture, "Transparency"},
    {OrvaneBumpHeightTexture, "Bump"},
    {OrvaneReflectionTexture, "ReflectionImage"},
    {OrvaneRefractionTexture, "RefractionImage"},
};
static_assert(sizeof kChannels / sizeof kChannels[0] == 22);

bool UsageNamesType(const char* usage, orvane_material_texture_type type) {
    if (usage == nullptr) return false;
    for (const Channel& channel : kChannels) {
        if (channel.type == type && StringsAreEqualLowercase(usage, channel.name)) return true;
    }
    return false;
}

// Materials come from files, whose maps may lead back to a material already on the way: the
// depth bound keeps such graphs from recursing forever.
constexpr int kMaxMaterialDepth = 64;

orvane_material* FindTexturedMaterial(orvane_material* material, int depth) {
    if (material == nullptr || material->Texture != nullptr) return material;
    if (depth >= kMaxMaterialDepth || material->Maps == nullptr) return nullptr;
    for (int32_t i = 0; i < material->MapCount; ++i) {
        if (orvane_material* found = FindTexturedMaterial(material->Maps[i].Map, depth + 1))
            return found;
    }
    return nullptr;
}

template <typename Matches>
orvane_material* FirstMapMaterial(const orvane_material* material, Matches&& matches) {
    if (material == nullptr || material->Maps == nullptr) return nullptr;
    for (int32_t i = 0; i < material->MapCount; ++i) {
        const orvane_material_map& map = material->Maps[i];
        orvane_material* found = FindTexturedMaterial(map.Map, 1);
        if (found != nullptr && matches(map)) return found;
    }
    return nullptr;
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneGetModelInitialPlacement4x4(const orvane_model* Model,
                                                  orvane_real32* Placement4x4) {
    OrvaneBuildCompositeTransform4x4(&Model->InitialPlacement, Placement4x4);
}

ORVANE_API orvane_texture* OrvaneGetMaterialTextureByType(const orvane_material* Material,
                                                          orvane_material_texture_type Type) {
    orvane_material* found = FirstMapMaterial(Material, [Type](const orvane_material_map& map) {
        return UsageNamesType(map.Usage, Type);
    });
    return found ? found->Texture : nullptr;
}

ORVANE_API orvane_material* OrvaneGetTexturedMaterialByChannelName(const orvane_material* Material,
                                                                   const char* ChannelName) {
    return FirstMapMaterial(Material, [ChannelName](const orvane_material_map& map) {
        return StringsAreEqualLowercase(map.Usage, ChannelName);
    });
}

ORVANE_API orvane_texture* OrvaneGetMaterialTextureByChannelName(const orvane_material* Material,
                                                                 const char* ChannelName) {
    orvane_material* found = OrvaneGetTexturedMaterialByChannelName(Material, ChannelName);
    return found ? found->Texture : nullptr;
}

}  // extern "C"
