// JPEG decoding through libjpeg from memory. The library reports a fatal error by calling
// its error manager's error_exit, which must not return: ours jumps back to the decoder with
// setjmp/longjmp, so a corrupt file is refused instead of ending the program. Warnings
// (corrupt or missing data the library would paper over) are refused the same way, and no
// message is ever printed.
#include "io/texture.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

#include <memory>
#include <new>

namespace {

struct JpegErrorManager {
    jpeg_error_mgr standard; // first, so that the library's pointer is ours too
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jumpOut(j_common_ptr info) {
    JpegErrorManager* manager = reinterpret_cast<JpegErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

void onError(j_common_ptr info) { jumpOut(info); }

// Level −1 is a warning about bad data; higher levels are trace messages, ignored.
void onMessage(j_common_ptr info, int level) {
    if (level < 0)
        jumpOut(info);
}

void printNothing(j_common_ptr) {}

// Everything the decoding touches between setjmp and a possible longjmp lives here, outside
// the frame of the function that calls setjmp, so nothing is clobbered by the jump.
struct JpegJob {
    jpeg_decompress_struct info;
    JpegErrorManager errors;
    const uint8_t* data;
    size_t size;
    int32_t maxSide;
    uint8_t* pixels; // width × height × 3, owned by the caller's holder once allocated
    bool tooLarge;
    bool notColour;
    bool outOfMemory;
};

// Runs the decoder; false when it stopped early (the reason is in the job). Only plain
// data crosses the longjmp: no object with a destructor is alive in this frame.
bool runDecoder(JpegJob* job) {
    if (setjmp(job->errors.jump))
        return false;
    jpeg_create_decompress(&job->info);
    jpeg_mem_src(&job->info, job->data, static_cast<unsigned long>(job->size));
    jpeg_read_header(&job->info, TRUE);
    if (job->info.image_width > JDIMENSION(job->maxSide) ||
        job->info.image_height > JDIMENSION(job->maxSide)) {
        job->tooLarge = true;
        return false;
    }
    if (job->info.num_components != 3) {
        job->notColour = true;
        return false;
    }
    jpeg_start_decompress(&job->info);
    if (job->info.output_components != 3) {
        job->notColour = true;
        return false;
    }
    const size_t rowBytes = size_t(job->info.output_width) * 3;
    job->pixels = new (std::nothrow) uint8_t[rowBytes * job->info.output_height];
    if (!job->pixels) {
        job->outOfMemory = true;
        return false;
    }
    // The first scanline, the picture's top row, goes to the start of the buffer.
    while (job->info.output_scanline < job->info.output_height) {
        JSAMPROW row = job->pixels + size_t(job->info.output_scanline) * rowBytes;
        jpeg_read_scanlines(&job->info, &row, 1);
    }
    jpeg_finish_decompress(&job->info);
    return true;
}

} // namespace

bool decodeJpegBuffer(DecodedImage& out, const uint8_t* data, size_t size, const char* fileName,
                      std::string& error, int32_t maxSide) {
    // Zeroed, so that destroying a decompressor whose creation failed is harmless.
    std::unique_ptr<JpegJob> job(new JpegJob());
    job->data = data;
    job->size = size;
    job->maxSide = maxSide;
    job->info.err = jpeg_std_error(&job->errors.standard);
    job->errors.standard.error_exit = onError;
    job->errors.standard.emit_message = onMessage;
    job->errors.standard.output_message = printNothing;

    const bool decoded = runDecoder(job.get());
    ArrayHolder<uint8_t> pixels(job->pixels);
    const int32_t width = int32_t(job->info.image_width);
    const int32_t height = int32_t(job->info.image_height);
    std::string what;
    const char* part = "JPEG data";
    if (job->tooLarge) {
        part = "JPEG header";
        what = "the image is " + std::to_string(width) + " by " + std::to_string(height) +
               " pixels, more than " + std::to_string(maxSide) + " on a side";
    } else if (job->notColour) {
        part = "JPEG header";
        what = std::to_string(job->info.num_components) +
               " colour components (only 3-component colour images are read)";
    } else if (!decoded && !job->outOfMemory) {
        what = job->errors.message;
    }
    const bool outOfMemory = job->outOfMemory;
    jpeg_destroy_decompress(&job->info);
    if (outOfMemory)
        throw std::bad_alloc();
    if (!decoded) {
        error = std::string(fileName) + ": " + part + ": " + what;
        return false;
    }
    out.width = width;
    out.height = height;
    out.channels = 3;
    out.components = 3;
    out.pixels = std::move(pixels);
    return true;
}
