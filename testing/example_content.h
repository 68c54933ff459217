// The example content: a file info with every standard content type. A skeleton whose bones
// carry a light and a camera, a skinned box mesh (vertices of mixed widths with annotations, 32-
// and 16-bit indices, a morph target, material and bone bindings), a texture with two MIP
// levels and extended data behind a switchable member, two materials, a model, an animation
// whose track group holds real curves in eleven of the sixteen formats, a vector track, a text
// track, LOD errors, a periodic loop and root motion, and extended data from the variant
// builder. Objects are shared where real content shares them (the mesh, the exporter info,
// equal strings). The file tests, the loading tests, the golden files and the benchmarks all
// build it here, through the public interface only, so one change reaches all of them.
//
// The library links against whichever Orvane library its user links (the shared one or the
// static one the tests use): it declares no dependency of its own.
#ifndef ORVANE_EXAMPLE_CONTENT_H
#define ORVANE_EXAMPLE_CONTENT_H

#include <cstdint>
#include <string>
#include <vector>

#include "orvane/file.h"
#include "orvane/file_compression.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "orvane/types.h"
#include "orvane/variant_builder.h"

namespace orvane_example {

#pragma pack(push, 4)
// 32-bit reals and bytes: the byte part of a section, marshalled in files of the other order.
struct Vertex {
    float Position[3];
    float Normal[3];
    uint8_t BoneIndices[4];
    uint8_t BoneWeights[4];
};

extern orvane_data_type_definition g_vertexType[];
#pragma pack(pop)

// How large the content is. The defaults are the small example (a box of 8 vertices and 36
// indices, 4 bones, 4 tracks); the benchmarks ask for much more.
struct ExampleSize {
    int32_t vertices = 8;
    int32_t indices = 36;
    int32_t bones = 4;
    int32_t tracks = 4;
};

#pragma pack(push, 4)
// A switchable member and a reference to a bone: the texture's extended data.
struct Choice {
    int32_t Index;
    void* Object;
    orvane_bone* FirstBone;
    int8_t Small;
};
#pragma pack(pop)

extern orvane_data_type_definition g_realType[];
extern orvane_data_type_definition g_choiceType[];

// Builds everything in its constructor; ok() tells whether every curve and the extended data
// could be built. Not copyable: the file info points into the object.
class ExampleContent {
public:
    explicit ExampleContent(const ExampleSize& size = ExampleSize());
    ~ExampleContent();
    ExampleContent(const ExampleContent&) = delete;
    ExampleContent& operator=(const ExampleContent&) = delete;

    bool ok() const { return ok_; }
    orvane_file_info* info() { return &info_; }
    const ExampleSize& size() const { return size_; }

    // The parts, for checks against what a file gives back.
    std::vector<std::string> boneNames;
    std::vector<orvane_bone> bones;
    orvane_skeleton skeleton;
    std::vector<Vertex> vertices;
    std::vector<int32_t> indices;
    int16_t indices16[6] = {0, 2, 1, 1, 2, 3};
    std::vector<orvane_transform_track> tracks;
    std::vector<orvane_curve2*> curves;  // owned, in the order the tracks use them
    orvane_art_tool_info art;
    orvane_exporter_info exporter;
    orvane_model model;
    orvane_mesh mesh;
    orvane_animation animation;
    orvane_track_group trackGroup;
    orvane_data_type_definition* extendedType = nullptr;
    void* extendedObject = nullptr;
    std::vector<uint8_t> pixels;  // 64 bytes: both MIP levels
    orvane_texture texture;
    Choice textureChoice;
    orvane_material materials[2];
    orvane_material_map maps[1];
    orvane_light_info light;
    orvane_camera_info camera;
    orvane_vector_track vectorTrack;
    orvane_text_track textTrack;
    orvane_text_track_entry entries[2];
    float lodErrors[2];
    orvane_periodic_loop loop;

private:
    orvane_curve2 Curve(orvane_data_type_definition* format, int32_t degree, int32_t dimension,
                        int32_t knotCount, const float* knots, const float* controls);

    ExampleSize size_;
    bool ok_ = false;
    orvane_string_table* strings_ = nullptr;
    orvane_skeleton* skeletonPointer_ = nullptr;
    orvane_vertex_data vertexData_;
    orvane_vertex_data* vertexDataPointer_ = nullptr;
    orvane_tri_material_group group_;
    orvane_tri_topology topology_;
    orvane_tri_topology* topologyPointer_ = nullptr;
    orvane_mesh* meshPointer_ = nullptr;
    orvane_model_mesh_binding meshBinding_;
    orvane_model* modelPointer_ = nullptr;
    orvane_track_group* trackGroupPointer_ = nullptr;
    orvane_texture_mip_level mips_[2];
    orvane_texture_image image_;
    orvane_texture* texturePointer_ = nullptr;
    orvane_material* materialPointers_[2] = {nullptr, nullptr};
    char* componentNames_[2] = {nullptr, nullptr};
    int32_t annotationIndices_[2] = {3, 1};
    float annotations_[2] = {0.5f, 0.25f};
    orvane_vertex_annotation_set annotationSet_;
    orvane_morph_target morph_;
    orvane_material_binding materialBinding_;
    orvane_bone_binding boneBinding_;
    orvane_animation* animationPointer_ = nullptr;
    orvane_file_info info_;
};

// Where the example's objects go in a file of the standard sections: vertices in the
// deformable vertex section, the 32-bit indices in the index section, the rest in the main
// section; every section with `compression`, in `order`.
struct ExampleFileOptions {
    orvane_file_byte_order order = OrvaneNativeByteOrder;
    int32_t compression = OrvaneNoCompression;
    int32_t level = OrvaneDefaultCompressionLevel;
};

// Writes the content to `path`; false (with the library's messages logged) when any step
// fails.
bool WriteExampleFile(ExampleContent& content, const char* path,
                      const ExampleFileOptions& options = ExampleFileOptions());

// The native byte order's opposite.
orvane_file_byte_order OtherByteOrder();

}  // namespace orvane_example

#endif  // ORVANE_EXAMPLE_CONTENT_H
