#include "engine/render/image_decode.h"

#include "engine/core/debug_log.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ---------------------------------------------------------------- thumbnail

struct Span {
    int32_t first;
    int32_t last;
};

// Box of source positions around `centre`: trunc(centre - step/2) to
// trunc(centre + step/2) inclusive, clipped to 0 .. limit - 1. Clamping both
// ends clips exactly when the box meets the area, and keeps at least one
// position when float drift would push a box past the edge.
Span BoxSpan(float centre, float step, int32_t limit) {
    int32_t first = static_cast<int32_t>(centre - step * 0.5f);
    int32_t last = static_cast<int32_t>(centre + step * 0.5f);
    return {std::clamp(first, 0, limit - 1), std::clamp(last, 0, limit - 1)};
}

// ---------------------------------------------------------------- PNG

// Everything the decoder keeps across libpng's longjmp lives here, in the
// frame of the caller of ReadImage, so none of it becomes indeterminate.
struct PngJob {
    const uint8_t* data;
    size_t size;
    size_t pos;
    uint32_t dstSize;
    png_structp png;
    png_infop info;
    uint8_t* pixels;  // BGRA, not yet premultiplied; malloc'd
    uint32_t width;
    uint32_t height;
    char message[160];
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp msg) {
    PngJob* job = static_cast<PngJob*>(png_get_error_ptr(png));
    // libpng may pass text from its own stack frame: copy it before the jump.
    std::snprintf(job->message, sizeof job->message, "%s", msg ? msg : "libpng error");
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
    PngJob* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (length > job->size - job->pos) png_error(png, "unexpected end of data");
    std::memcpy(out, job->data + job->pos, length);
    job->pos += length;
}

// Decodes into job->pixels. libpng leaves this function by longjmp on any
// error, so no object with a destructor may live in it.
bool ReadImage(PngJob* job) {
    png_structp png = job->png;
    png_infop info = job->info;
    if (setjmp(png_jmpbuf(png))) return false;

    png_set_read_fn(png, job, ReadFromMemory);
    png_set_user_limits(png, kDecodeMaxSide, kDecodeMaxSide);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    uint64_t bytes = uint64_t(width) * height * 4;
    if (width == 0 || height == 0 || bytes > job->dstSize) {
        std::snprintf(job->message, sizeof job->message, "%ux%u does not fit %u bytes",
                      unsigned(width), unsigned(height), unsigned(job->dstSize));
        return false;
    }

    // Every format becomes 8-bit B, G, R, A; no gamma conversion is asked for.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4) {
        std::snprintf(job->message, sizeof job->message, "unexpected row size");
        return false;
    }

    job->pixels = static_cast<uint8_t*>(std::calloc(bytes, 1));
    if (!job->pixels) {
        std::snprintf(job->message, sizeof job->message, "out of memory");
        return false;
    }
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, job->pixels + size_t(y) * width * 4, nullptr);
    png_read_end(png, nullptr);
    job->width = width;
    job->height = height;
    return true;
}

}  // namespace

void* Lib_MakeThumbnail(void* dst, int32_t w, int32_t h, const void* src) {
    if (w <= 0 || h <= 0 || !dst || !src) return dst;
    const float sx = float(kThumbSourceWidth) / float(w);
    const float sy = float(kThumbSourceHeight) / float(h);
    const uint8_t* in = static_cast<const uint8_t*>(src);
    uint8_t* out = static_cast<uint8_t*>(dst);

    // Per output row: the channel sums of each source column over the row's
    // box first, then of the columns of each box.
    uint32_t columns[kThumbSourceWidth * 4];
    float fy = 0.0f;
    for (int32_t j = 0; j < h; ++j, fy += sy) {
        const Span rows = BoxSpan(fy, sy, kThumbSourceHeight);
        std::memset(columns, 0, sizeof columns);
        for (int32_t y = rows.first; y <= rows.last; ++y) {
            const uint8_t* p = in + size_t(y) * kThumbSourceStride * 4;
            for (int32_t c = 0; c < kThumbSourceWidth * 4; ++c) columns[c] += p[c];
        }
        const uint32_t height = uint32_t(rows.last - rows.first + 1);
        uint8_t* o = out + size_t(j) * size_t(w) * 4;
        float fx = 0.0f;
        for (int32_t i = 0; i < w; ++i, fx += sx, o += 4) {
            const Span cols = BoxSpan(fx, sx, kThumbSourceWidth);
            uint32_t sum[4] = {0, 0, 0, 0};
            for (int32_t x = cols.first; x <= cols.last; ++x)
                for (int k = 0; k < 4; ++k) sum[k] += columns[x * 4 + k];
            const uint32_t n = height * uint32_t(cols.last - cols.first + 1);
            for (int k = 0; k < 4; ++k) o[k] = uint8_t(std::min<uint32_t>(sum[k] / n, 255));
        }
    }
    return dst;
}

ImageSize Lib_WicDecode(void*, void* dst, uint32_t dstSize, const void* data, uint32_t size) {
    PngJob job{};
    job.data = static_cast<const uint8_t*>(data);
    job.size = data ? size : 0;
    job.dstSize = dst ? dstSize : 0;
    std::snprintf(job.message, sizeof job.message, "cannot create decoder");
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, OnPngError, OnPngWarning);
    if (job.png) job.info = png_create_info_struct(job.png);
    const bool ok = job.png && job.info && ReadImage(&job);
    png_destroy_read_struct(&job.png, &job.info, nullptr);

    ImageSize result{0, 0};
    if (ok) {
        const uint8_t* in = job.pixels;
        uint8_t* out = static_cast<uint8_t*>(dst);
        const size_t count = size_t(job.width) * job.height;
        for (size_t i = 0; i < count; ++i, in += 4, out += 4) {
            const uint32_t a = in[3];
            for (int k = 0; k < 3; ++k) out[k] = uint8_t((in[k] * a + 127) / 255);
            out[3] = uint8_t(a);
        }
        result = {job.width, job.height};
    } else {
        Lib_DebugPrintf("Error -> Lib_WicDecode(%u bytes: %s)\n", unsigned(size), job.message);
    }
    std::free(job.pixels);
    return result;
}
