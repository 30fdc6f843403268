#include "tools/import/import_mesh.h"

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <meshoptimizer.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

int32_t triangleCount(const aiMesh& mesh) {
    int32_t count = 0;
    for (unsigned f = 0; f < mesh.mNumFaces; ++f)
        if (mesh.mFaces[f].mNumIndices == 3)
            ++count;
    return count;
}

// The transform of the first node (depth first) that lists mesh m, into transform.
bool findMeshTransform(aiMatrix4x4& transform, const aiNode* node, const aiMatrix4x4& parent,
                       unsigned m) {
    const aiMatrix4x4 global = parent * node->mTransformation;
    for (unsigned i = 0; i < node->mNumMeshes; ++i)
        if (node->mMeshes[i] == m) {
            transform = global;
            return true;
        }
    for (unsigned c = 0; c < node->mNumChildren; ++c)
        if (findMeshTransform(transform, node->mChildren[c], global, m))
            return true;
    return false;
}

void readDiffuseTexture(ImportedMesh& mesh, EmbeddedPicture& embedded, const aiScene& scene,
                        const aiMesh& source) {
    if (source.mMaterialIndex >= scene.mNumMaterials)
        return;
    const aiMaterial* material = scene.mMaterials[source.mMaterialIndex];
    aiString path;
    if (material->GetTexture(aiTextureType_DIFFUSE, 0, &path) != AI_SUCCESS &&
        material->GetTexture(aiTextureType_BASE_COLOR, 0, &path) != AI_SUCCESS)
        return;
    mesh.texture = path.C_Str();
    if (const aiTexture* picture = scene.GetEmbeddedTexture(path.C_Str())) {
        const size_t bytes = picture->mHeight == 0
                                 ? picture->mWidth
                                 : size_t(picture->mWidth) * picture->mHeight * sizeof(aiTexel);
        const uint8_t* data = reinterpret_cast<const uint8_t*>(picture->pcData);
        embedded.bytes.assign(data, data + bytes);
        embedded.width = static_cast<int32_t>(picture->mWidth);
        embedded.height = static_cast<int32_t>(picture->mHeight);
        if (mesh.texture.empty() || mesh.texture[0] != '*')
            mesh.texture = "*embedded";
    }
}

} // namespace

bool readImportedMesh(ImportedMesh& mesh, std::vector<MeshListing>& listing, int32_t& chosen,
                      EmbeddedPicture& embedded, const char* fileName, int32_t meshIndex,
                      std::string& error) {
    Assimp::Importer importer;
    // Validation refuses what would otherwise be read out of bounds, such as a face index
    // past the vertices.
    const aiScene* scene =
        importer.ReadFile(fileName, aiProcess_Triangulate | aiProcess_ValidateDataStructure);
    if (!scene || !scene->mRootNode) {
        error = std::string(fileName) + ": cannot read (" + importer.GetErrorString() + ")";
        return false;
    }
    listing.clear();
    int32_t largest = -1, largestCount = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh& source = *scene->mMeshes[m];
        listing.push_back({source.mName.C_Str(), static_cast<int32_t>(source.mNumVertices),
                           triangleCount(source)});
        if (listing.back().triangleCount > largestCount) {
            largest = static_cast<int32_t>(m);
            largestCount = listing.back().triangleCount;
        }
    }
    if (meshIndex >= static_cast<int32_t>(scene->mNumMeshes)) {
        error = std::string(fileName) + ": --mesh " + std::to_string(meshIndex) +
                " is not below the mesh count " + std::to_string(scene->mNumMeshes);
        return false;
    }
    chosen = meshIndex >= 0 ? meshIndex : largest;
    if (chosen < 0 || listing[chosen].triangleCount == 0) {
        error = std::string(fileName) + ": no triangles" +
                (chosen >= 0 ? " in mesh " + std::to_string(chosen) : std::string());
        return false;
    }
    const aiMesh& source = *scene->mMeshes[chosen];
    aiMatrix4x4 transform;
    findMeshTransform(transform, scene->mRootNode, aiMatrix4x4(), static_cast<unsigned>(chosen));
    // A mirroring node transform turns the winding over; undo that.
    const bool mirrored = transform.Determinant() < 0;

    ImportedMesh result;
    result.hasTexCoords = source.HasTextureCoords(0);
    // The triangles' corners, turned back to the front winding where the transform mirrors.
    std::vector<unsigned> corners;
    corners.reserve(3 * size_t(listing[chosen].triangleCount));
    for (unsigned f = 0; f < source.mNumFaces; ++f) {
        const aiFace& face = source.mFaces[f];
        if (face.mNumIndices == 3)
            for (int c = 0; c < 3; ++c)
                corners.push_back(face.mIndices[mirrored && c > 0 ? 3 - c : c]);
    }
    // Every vertex as it is compared and kept: transformed, v flipped, with its normal (zero
    // when the file has none).
    const size_t vertexCount = source.mNumVertices;
    std::vector<Vector3> positions(vertexCount), normals(vertexCount);
    std::vector<TexCoord> texCoords(vertexCount);
    for (size_t i = 0; i < vertexCount; ++i) {
        const aiVector3D p = transform * source.mVertices[i];
        positions[i] = {p.x, p.y, p.z};
        // Assimp's v = 0 is the bottom row of the picture, ours the top.
        if (result.hasTexCoords)
            texCoords[i] = {source.mTextureCoords[0][i].x,
                            static_cast<float>(1.0 - double(source.mTextureCoords[0][i].y))};
        if (source.HasNormals())
            normals[i] = {source.mNormals[i].x, source.mNormals[i].y, source.mNormals[i].z};
    }
    // The join compares bytes: -0 and +0 stay apart, a NaN normal joins only its own bits.
    // New indices follow the first use of each vertex over the corners; vertices no triangle
    // uses are left out.
    const meshopt_Stream streams[] = {{positions.data(), sizeof(Vector3), sizeof(Vector3)},
                                      {texCoords.data(), sizeof(TexCoord), sizeof(TexCoord)},
                                      {normals.data(), sizeof(Vector3), sizeof(Vector3)}};
    std::vector<unsigned> remap(vertexCount);
    const size_t joinedCount = meshopt_generateVertexRemapMulti(
        remap.data(), corners.data(), corners.size(), vertexCount, streams, 3);
    result.positions.resize(joinedCount);
    result.texCoords.resize(joinedCount);
    meshopt_remapVertexBuffer(result.positions.data(), positions.data(), vertexCount,
                              sizeof(Vector3), remap.data());
    meshopt_remapVertexBuffer(result.texCoords.data(), texCoords.data(), vertexCount,
                              sizeof(TexCoord), remap.data());
    meshopt_remapIndexBuffer(corners.data(), corners.data(), corners.size(), remap.data());
    // NaN or infinity would be written into the model, which then refuses them.
    for (size_t i = 0; i < joinedCount; ++i) {
        const Vector3& p = result.positions[i];
        const TexCoord& uv = result.texCoords[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z) ||
            !std::isfinite(uv.u) || !std::isfinite(uv.v)) {
            error = std::string(fileName) +
                    ": a vertex position or texture coordinate is not a finite number";
            return false;
        }
    }
    // Triangles that joining collapses are dropped; their vertices stay.
    for (size_t i = 0; i < corners.size(); i += 3) {
        const Triangle t = {{static_cast<int32_t>(corners[i]), static_cast<int32_t>(corners[i + 1]),
                             static_cast<int32_t>(corners[i + 2])}};
        if (t.index[0] != t.index[1] && t.index[1] != t.index[2] && t.index[2] != t.index[0])
            result.triangles.push_back(t);
    }
    if (result.triangles.empty()) {
        error = std::string(fileName) + ": no triangles in mesh " + std::to_string(chosen);
        return false;
    }
    readDiffuseTexture(result, embedded, *scene, source);
    mesh = std::move(result);
    return true;
}

bool parseAxis(Vector3& axis, const char* text) {
    float sign = 1.0f;
    if (*text == '-' || *text == '+')
        sign = *text++ == '-' ? -1.0f : 1.0f;
    if (std::strlen(text) != 1)
        return false;
    switch (*text) {
    case 'x':
        axis = {sign, 0.0f, 0.0f};
        return true;
    case 'y':
        axis = {0.0f, sign, 0.0f};
        return true;
    case 'z':
        axis = {0.0f, 0.0f, sign};
        return true;
    default:
        return false;
    }
}

Placement keptPlacement() { return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0.0f, 0.0f, 0.0f}, 1.0f}; }

bool computePlacement(Placement& placement, const std::vector<Vector3>& positions,
                      const Vector3& up, const Vector3& front, float height, std::string& error) {
    const Vector3 side = cross(up, front);
    Placement p;
    const Vector3 rows[3] = {side, up, front};
    for (int r = 0; r < 3; ++r) {
        p.rotation[r][0] = rows[r].x;
        p.rotation[r][1] = rows[r].y;
        p.rotation[r][2] = rows[r].z;
    }
    Vector3 low = positions[0], high = positions[0];
    for (const Vector3& q : positions) {
        low = {std::min(low.x, q.x), std::min(low.y, q.y), std::min(low.z, q.z)};
        high = {std::max(high.x, q.x), std::max(high.y, q.y), std::max(high.z, q.z)};
    }
    p.centre = (low + high) * 0.5f;
    const float extent = std::fabs(dot(high - low, up));
    if (!(extent > 0.0f) || !std::isfinite(extent)) {
        error = "the mesh has no height along its up axis";
        return false;
    }
    p.scale = height / extent;
    placement = p;
    return true;
}

void applyPlacement(std::vector<Vector3>& positions, const Placement& placement) {
    for (Vector3& q : positions) {
        const Vector3 d = q - placement.centre;
        const float(*r)[3] = placement.rotation;
        q = Vector3{r[0][0] * d.x + r[0][1] * d.y + r[0][2] * d.z,
                    r[1][0] * d.x + r[1][1] * d.y + r[1][2] * d.z,
                    r[2][0] * d.x + r[2][1] * d.y + r[2][2] * d.z} *
            placement.scale;
    }
}

void frontPlanarTexCoords(ImportedMesh& mesh) {
    Vector3 low = mesh.positions[0], high = mesh.positions[0];
    for (const Vector3& q : mesh.positions) {
        low = {std::min(low.x, q.x), std::min(low.y, q.y), 0.0f};
        high = {std::max(high.x, q.x), std::max(high.y, q.y), 0.0f};
    }
    const float width = high.x > low.x ? high.x - low.x : 1.0f;
    const float height = high.y > low.y ? high.y - low.y : 1.0f;
    for (size_t i = 0; i < mesh.positions.size(); ++i)
        mesh.texCoords[i] = {(mesh.positions[i].x - low.x) / width,
                             (high.y - mesh.positions[i].y) / height};
}
