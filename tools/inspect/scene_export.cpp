#include "tools/inspect/scene_export.h"

#include "io/file_contents.h"
#include "io/messages.h"

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <memory>

namespace {

struct SceneFormat {
    const char* extension;
    const char* exporterId; // assimp's name of the exporter
};

const SceneFormat sceneFormats[] = {{".obj", "obj"},     {".gltf", "gltf2"}, {".glb", "glb2"},
                                    {".dae", "collada"}, {".ply", "ply"},    {".stl", "stl"},
                                    {".fbx", "fbx"}};

bool exporterAvailable(const char* id) {
    Assimp::Exporter exporter;
    for (size_t i = 0; i < exporter.GetExportFormatCount(); ++i)
        if (std::string(exporter.GetExportFormatDescription(i)->id) == id)
            return true;
    return false;
}

// d through the upper 3 × 3 of m, or of m transposed.
Vector3 linear(const Matrix4& m, const Vector3& d) {
    return {m.m[0] * d.x + m.m[4] * d.y + m.m[8] * d.z, m.m[1] * d.x + m.m[5] * d.y + m.m[9] * d.z,
            m.m[2] * d.x + m.m[6] * d.y + m.m[10] * d.z};
}
Vector3 transposed(const Matrix4& m, const Vector3& d) {
    return {m.m[0] * d.x + m.m[1] * d.y + m.m[2] * d.z, m.m[4] * d.x + m.m[5] * d.y + m.m[6] * d.z,
            m.m[8] * d.x + m.m[9] * d.y + m.m[10] * d.z};
}

// The placement's rotation R, and its transpose.
Vector3 rotated(const ImportRecord& record, const Vector3& d) {
    const float(*R)[3] = record.rotation;
    return {R[0][0] * d.x + R[0][1] * d.y + R[0][2] * d.z,
            R[1][0] * d.x + R[1][1] * d.y + R[1][2] * d.z,
            R[2][0] * d.x + R[2][1] * d.y + R[2][2] * d.z};
}

// v turned by the rotation that takes the unit vector a to the unit vector b (about a × b):
// v·c + w × v + w·(w·v)/(1 + c) with w = a × b, c = a·b. For b opposite a, where that turn
// is not defined, b itself.
Vector3 turned(const Vector3& v, const Vector3& a, const Vector3& b) {
    const Vector3 w = cross(a, b);
    const float c = dot(a, b);
    if (!(c > -0.999f))
        return b;
    return v * c + cross(w, v) + w * (dot(w, v) / (1.0f + c));
}

Vector3 unit(const Vector3& v) {
    const float l = length(v);
    return l > 0.0f ? v / l : v;
}

} // namespace

std::string sceneFormatList() {
    std::string list;
    std::vector<const char*> available;
    for (const SceneFormat& format : sceneFormats)
        if (exporterAvailable(format.exporterId))
            available.push_back(format.extension);
    for (size_t i = 0; i < available.size(); ++i)
        list += std::string(i == 0                      ? ""
                            : i + 1 == available.size() ? " and "
                                                        : ", ") +
                available[i];
    return list;
}

namespace {

std::string lowerExtension(const std::string& file) {
    std::string extension = std::filesystem::path(file).extension().string();
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

const SceneFormat* formatOf(const std::string& file) {
    const std::string extension = lowerExtension(file);
    for (const SceneFormat& format : sceneFormats)
        if (extension == format.extension && exporterAvailable(format.exporterId))
            return &format;
    return nullptr;
}

} // namespace

std::string sceneExtensionFor(const std::string& sourceFile) {
    if (formatOf(sourceFile))
        return lowerExtension(sourceFile);
    return lowerExtension(sourceFile) == ".zae" ? ".dae" : ".glb";
}

bool exportScene(const char* outFile, const ImportRecord& record, const Vector3* restPositions,
                 const Vector3* restNormals, const Vector3* positions, const Vector3* normals,
                 int32_t N, std::string& error) {
    const SceneFormat* format = formatOf(outFile);
    if (!format)
        return fileError(error, outFile,
                         "the extension names no format assimp writes here (" + sceneFormatList() +
                             ")");
    for (int32_t r : record.renderVertex)
        if (r >= N)
            return fileError(error, outFile,
                             "the import record maps a source vertex to render vertex " +
                                 std::to_string(r) + ", but the model has " + std::to_string(N));

    // The source, as face-import read it.
    FileContents source;
    if (!sourceUnchanged(record, error) ||
        !openFileContents(source, record.absolute.c_str(), error))
        return false;
    Assimp::Importer importer;
    if (!importer.ReadFile(record.absolute,
                           aiProcess_Triangulate | aiProcess_ValidateDataStructure))
        return fileError(error, record.absolute,
                         std::string("cannot read (") + importer.GetErrorString() + ")");
    const std::unique_ptr<aiScene> scene(importer.GetOrphanedScene());

    size_t next = 0;
    for (size_t u = 0; u < record.meshes.size(); ++u) {
        const unsigned index = unsigned(record.meshes[u]);
        if (index >= scene->mNumMeshes ||
            scene->mMeshes[index]->mNumVertices != unsigned(record.meshVertices[u]))
            return fileError(error, record.absolute,
                             "mesh " + std::to_string(index) +
                                 " is not as the import record says; import the file again");
        aiMesh& mesh = *scene->mMeshes[index];
        const Matrix4& toScene = record.meshTransforms[u];
        const Matrix4 toMesh = Matrix4::inverse(toScene);
        for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
            const int32_t r = record.renderVertex[next++];
            if (r < 0)
                continue;
            // The move, from model units back to the scene (R transposed, over the scale),
            // then into the mesh (the inverse node transform's linear part).
            const Vector3 move = positions[r] - restPositions[r];
            if (!(move == Vector3{0.0f, 0.0f, 0.0f})) {
                const Vector3 d = linear(toMesh, sourceDirection(record, move) / record.scale);
                mesh.mVertices[v] += aiVector3D(d.x, d.y, d.z);
            }
            // The normal: into model units (the inverse transpose of toMesh, then R), turned
            // as its render vertex's turned, and back.
            if (mesh.mNormals && !(normals[r] == restNormals[r])) {
                const aiVector3D& read = mesh.mNormals[v];
                const Vector3 inModel =
                    unit(rotated(record, transposed(toMesh, Vector3{read.x, read.y, read.z})));
                const Vector3 n = unit(transposed(
                    toScene,
                    sourceDirection(record, turned(inModel, unit(restNormals[r]), normals[r]))));
                if (isFinite(n))
                    mesh.mNormals[v] = aiVector3D(n.x, n.y, n.z);
            }
        }
    }

    if (!makeFolderFor(outFile, error))
        return false;
    Assimp::Exporter exporter;
    if (exporter.Export(scene.get(), format->exporterId, outFile) != AI_SUCCESS)
        return fileError(error, outFile,
                         std::string("cannot be written (") + exporter.GetErrorString() + ")");
    return true;
}
