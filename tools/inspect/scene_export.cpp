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

// p through the upper 3 × 3 of m transposed: a normal of the scene back into a mesh whose
// node transform is m (the inverse transpose of m's inverse).
Vector3 transposedDirection(const Matrix4& m, const Vector3& n) {
    return {m.m[0] * n.x + m.m[1] * n.y + m.m[2] * n.z, m.m[4] * n.x + m.m[5] * n.y + m.m[6] * n.z,
            m.m[8] * n.x + m.m[9] * n.y + m.m[10] * n.z};
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

bool exportScene(const char* outFile, const ImportRecord& record, const Vector3* positions,
                 const Vector3* normals, int32_t N, std::string& error) {
    std::string extension = std::filesystem::path(outFile).extension().string();
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    const SceneFormat* format = nullptr;
    for (const SceneFormat& candidate : sceneFormats)
        if (extension == candidate.extension && exporterAvailable(candidate.exporterId))
            format = &candidate;
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
            const Vector3 p = sourcePosition(record, positions[r]);
            const Vector4 local = toMesh * Vector4{p.x, p.y, p.z, 1.0f};
            mesh.mVertices[v] = aiVector3D(local.x, local.y, local.z);
            if (mesh.mNormals) {
                const Vector3 n = transposedDirection(toScene, sourceDirection(record, normals[r]));
                const float l = length(n);
                if (l > 0.0f && std::isfinite(l))
                    mesh.mNormals[v] = aiVector3D(n.x / l, n.y / l, n.z / l);
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
