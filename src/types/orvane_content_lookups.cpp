// Lookups on models and materials: a model's initial placement as a matrix, and the textures
// reached through a material's maps by channel.
#include "core/orvane_array.h"
#include "core/orvane_log.h"
#include "core/orvane_pointer_hash.h"
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

// Materials come from files, so their maps may form long chains, share materials or lead back
// to a material already on the way. The search keeps its own stack instead of recursing and
// enters each material once: a material entered before either found nothing (searching it again
// finds nothing again) or is still on the way (a loop, which finds nothing new). The first
// textured material in depth-first order is the same as that of a plain recursive search.
struct SearchFrame {
    const orvane_material* material;
    int32_t nextMap;
};

class MaterialSearch {
public:
    MaterialSearch() = default;
    ~MaterialSearch() { DeletePointerHash(entered_); }
    MaterialSearch(const MaterialSearch&) = delete;
    MaterialSearch& operator=(const MaterialSearch&) = delete;

    orvane_material* Run(orvane_material* start) {
        if (!Enter(start)) return nullptr;
        while (!stack_.Empty()) {
            SearchFrame& top = stack_.Back();
            const orvane_material* material = top.material;
            if (material->Maps == nullptr || top.nextMap >= material->MapCount) {
                stack_.PopBack();
                continue;
            }
            orvane_material* next = material->Maps[top.nextMap++].Map;
            if (next == nullptr) continue;
            if (next->Texture != nullptr) return next;
            if (HashedPointerKeyExists(entered_, next, nullptr)) continue;
            if (!Enter(next)) return nullptr;
        }
        return nullptr;
    }

private:
    // False, with an error, when memory ran out.
    bool Enter(const orvane_material* material) {
        if (entered_ == nullptr) entered_ = NewPointerHash();
        if (entered_ != nullptr && AddPointerHashEntry(entered_, material, nullptr) &&
            stack_.Push(SearchFrame{material, 0}))
            return true;
        ORVANE_LOG_ERROR(OrvaneTextureOrigin,
                         "Unable to allocate memory to search the maps of material \"%s\"",
                         material->Name ? material->Name : "");
        return false;
    }

    PointerHash* entered_ = nullptr;
    Array<SearchFrame> stack_{ORVANE_SOURCE_FILE, __LINE__};
};

orvane_material* FindTexturedMaterial(orvane_material* material) {
    if (material == nullptr || material->Texture != nullptr) return material;
    MaterialSearch search;
    return search.Run(material);
}

// The first map whose Usage matches and below which a textured material is found. Both must hold,
// so the usage is tested first and only matching maps are searched.
template <typename Matches>
orvane_material* FirstMapMaterial(const orvane_material* material, Matches&& matches) {
    if (material == nullptr || material->Maps == nullptr) return nullptr;
    for (int32_t i = 0; i < material->MapCount; ++i) {
        const orvane_material_map& map = material->Maps[i];
        if (!matches(map)) continue;
        if (orvane_material* found = FindTexturedMaterial(map.Map)) return found;
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
