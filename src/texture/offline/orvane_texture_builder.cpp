// The texture builder: MIP chains of RGBA8888 images encoded raw, as S3TC blocks or with the
// Quib wavelet codec, finished into one block.
#include <cstddef>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "texture/orvane_image_scale.h"
#include "texture/orvane_pixel_layout.h"
#include "texture/offline/orvane_quib_encoder.h"
#include "texture/offline/orvane_s3tc_encoder.h"
#include "orvane/texture_builder.h"

// One encoded image: the link, its level records and its pixel bytes, in one allocation.
struct EncodedImage {
    EncodedImage* next;
    int32_t levelCount;
    orvane_texture_mip_level* levels;
    uint8_t* pixels;
};

struct orvane_texture_builder {
    int32_t textureType;
    int32_t encoding;
    int32_t imageCount;
    int64_t mipRecordCount;
    int64_t pixelByteCount;
    EncodedImage* head;
    EncodedImage* tail;
    int32_t width;
    int32_t height;
    orvane_pixel_layout layout;
    int32_t subFormat;
    int32_t strideAlignment;
    int32_t quibRatio;
    int32_t quibFlags;
    int32_t upsamplingFilter;
    int32_t downsamplingFilter;
};

namespace orvane {
namespace {

constexpr size_t kPointerAlignment = alignof(void*);

size_t AlignUp(size_t value, size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

orvane_texture_builder* NewBuilder(int32_t width, int32_t height, int32_t encoding,
                                   const orvane_pixel_layout& layout, int32_t subFormat) {
    if (width < 1 || height < 1 || int64_t(width) * int64_t(height) * 4 > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Texture size %d x %d is not supported", width,
                         height);
        return nullptr;
    }
    auto* builder = static_cast<orvane_texture_builder*>(
        ORVANE_ALLOCATE(alignof(orvane_texture_builder), sizeof(orvane_texture_builder)));
    if (builder == nullptr) return nullptr;
    *builder = {.textureType = OrvaneColorMapTextureType,
                .encoding = encoding,
                .imageCount = 0,
                .mipRecordCount = 0,
                .pixelByteCount = 0,
                .head = nullptr,
                .tail = nullptr,
                .width = width,
                .height = height,
                .layout = layout,
                .subFormat = subFormat,
                .strideAlignment = 1,
                .quibRatio = 1,
                .quibFlags = 0,
                .upsamplingFilter = OrvaneCubicPixelFilter,
                .downsamplingFilter = OrvaneCubicPixelFilter};
    return builder;
}

void FreeBuilder(orvane_texture_builder* builder) {
    for (EncodedImage* image = builder->head; image != nullptr;) {
        EncodedImage* next = image->next;
        ORVANE_DEALLOCATE(image);
        image = next;
    }
    ORVANE_DEALLOCATE(builder);
}

// The bytes the first pass reserves for one level; -1 when they cannot be represented.
int64_t ReservedLevelBytes(const orvane_texture_builder& builder, int32_t width, int32_t height,
                           int32_t* stride) {
    *stride = 0;
    switch (builder.encoding) {
        case OrvaneRawTextureEncoding: {
            int64_t row = int64_t(width) * builder.layout.BytesPerPixel;
            int64_t padded = int64_t(AlignUp(size_t(row), size_t(builder.strideAlignment)));
            if (padded > INT32_MAX) return -1;
            *stride = int32_t(padded);
            return padded * height;
        }
        case OrvaneS3TCTextureEncoding: {
            int32_t subFormat = builder.subFormat == OrvaneS3TCBestMatch ? 2 : builder.subFormat;
            return S3TCImageBytes(subFormat, width, height);
        }
        case OrvaneQuibTextureEncoding:
            return QuibMaximumBytes(width, height, builder.quibFlags, builder.quibRatio);
        default:
            ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Unrecognized texture encoding %d.",
                             builder.encoding);
            return 0;
    }
}

// Encodes one level from its RGBA8888 source into storage; returns the bytes written.
int64_t EncodeLevel(orvane_texture_builder& builder, int32_t width, int32_t height,
                    int64_t sourceStride, const uint8_t* source, int32_t paddedStride,
                    int64_t reserved, uint8_t* storage, orvane_texture_mip_level* record) {
    record->Stride = 0;
    record->PixelByteCount = 0;
    record->Pixels = storage;
    if (width == 0 || height == 0) {
        // No pixels, but rows of the level's width all the same.
        if (builder.encoding == OrvaneRawTextureEncoding) record->Stride = paddedStride;
        if (builder.encoding == OrvaneS3TCTextureEncoding) {
            int32_t subFormat = builder.subFormat == OrvaneS3TCBestMatch ? 2 : builder.subFormat;
            record->Stride = int32_t(subFormat < 2 ? sourceStride / 2 : sourceStride);
        }
        return 0;
    }
    switch (builder.encoding) {
        case OrvaneRawTextureEncoding:
            ConvertPixels(width, height, *OrvaneRGBA8888PixelFormat, sourceStride, source,
                          builder.layout, paddedStride, storage);
            record->Stride = paddedStride;
            record->PixelByteCount = int32_t(reserved);
            return reserved;
        case OrvaneS3TCTextureEncoding: {
            int32_t subFormat = builder.subFormat;
            if (subFormat == OrvaneS3TCBestMatch) {
                // Decided once, on the first level: every level and image of a texture shares
                // its one SubFormat.
                subFormat = EncodeS3TCImageBestAlpha(width, height, sourceStride, source, storage);
                builder.subFormat = subFormat;
            } else {
                EncodeS3TCImage(subFormat, width, height, sourceStride, source, storage);
            }
            record->Stride = int32_t(subFormat < 2 ? sourceStride / 2 : sourceStride);
            record->PixelByteCount = int32_t(reserved);
            return reserved;
        }
        case OrvaneQuibTextureEncoding: {
            int32_t written = QuibEncode(width, height, sourceStride, source, builder.quibFlags,
                                         builder.quibRatio, storage);
            record->PixelByteCount = written;
            return written;
        }
        default:
            return 0;
    }
}

void EncodeImage(orvane_texture_builder& builder, int32_t width, int32_t height, int32_t stride,
                 int32_t levelCount, const uint8_t* pixels) {
    int32_t strides[32];
    int64_t reserved[32];
    int64_t total = 0;
    for (int32_t level = 0; level < levelCount; ++level) {
        int32_t w = builder.width >> level, h = builder.height >> level;
        reserved[level] = ReservedLevelBytes(builder, w, h, &strides[level]);
        if (reserved[level] < 0 || total + reserved[level] > INT32_MAX) {
            ORVANE_LOG_ERROR(OrvaneTextureOrigin,
                             "Texture image of %d x %d pixels and %d MIP "
                             "levels is too large",
                             builder.width, builder.height, levelCount);
            return;
        }
        total += reserved[level];
    }
    size_t levelsOffset = AlignUp(sizeof(EncodedImage), kPointerAlignment);
    size_t pixelsOffset = AlignUp(
        levelsOffset + sizeof(orvane_texture_mip_level) * size_t(levelCount), kPointerAlignment);
    auto* block =
        static_cast<uint8_t*>(ORVANE_ALLOCATE(kPointerAlignment, pixelsOffset + size_t(total)));
    if (block == nullptr) return;
    auto* image = reinterpret_cast<EncodedImage*>(block);
    image->next = nullptr;
    image->levelCount = 0;
    image->levels = reinterpret_cast<orvane_texture_mip_level*>(block + levelsOffset);
    image->pixels = block + pixelsOffset;
    // Stride padding and unused Quib reserve go into files: never leave them undefined.
    std::memset(image->pixels, 0, size_t(total));

    int64_t written = 0, offset = 0;
    for (int32_t level = 0; level < levelCount; ++level) {
        int32_t w = builder.width >> level, h = builder.height >> level;
        const uint8_t* source = pixels;
        int64_t sourceStride = stride;
        uint8_t* scaled = nullptr;
        if (w != width || h != height) sourceStride = int64_t(w) * 4;  // a scaled level's rows
        if ((w != width || h != height) && w > 0 && h > 0) {
            scaled = static_cast<uint8_t*>(ORVANE_ALLOCATE(4, size_t(w) * size_t(h) * 4));
            if (scaled == nullptr || !ScaleImage32(builder.downsamplingFilter, width, height,
                                                   stride, pixels, w, h, int64_t(w) * 4, scaled)) {
                ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Out of memory in texture image builder");
                if (scaled) ORVANE_DEALLOCATE(scaled);
                break;
            }
            source = scaled;
        }
        written += EncodeLevel(builder, w, h, sourceStride, source, strides[level], reserved[level],
                               image->pixels + offset, &image->levels[level]);
        offset += reserved[level];
        image->levelCount = level + 1;
        if (scaled) ORVANE_DEALLOCATE(scaled);
    }

    if (builder.tail) {
        builder.tail->next = image;
    } else {
        builder.head = image;
    }
    builder.tail = image;
    builder.imageCount += 1;
    builder.mipRecordCount += image->levelCount;
    builder.pixelByteCount += written;
}

size_t ResultingSize(const orvane_texture_builder& builder) {
    size_t size = AlignUp(sizeof(orvane_texture), kPointerAlignment);
    size = AlignUp(size + sizeof(orvane_texture_image) * size_t(builder.imageCount),
                   kPointerAlignment);
    size = AlignUp(size + sizeof(orvane_texture_mip_level) * size_t(builder.mipRecordCount),
                   kPointerAlignment);
    return size + size_t(builder.pixelByteCount);
}

orvane_texture* FillTexture(const orvane_texture_builder& builder, uint8_t* memory) {
    size_t imagesOffset = AlignUp(sizeof(orvane_texture), kPointerAlignment);
    size_t levelsOffset =
        AlignUp(imagesOffset + sizeof(orvane_texture_image) * size_t(builder.imageCount),
                kPointerAlignment);
    size_t pixelsOffset =
        AlignUp(levelsOffset + sizeof(orvane_texture_mip_level) * size_t(builder.mipRecordCount),
                kPointerAlignment);
    auto* texture = reinterpret_cast<orvane_texture*>(memory);
    auto* images = reinterpret_cast<orvane_texture_image*>(memory + imagesOffset);
    auto* levels = reinterpret_cast<orvane_texture_mip_level*>(memory + levelsOffset);
    uint8_t* pixels = memory + pixelsOffset;
    std::memset(texture, 0, sizeof *texture);
    texture->TextureType = builder.textureType;
    texture->Width = builder.width;
    texture->Height = builder.height;
    texture->Encoding = builder.encoding;
    texture->SubFormat = builder.subFormat;
    texture->Layout = builder.layout;
    texture->ImageCount = builder.imageCount;
    texture->Images = builder.imageCount ? images : nullptr;
    int32_t index = 0;
    for (const EncodedImage* image = builder.head; image != nullptr; image = image->next) {
        images[index].MIPLevelCount = image->levelCount;
        images[index].MIPLevels = levels;
        for (int32_t level = 0; level < image->levelCount; ++level) {
            const orvane_texture_mip_level& from = image->levels[level];
            levels[level].Stride = from.Stride;
            levels[level].PixelByteCount = from.PixelByteCount;
            levels[level].Pixels = pixels;
            Copy(size_t(from.PixelByteCount), from.Pixels, pixels);
            pixels += from.PixelByteCount;
        }
        levels += image->levelCount;
        ++index;
    }
    return texture;
}

}  // namespace
}  // namespace orvane

// ------------------------------------------------------------------------------------------
// Exported entry points.

using namespace orvane;

extern "C" {

ORVANE_API orvane_texture_builder* OrvaneBeginRawTexture(orvane_int32 Width, orvane_int32 Height,
                                                         const orvane_pixel_layout* Layout,
                                                         orvane_int32 StrideAlignment) {
    if (!CheckPixelLayout(Layout, "Layout")) return nullptr;
    orvane_texture_builder* builder =
        NewBuilder(Width, Height, OrvaneRawTextureEncoding, *Layout, 0);
    if (builder) builder->strideAlignment = StrideAlignment < 1 ? 1 : StrideAlignment;
    return builder;
}

ORVANE_API orvane_texture_builder* OrvaneBeginS3TCTexture(orvane_int32 Width, orvane_int32 Height,
                                                          orvane_int32 SubFormat) {
    // The best-match value makes the same builder as OrvaneBeginBestMatchS3TCTexture.
    if (S3TCBlockBytes(SubFormat) == 0 && SubFormat != OrvaneS3TCBestMatch) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Unrecognized S3TC texture format (%d)", SubFormat);
        return nullptr;
    }
    return NewBuilder(Width, Height, OrvaneS3TCTextureEncoding,
                      *OrvaneGetS3TCPixelLayout(SubFormat), SubFormat);
}

ORVANE_API orvane_texture_builder* OrvaneBeginBestMatchS3TCTexture(orvane_int32 Width,
                                                                   orvane_int32 Height) {
    return NewBuilder(Width, Height, OrvaneS3TCTextureEncoding,
                      *OrvaneGetS3TCPixelLayout(OrvaneS3TCBestMatch), OrvaneS3TCBestMatch);
}

ORVANE_API orvane_texture_builder* OrvaneBeginQuibTexture(orvane_int32 Width, orvane_int32 Height,
                                                          orvane_int32 CompressionRatio,
                                                          orvane_int32 Flags) {
    orvane_texture_builder* builder =
        NewBuilder(Width, Height, OrvaneQuibTextureEncoding,
                   *OrvaneGetQuibPixelLayout(Flags & ORVANE_QUIB_ALPHA_FLAG), Flags);
    if (builder) {
        builder->quibRatio = CompressionRatio < 1 ? 1 : CompressionRatio;
        builder->quibFlags = Flags;
    }
    return builder;
}

ORVANE_API void OrvaneSetImageScalingFilter(orvane_texture_builder* Builder,
                                            orvane_int32 UpsamplingFilter,
                                            orvane_int32 DownsamplingFilter) {
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Builder, );
    if (UpsamplingFilter < 0 || UpsamplingFilter > 2 || DownsamplingFilter < 0 ||
        DownsamplingFilter > 2) {
        ORVANE_LOG_ERROR(
            OrvaneTextureOrigin, "Invalid pixel filter specified (%d)",
            (UpsamplingFilter < 0 || UpsamplingFilter > 2) ? UpsamplingFilter : DownsamplingFilter);
        return;
    }
    Builder->upsamplingFilter = UpsamplingFilter;
    Builder->downsamplingFilter = DownsamplingFilter;
    if (UpsamplingFilter != DownsamplingFilter) {
        LogMessage(OrvaneWarningMessage, OrvaneNotImplementedOrigin, "%s",
                   "Image scaler does not currently support different filters for upsampling "
                   "and downsampling");
    }
}

ORVANE_API void OrvaneEncodeImage(orvane_texture_builder* Builder, orvane_int32 Width,
                                  orvane_int32 Height, orvane_int32 Stride,
                                  orvane_int32 MIPLevelCount, const void* Pixels) {
    ORVANE_TIMING_BLOCK("OrvaneEncodeImage");
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Builder, );
    if (MIPLevelCount < 1 || MIPLevelCount > 32) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "MIPLevelCount %d is out of range [1, 33)",
                         MIPLevelCount);
        return;
    }
    if (Width < 1 || Height < 1) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Image size %d x %d is empty", Width, Height);
        return;
    }
    if (!CheckImageGeometry(Width, Height, 4, Stride, "Image")) return;
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Pixels, );
    EncodeImage(*Builder, Width, Height, Stride, MIPLevelCount,
                static_cast<const uint8_t*>(Pixels));
}

ORVANE_API orvane_int32 OrvaneGetResultingTextureSize(const orvane_texture_builder* Builder) {
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Builder, 0);
    size_t size = ResultingSize(*Builder);
    if (size > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Texture of more than %d bytes is not possible",
                         INT32_MAX);
        return 0;
    }
    return int32_t(size);
}

ORVANE_API orvane_texture* OrvaneEndTextureInPlace(orvane_texture_builder* Builder, void* Memory) {
    if (Builder == nullptr) return nullptr;
    orvane_texture* texture = nullptr;
    if (Memory != nullptr && ResultingSize(*Builder) <= INT32_MAX)
        texture = FillTexture(*Builder, static_cast<uint8_t*>(Memory));
    FreeBuilder(Builder);
    return texture;
}

ORVANE_API orvane_texture* OrvaneEndTexture(orvane_texture_builder* Builder) {
    if (Builder == nullptr) return nullptr;
    size_t size = ResultingSize(*Builder);
    void* memory = size <= INT32_MAX ? ORVANE_ALLOCATE(kPointerAlignment, size) : nullptr;
    if (memory == nullptr) {
        FreeBuilder(Builder);
        return nullptr;
    }
    return OrvaneEndTextureInPlace(Builder, memory);
}

}  // extern "C"
