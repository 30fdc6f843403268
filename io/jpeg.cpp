// JPEG decoding through libjpeg from memory. The library reports a fatal error by calling
// its error manager's error_exit, which must not return: ours jumps back to the decoder with
// setjmp/longjmp, so a corrupt file is refused instead of ending the program. The warning
// that the data ended before the image (the library would fill the rest with grey) is refused
// the same way; other warnings (an unknown JFIF revision, extraneous bytes before a marker)
// leave a usable picture and are ignored. No message is ever printed.
#include "io/jpeg.h"

#include "io/messages.h"
#include "io/text_scanner.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

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

// Level −1 is a warning about bad data; higher levels are trace messages, ignored. Only a
// premature end of the data refuses the file.
void onMessage(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
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
    uint64_t availableBytes;
    uint8_t* pixels; // width × height × 3, owned by the caller's holder once allocated
    bool tooLarge;
    bool overBudget;
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
    if (uint64_t(job->info.image_width) * job->info.image_height * 3 > job->availableBytes) {
        job->overBudget = true;
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
                      std::string& error, int32_t maxSide, uint64_t availableBytes) {
    // Anything but a JPEG's start of image marker: say what the file looks like, if anything.
    const char* lookalike = imageLookalike(data, size);
    if (lookalike && !(size >= 2 && data[0] == 0xFF && data[1] == 0xD8)) {
        return fileError(error, fileName,
                         std::string("JPEG data: the file looks like ") + lookalike +
                             ", not a JPEG");
    }
    // Zeroed, so that destroying a decompressor whose creation failed is harmless.
    std::unique_ptr<JpegJob> job(new JpegJob());
    job->data = data;
    job->size = size;
    job->maxSide = maxSide;
    job->availableBytes = availableBytes;
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
    } else if (job->overBudget) {
        part = "JPEG header";
        what = "the image is " + std::to_string(width) + " by " + std::to_string(height) +
               " pixels and needs " + formatBytes(uint64_t(width) * uint64_t(height) * 3) +
               " to decode; " + formatBytes(availableBytes) + " are available";
    } else if (job->notColour) {
        part = "JPEG header";
        what = countOf(job->info.num_components, "colour component", "colour components") +
               " (only 3-component colour images are read)";
    } else if (!decoded && !job->outOfMemory) {
        what = job->errors.message;
    }
    const bool outOfMemory = job->outOfMemory;
    jpeg_destroy_decompress(&job->info);
    if (outOfMemory)
        throw std::bad_alloc();
    if (!decoded)
        return fileError(error, fileName, std::string(part) + ": " + what);
    out.width = width;
    out.height = height;
    out.channels = 3;
    out.components = 3;
    out.pixels = std::move(pixels);
    return true;
}
