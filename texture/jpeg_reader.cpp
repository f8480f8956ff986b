// JPEG files through libjpeg: a memory source over the file bytes and an
// error manager that returns to the reader instead of ending the process.
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>

#include "geometry/math.h"
#include "texture/byte_reader.h"
#include "texture/image_readers.h"

namespace {
struct JpegErrorManager {
    jpeg_error_mgr base;  // first, so libjpeg's pointer is also ours
    jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}
void JpegOutputMessage(j_common_ptr) {}
void JpegEmitMessage(j_common_ptr, int) {}
void JpegFormatMessage(j_common_ptr, char* buffer) { buffer[0] = '\0'; }

struct JpegSource {
    jpeg_source_mgr base;
    const BYTE* bytes;
    size_t size;
    bool served;
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

// The most pixels a byte of a file may stand for: twice what a
// Huffman-coded file can hold (see DecodeJpeg).
constexpr uint64_t kMostPixelsPerByte = 1024;
// Arithmetic coding has no such floor; up to this many pixels the work and
// memory of a decode stay modest whatever the file's size.
constexpr uint64_t kMostArithmeticPixelsUnbounded = 4096 * 4096;

// Every scan of a progressive file is a pass over all of the image's
// blocks, however few bytes it takes, so a file of repeated scans makes
// the decoder work without end. Encoders write about ten; a hundred is
// far more than any file needs.
constexpr int kMostScans = 100;

void LimitScans(j_common_ptr cinfo) {
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMostScans)
        JpegErrorExit(cinfo);
}

void SourceNoop(j_decompress_ptr) {}

// The whole file on the first call. A decoder that asks again has run
// past the end of a truncated file: it gets an end-of-image marker, so the
// rest of the image decodes as empty data and the read always ends (serving
// the file again would let it wander through the file's own bytes anew).
boolean SourceFill(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<JpegSource*>(cinfo->src);
    if (!source->served) {
        source->served = true;
        source->base.next_input_byte = source->bytes;
        source->base.bytes_in_buffer = source->size;
    } else {
        source->base.next_input_byte = kEndOfImage;
        source->base.bytes_in_buffer = sizeof(kEndOfImage);
    }
    return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    const size_t n = size_t(count) < src->bytes_in_buffer ? size_t(count) : src->bytes_in_buffer;
    src->next_input_byte += n;
    src->bytes_in_buffer -= n;
}

struct JpegDecode {
    jpeg_decompress_struct cinfo;
    JpegErrorManager error;
    jpeg_progress_mgr progress{};
    BYTE* pixels = nullptr;
};

HRESULT DecodeJpeg(ImageLevel* root, JpegDecode& d, const BYTE* bytes, UINT byteCount) {
    jpeg_decompress_struct& cinfo = d.cinfo;
    if (setjmp(d.error.jump)) return E_FAIL;

    auto* source = static_cast<JpegSource*>(
        (*cinfo.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_PERMANENT, sizeof(JpegSource)));
    source->bytes = bytes;
    source->size = byteCount;
    source->served = false;
    source->base.init_source = SourceNoop;
    source->base.fill_input_buffer = SourceFill;
    source->base.skip_input_data = SourceSkip;
    source->base.resync_to_restart = jpeg_resync_to_restart;
    source->base.term_source = SourceNoop;
    source->base.next_input_byte = nullptr;
    source->base.bytes_in_buffer = 0;
    cinfo.src = &source->base;
    d.progress.progress_monitor = LimitScans;
    cinfo.progress = &d.progress;

    jpeg_read_header(&cinfo, TRUE);
    // Each 8x8 block of the image takes at least one bit of a Huffman-coded
    // scan, so a whole file holds at most 512 pixels a byte. A file that
    // claims more than twice that is damaged or cut short: the decoder
    // would read the missing data as grey, after filling gigabytes (a
    // progressive file's coefficients are all allocated and cleared below)
    // for a header of a few hundred bytes. An arithmetic-coded scan can
    // spend far less than a bit on a block (a flat 4096 x 4096 image takes
    // a few hundred bytes), so there only large claims are held to it.
    const uint64_t pixels = uint64_t(cinfo.image_width) * cinfo.image_height;
    if (pixels / kMostPixelsPerByte > byteCount && (!cinfo.arith_code || pixels > kMostArithmeticPixelsUnbounded))
        return E_FAIL;
    if (!IsMmxAvailable()) cinfo.dct_method = JDCT_IFAST;
    jpeg_start_decompress(&cinfo);

    const UINT width = cinfo.output_width, height = cinfo.output_height;
    const int components = cinfo.output_components;
    UINT pixelBytes;
    if (components == 1) {
        root->format = D3DFMT_L8;
        pixelBytes = 1;
    } else if (components == 3) {
        root->format = D3DFMT_X8R8G8B8;
        pixelBytes = 4;
    } else {
        return E_FAIL;
    }
    root->width = width;
    root->height = height;
    root->depth = 1;
    root->rowPitch = width * pixelBytes;  // libjpeg caps sides at 65500
    root->slicePitch = 0;
    if (!root->decodePixels) return S_OK;

    d.pixels = AllocateBlock(uint64_t(root->rowPitch) * height);
    if (!d.pixels) return E_OUTOFMEMORY;
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                width * JDIMENSION(components), 1);
    while (cinfo.output_scanline < height) {
        BYTE* out = d.pixels + size_t(cinfo.output_scanline) * root->rowPitch;
        if (jpeg_read_scanlines(&cinfo, row, 1) != 1) return E_FAIL;
        const JSAMPLE* in = row[0];
        if (components == 1) {
            std::memcpy(out, in, width);
        } else {
            for (UINT x = 0; x < width; ++x, in += 3, out += 4) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = 0;
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    return S_OK;
}
}  // namespace

HRESULT ReadJpegImage(ImageLevel* root, const BYTE* bytes, UINT byteCount) {
    if (!bytes || byteCount == 0) return E_FAIL;
    JpegDecode d;
    d.cinfo.err = jpeg_std_error(&d.error.base);
    d.error.base.error_exit = JpegErrorExit;
    d.error.base.output_message = JpegOutputMessage;
    d.error.base.emit_message = JpegEmitMessage;
    d.error.base.format_message = JpegFormatMessage;
    if (setjmp(d.error.jump)) {
        jpeg_destroy_decompress(&d.cinfo);
        return E_FAIL;
    }
    jpeg_create_decompress(&d.cinfo);
    const HRESULT hr = DecodeJpeg(root, d, bytes, byteCount);
    jpeg_destroy_decompress(&d.cinfo);
    if (FAILED(hr)) {
        delete[] d.pixels;
        return hr;
    }
    if (d.pixels) {
        root->pixels = d.pixels;
        root->ownsPixels = true;
    }
    return S_OK;
}
