#include "io/texture.h"

#include "io/file_contents.h"
#include "io/memory_budget.h"
#include "io/messages.h"

bool decodeImage(DecodedImage& out, const char* fileName, std::string& error) {
    const ImageFormat format = imageFormatOf(fileName);
    if (format == ImageFormat::none)
        return fileError(error, fileName,
                         "the name has neither \".tga\" nor \".jpg\" or \".jpeg\" in it");
    FileContents contents;
    if (!openFileContents(contents, fileName, error))
        return false;
    const uint8_t* data = reinterpret_cast<const uint8_t*>(contents.data);
    const uint64_t available = availableMemoryBytes();
    if (format == ImageFormat::tga)
        return decodeTgaBuffer(out, data, contents.size, fileName, error, maxImageSide, available);
    return decodeJpegBuffer(out, data, contents.size, fileName, error, maxImageSide, available);
}
