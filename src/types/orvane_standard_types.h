// The library's static descriptions by their record arrays. The exported Orvane...Type pointers
// are the same addresses; these names are constant expressions, so descriptions declared in
// other modules (the curve data formats, the vertex layouts) can refer to them from static
// initializers without depending on the order in which modules are initialized:
//   orvane_data_type_definition g_format[] = {
//       MemberRecord(OrvaneReferenceToArrayMember, "Knots", g_real32Type), EndRecord()};
#ifndef ORVANE_STANDARD_TYPES_H
#define ORVANE_STANDARD_TYPES_H

#include "core/orvane_private.h"
#include "types/orvane_type_layout.h"

namespace orvane {

// Plain element types.
extern orvane_data_type_definition g_emptyType[], g_stringType[], g_int16Type[], g_int32Type[],
    g_uint8Type[], g_uint16Type[], g_uint32Type[], g_real32Type[], g_tripleType[], g_quadType[],
    g_transformType[];

// The content schema.
extern orvane_data_type_definition g_fileInfoType[], g_artToolInfoType[], g_exporterInfoType[],
    g_textureType[], g_pixelLayoutType[], g_textureImageType[], g_textureMIPLevelType[],
    g_materialType[], g_materialMapType[], g_skeletonType[], g_boneType[], g_lightInfoType[],
    g_cameraInfoType[], g_vertexDataType[], g_vertexAnnotationSetType[], g_triTopologyType[],
    g_triMaterialGroupType[], g_triAnnotationSetType[], g_meshType[], g_morphTargetType[],
    g_materialBindingType[], g_boneBindingType[], g_modelType[], g_modelMeshBindingType[],
    g_trackGroupType[], g_vectorTrackType[], g_transformTrackType[], g_textTrackType[],
    g_textTrackEntryType[], g_periodicLoopType[], g_animationType[], g_curve2Type[],
    g_oldCurveType[];

}  // namespace orvane

#endif  // ORVANE_STANDARD_TYPES_H
