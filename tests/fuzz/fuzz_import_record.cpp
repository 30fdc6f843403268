// Fuzzes the import record's reader on arbitrary bytes: no sanitizer report; a read record's
// meshes and vertices add up and its render vertices are −1 or more; a refusal is one line
// naming the file and leaves the record as it was.
#include "io/import_record.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ImportRecord record;
    std::string error;
    if (readImportRecordBuffer(record, reinterpret_cast<const char*>(data), size,
                               "import-record.txt", error)) {
        int64_t total = 0;
        for (int32_t count : record.meshVertices)
            total += count;
        if (record.meshes.size() != record.meshVertices.size() ||
            record.meshes.size() != record.meshTransforms.size() ||
            total != int64_t(record.renderVertex.size()))
            __builtin_trap();
        for (int32_t r : record.renderVertex)
            if (r < -1)
                __builtin_trap();
    } else if (error.rfind("import-record.txt", 0) != 0 || error.find('\n') != std::string::npos ||
               !record.meshes.empty() || !record.renderVertex.empty()) {
        __builtin_trap();
    }
    return 0;
}
