// Texture queries and copying a texture's images out in any pixel layout.
#include <cstddef>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "texture/orvane_pixel_layout.h"
#include "texture/orvane_quib.h"
#include "texture/orvane_s3tc.h"

namespace orvane {
namespace {

void LogRescalingNotSupported() {
    LogMessage(OrvaneWarningMessage, OrvaneNotImplementedOrigin, "%s",
               "Automatic rescaling not supported");
}

// A texture comes from a file: its sizes, the level's stride and byte count are checked
// against what decoding the level will touch before any pixel is read.
bool CheckTextureSize(const orvane_texture& texture) {
    if (texture.Width < 1 || texture.Height < 1 ||
        int64_t(texture.Width) * int64_t(texture.Height) * 4 > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Texture size %d x %d is not supported",
                         texture.Width, texture.Height);
        return false;
    }
    return true;
}

bool CheckLevelBytes(const orvane_texture_mip_level& level, int64_t needed, int32_t mipIndex) {
    if (level.PixelByteCount < 0 || level.PixelByteCount < needed ||
        (needed > 0 && level.Pixels == nullptr)) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin,
                         "MIP level %d holds %d bytes where its pixels need %d", mipIndex,
                         level.PixelByteCount, int32_t(needed));
        return false;
    }
    return true;
}

bool CopyRaw(const orvane_texture& texture, const orvane_texture_mip_level& level, int32_t mipIndex,
             int32_t width, int32_t height, const orvane_pixel_layout& dest, int32_t destStride,
             uint8_t* destPixels) {
    if (!CheckPixelLayout(&texture.Layout, "Texture layout")) return false;
    int64_t rowBytes = int64_t(width) * texture.Layout.BytesPerPixel;
    if (level.Stride < rowBytes) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin,
                         "MIP level %d stride %d is smaller than a row of "
                         "%d bytes",
                         mipIndex, level.Stride, int32_t(rowBytes));
        return false;
    }
    if (!CheckLevelBytes(level, int64_t(level.Stride) * (height - 1) + rowBytes, mipIndex))
        return false;
    ConvertPixels(width, height, texture.Layout, level.Stride, level.Pixels, dest, destStride,
                  destPixels);
    return true;
}

bool CopyS3TC(const orvane_texture& texture, const orvane_texture_mip_level& level,
              int32_t mipIndex, int32_t width, int32_t height, const orvane_pixel_layout& dest,
              int32_t destStride, uint8_t* destPixels) {
    int64_t needed = S3TCImageBytes(texture.SubFormat, width, height);
    if (needed < 0) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Unrecognized S3 texture format (%d)",
                         texture.SubFormat);
        return false;
    }
    if (!CheckLevelBytes(level, needed, mipIndex)) return false;
    auto* decoded = static_cast<uint8_t*>(ORVANE_ALLOCATE(4, size_t(width) * size_t(height) * 4));
    if (decoded == nullptr) return false;
    DecodeS3TCImage(texture.SubFormat, width, height, level.Pixels, int64_t(width) * 4, decoded);
    ConvertPixels(width, height, *OrvaneBGRA8888PixelFormat, int64_t(width) * 4, decoded, dest,
                  destStride, destPixels);
    ORVANE_DEALLOCATE(decoded);
    return true;
}

}  // namespace
}  // namespace orvane

// ------------------------------------------------------------------------------------------
// Exported entry points.

using namespace orvane;

extern "C" {

ORVANE_API const char* OrvaneGetTextureTypeName(orvane_int32 TextureType) {
    switch (TextureType) {
        case 0:
            return "Color map";
        case 1:
            return "Cube map";
        default:
            return "Unknown texture type";
    }
}

ORVANE_API const char* OrvaneGetTextureEncodingName(orvane_int32 Encoding) {
    switch (Encoding) {
        case 0:
            return "User-defined texture format";
        case 1:
            return "Raw texture format";
        case 2:
            return "S3TC format";
        case 3:
            return "Quib texture format";
        default:
            return "Unknown texture format";
    }
}

ORVANE_API const char* OrvaneGetS3TCTextureFormatName(orvane_int32 SubFormat) {
    switch (SubFormat) {
        case 0:
            return "S3TC RGB555 (DXT1)";
        case 1:
            return "S3TC RGBA5551 (DXT1 with alpha)";
        case 2:
            return "S3TC RGBA8888, mapped alpha (DXT2/3)";
        case 3:
            return "S3TC RGBA8888, interpolated alpha (DXT4/5)";
        default:
            return "Unknown S3TC texture format";
    }
}

ORVANE_API const orvane_pixel_layout* OrvaneGetS3TCPixelLayout(orvane_int32 SubFormat) {
    switch (SubFormat) {
        case 0:
            return OrvaneBGR565PixelFormat;
        case 1:
            return OrvaneBGRA5551PixelFormat;
        default:
            return OrvaneBGRA8888PixelFormat;
    }
}

ORVANE_API orvane_int32 OrvaneGetS3TCImageSize(orvane_int32 SubFormat, orvane_int32 Width,
                                               orvane_int32 Height) {
    if (S3TCBlockBytes(SubFormat) == 0) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Unrecognized S3TC texture format (%d)", SubFormat);
        return 0;
    }
    int64_t bytes = S3TCImageBytes(SubFormat, Width, Height);
    if (bytes < 0) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "S3TC image size %d x %d is not supported", Width,
                         Height);
        return 0;
    }
    return int32_t(bytes);
}

ORVANE_API orvane_int32 OrvaneGetRawImageSize(const orvane_pixel_layout*, orvane_int32 Stride,
                                              orvane_int32, orvane_int32 Height) {
    int64_t bytes = int64_t(Stride) * Height;
    if (Stride < 0 || Height < 0 || bytes > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin,
                         "Raw image of stride %d and height %d is not "
                         "supported",
                         Stride, Height);
        return 0;
    }
    return int32_t(bytes);
}

ORVANE_API orvane_bool OrvaneGetRecommendedPixelLayout(const orvane_texture* Texture,
                                                       orvane_pixel_layout* Layout) {
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Texture, false);
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Layout, false);
    switch (Texture->Encoding) {
        case OrvaneRawTextureEncoding:
        case OrvaneQuibTextureEncoding:
            *Layout = Texture->Layout;
            return true;
        case OrvaneS3TCTextureEncoding:
            *Layout = *OrvaneGetS3TCPixelLayout(Texture->SubFormat);
            return true;
        default:
            return false;
    }
}

ORVANE_API orvane_bool OrvaneTextureHasAlpha(const orvane_texture* Texture) {
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Texture, false);
    return OrvanePixelLayoutHasAlpha(&Texture->Layout);
}

ORVANE_API orvane_bool OrvaneCopyTextureImage(const orvane_texture* Texture,
                                              orvane_int32 ImageIndex, orvane_int32 MIPIndex,
                                              const orvane_pixel_layout* DestLayout,
                                              orvane_int32 DestWidth, orvane_int32 DestHeight,
                                              orvane_int32 DestStride, void* DestPixels) {
    ORVANE_TIMING_BLOCK("OrvaneCopyTextureImage");
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Texture, false);
    const orvane_texture& texture = *Texture;
    if (ImageIndex < 0 || ImageIndex >= texture.ImageCount) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "ImageIndex %d is out of range [0, %d)", ImageIndex,
                         texture.ImageCount);
        return false;
    }
    if (texture.Images == nullptr) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Texture has %d images but no image array",
                         texture.ImageCount);
        return false;
    }
    const orvane_texture_image& image = texture.Images[ImageIndex];
    if (MIPIndex < 0 || MIPIndex >= image.MIPLevelCount) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "MIPIndex %d is out of range [0, %d)", MIPIndex,
                         image.MIPLevelCount);
        return false;
    }
    if (image.MIPLevels == nullptr) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Image %d has %d MIP levels but no level array",
                         ImageIndex, image.MIPLevelCount);
        return false;
    }
    if (!CheckTextureSize(texture)) return false;
    // Shifting a 32-bit size by 31 or more leaves nothing (and by 32 is undefined).
    int32_t width = MIPIndex >= 31 ? 0 : texture.Width >> MIPIndex;
    int32_t height = MIPIndex >= 31 ? 0 : texture.Height >> MIPIndex;
    width = width < 1 ? 1 : width;
    height = height < 1 ? 1 : height;
    if (DestWidth != width || DestHeight != height) {
        LogRescalingNotSupported();
        return false;
    }
    if (!CheckPixelLayout(DestLayout, "DestLayout") ||
        !CheckImageGeometry(width, height, DestLayout->BytesPerPixel, DestStride,
                            "Destination image"))
        return false;
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, DestPixels, false);
    const orvane_texture_mip_level& level = image.MIPLevels[MIPIndex];
    auto* dest = static_cast<uint8_t*>(DestPixels);
    switch (texture.Encoding) {
        case OrvaneRawTextureEncoding:
            return CopyRaw(texture, level, MIPIndex, width, height, *DestLayout, DestStride, dest);
        case OrvaneS3TCTextureEncoding:
            return CopyS3TC(texture, level, MIPIndex, width, height, *DestLayout, DestStride, dest);
        case OrvaneQuibTextureEncoding: {
            int32_t flags = texture.SubFormat;
            if (OrvanePixelLayoutHasAlpha(&texture.Layout)) flags |= ORVANE_QUIB_ALPHA_FLAG;
            if (!CheckLevelBytes(level, 1, MIPIndex)) return false;
            return QuibDecode(width, height, flags, level.PixelByteCount, level.Pixels, *DestLayout,
                              DestStride, dest);
        }
        default:
            return false;
    }
}

}  // extern "C"
