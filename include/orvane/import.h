/* Orvane importer: reads art-tool scenes (glTF, FBX, COLLADA, .X, BVH and every other format
 * the scene reader handles) and writes them as Orvane content files. This is offline code in a
 * library of its own (liborvane_import); the run-time library never depends on it and orvane.h
 * does not include this header.
 *
 * What a written file holds: the art tool and exporter info (source format, axes, units); one
 * skeleton whose rest pose comes from the meshes' inverse bind matrices (bones that no mesh
 * binds take their node's transform); every mesh, skinned ones in the smallest standard
 * layout for the influences present (at most four per vertex, by weight, renormalised), rigid
 * ones bound to their node's bone; one material per scene material, its diffuse texture
 * (embedded, or in a file beside the scene) on a material of its own in its "DiffuseColor"
 * map; one model binding every
 * mesh; one animation per clip (the file's own and those of the extra clip files). A clip whose
 * keys lie on a frame grid is sampled on it (a clip of N frames gives N samples, one on each
 * frame) and compressed to the tolerance; a clip with keys off any grid keeps each key at its
 * own time, blended linearly (orientations along the arc) as the scene reader does.
 *
 * Where the tolerance holds: at every vertex and joint. Each bone's error is measured at the
 * distance of the farthest vertex it moves (skinned or rigid; for a bone without vertices at
 * its children's joints, and 3 cm when the content has no mesh), in object space, at the
 * samples; exact clips bound it by construction.
 *
 * Looping: clips that do not end where they start play to their last key when looped, then
 * jump back to the first (the report says which clips end where they start). The clips of a glTF
 * file are read from the file itself and kept exactly: every key at its time, each channel's
 * interpolation as the file gives it (STEP holds each key to the next, LINEAR blends between keys,
 * along the shorter arc for rotations, CUBICSPLINE follows the keys' tangents), in curves of plain
 * floats, in the requested basis; only when the file's animation data is unsound or its nodes do
 * not pair with the scene reader's are they sampled and compressed like other formats (the report
 * says so).
 *
 * Threading: distinct imports may run on several threads at once; the log callback (core.h)
 * is the only shared state. Failures are logged, described in the summary's Error text and
 * give false; nothing here throws or aborts. */
#ifndef ORVANE_IMPORT_H
#define ORVANE_IMPORT_H

#include "orvane/common.h"

#if defined(ORVANE_BUILDING_IMPORTER)
#define ORVANE_IMPORT_API __attribute__((visibility("default")))
#else
#define ORVANE_IMPORT_API
#endif

ORVANE_EXTERN_C_BEGIN

/* Called with Done of Total for the long steps (Step names them: "reading", "meshes",
 * "animation <name>", "writing"). */
typedef void (*orvane_import_progress_callback)(const char* Step, orvane_int32 Done,
                                                orvane_int32 Total, void* UserData);
/* Called with one line per imported object ("skeleton ...", "mesh ...", "animation ..."). */
typedef void (*orvane_import_report_callback)(const char* Line, void* UserData);

typedef enum orvane_import_codec {
    OrvaneImportNoCompression = 0,
    OrvaneImportPelma0 = 1,
    OrvaneImportPelma1 = 2
} orvane_import_codec;

typedef enum orvane_import_texture_encoding {
    OrvaneImportRawTextures = 0, /* RGBA8888 */
    OrvaneImportS3TCTextures = 1 /* DXT, alpha chosen per texture */
} orvane_import_texture_encoding;

typedef struct orvane_import_options {
    /* Largest object-space error of the compressed animation, in centimetres. Default 0.1. */
    orvane_real32 ToleranceCentimeters;
    /* Section codec of the written file (orvane_import_codec). Default OrvaneImportPelma1. */
    orvane_int32 Codec;
    /* Encoding of the textures (orvane_import_texture_encoding). Default raw. */
    orvane_int32 TextureEncoding;
    /* Desired length units per meter; 0 (the default) keeps the file's own. */
    orvane_real32 UnitsPerMeter;
    /* Desired right, up and back axes; all zero (the default) keeps the file's own. */
    orvane_real32 Right[3];
    orvane_real32 Up[3];
    orvane_real32 Back[3];
    /* Extra files whose clips are added, matched to the skeleton's bones by name. */
    orvane_int32 AnimationFileCount;
    const char* const* AnimationFiles;
    /* Largest clip sampling rate, frames per second (a clip's own rate above it is lowered).
     * Default 240. */
    orvane_real32 MaximumSampleRate;
    orvane_import_progress_callback Progress; /* may be null (the default) */
    orvane_import_report_callback Report;     /* may be null (the default) */
    void* UserData;                           /* passed to both callbacks */
    /* What one length unit of the source means, in units per metre (100: centimetres), for
     * sources that declare no unit (BVH) or a wrong one; nothing is rescaled, the tolerance and
     * the written file's art tool info follow it. 0 (the default): the source's own, metres
     * when it declares none. */
    orvane_real32 SourceUnitsPerMeter;
    /* Non-zero: a clip whose error stays above the tolerance is written anyway (the summary's
     * MaxAnimationError says by how much). 0 (the default): the import fails, nothing written. */
    orvane_bool KeepGoing;
    /* The name of the bone whose travel becomes the clips' root motion (null, the default:
     * none). A bone "RootMotion" is added above the skeleton's roots; in every sampled clip it
     * carries the named bone's horizontal movement and its turn about the up axis since the
     * clip's first frame, taken out of the bones below (object-space poses are unchanged), and
     * the clip's track group plays with variable-delta root motion by default, so that
     * OrvaneUpdateModelMatrix moves the model and the pose stays in place. Clips kept as keys
     * (glTF step and cubic channels) get none; the report says so. */
    const char* RootMotionBone;
    /* Non-zero: the compressed clips' moving curves take the compact curve format (knots on a
     * uniform grid, per-segment ranges and bit depths), smaller than the sixteen base formats;
     * readers that do not know that format refuse such curves. 0 (the default): the base
     * formats only. */
    orvane_bool CompactCurves;
} orvane_import_options;

/* What an import did (optional output). Times in seconds. */
typedef struct orvane_import_summary {
    orvane_int32 BoneCount;
    orvane_int32 MeshCount;
    orvane_int32 VertexCount; /* of all meshes, after welding */
    orvane_int32 MaterialCount;
    orvane_int32 AnimationCount;
    /* largest object-space error of any clip, file units (for exact glTF clips: a bound of
     * what is left, rotations blended off their arc and curves held still where they barely
     * move, each within its share of the tolerance along the longest chain of bones) */
    orvane_real32 MaxAnimationError;
    orvane_real32 ToleranceUsed;   /* the tolerance in file units */
    orvane_real32 CharacterHeight; /* extent of the rest pose (bones and vertices), file units */
    orvane_real64 ReadSeconds;     /* in the scene reader */
    orvane_real64 FitSeconds;      /* sampling and compressing clips */
    orvane_real64 WriteSeconds;    /* writing the content file */
    orvane_real64 TotalSeconds;
    orvane_int32 OutputBytes;
    char Error[256]; /* empty on success */
} orvane_import_summary;

/* Fills Options with the defaults given with each field.
 * @param Options the options to fill (null: nothing happens) */
ORVANE_IMPORT_API void OrvaneGetDefaultImportOptions(orvane_import_options* Options);

/* Imports InputPath and writes OutputPath. False, with an error logged and in
 * Summary->Error, when the scene cannot be read, holds neither a mesh nor a clip, an option is
 * out of range, or the file cannot be written. The same input and options give the same
 * bytes.
 * @param InputPath the scene to read, in any format the scene reader knows
 * @param OutputPath the content file to write. It is written over from its start: when the
 *        write fails, a file that this call began there is removed, but one that was there
 *        before is left partial, so an all-or-nothing write goes to a new name in the same
 *        folder that is then renamed over the destination (as the orvane tool does)
 * @param Options the import's options (null: the defaults)
 * @param Summary what the import did (may be null)
 * @return true when the file was written whole */
ORVANE_IMPORT_API orvane_bool OrvaneImportFile(const char* InputPath, const char* OutputPath,
                                               const orvane_import_options* Options,
                                               orvane_import_summary* Summary);

ORVANE_EXTERN_C_END

#endif /* ORVANE_IMPORT_H */
