#include "tools/inspect/scene_export.h"

#include "io/data_folder.h"
#include "io/expression_names.h"
#include "io/file_contents.h"
#include "io/image_file.h"
#include "io/messages.h"
#include "io/prop.h"
#include "tools/common/prop_rig.h"
#include "tools/inspect/own_scene_file.h"

#include <assimp/Exporter.hpp>
#include <assimp/GltfMaterial.h>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <nlohmann/json.hpp>
#include <stb_image.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

namespace {

struct SceneFormat {
    const char* extension;
    const char* exporterId; // assimp's name of the exporter
    bool shapeKeys;         // the format holds shape keys (morph targets)
};

// assimp's FBX exporter is left out: neither Blender ("failed to read nested block
// sentinel") nor assimp's own reader opens what it writes.
const SceneFormat sceneFormats[] = {{".obj", "obj", false}, {".gltf", "gltf2", true},
                                    {".glb", "glb2", true}, {".dae", "collada", true},
                                    {".ply", "ply", false}, {".stl", "stl", false}};
const char* const unreadFbx = "assimp's FBX files open neither in Blender nor in assimp";

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

// One render mesh's pose: positions and normals against the rest ones (N each).
struct RenderPose {
    const Vector3* restPositions;
    const Vector3* restNormals;
    const Vector3* positions;
    const Vector3* normals;
};

// A source vertex (its position and normal, may be null, in the mesh's coordinates) posed as
// render vertex r is posed, through the placement and the mesh's node transform.
void poseVertex(aiVector3D& position, aiVector3D* normal, const RenderPose& pose, int32_t r,
                const ImportRecord& record, const Matrix4& toScene, const Matrix4& toMesh) {
    // The move, from model units back to the scene (R transposed, over the scale), then
    // into the mesh (the inverse node transform's linear part).
    const Vector3 move = pose.positions[r] - pose.restPositions[r];
    if (!(move == Vector3{0.0f, 0.0f, 0.0f})) {
        const Vector3 d = linear(toMesh, sourceDirection(record, move) / record.scale);
        position += aiVector3D(d.x, d.y, d.z);
    }
    // The normal: into model units (the inverse transpose of toMesh, then R), turned as its
    // render vertex's turned, and back.
    if (normal && !(pose.normals[r] == pose.restNormals[r])) {
        const Vector3 inModel = unitOrZero(
            rotated(record, transposed(toMesh, Vector3{normal->x, normal->y, normal->z})));
        const Vector3 n = unitOrZero(transposed(
            toScene, sourceDirection(record, turned(inModel, unitOrZero(pose.restNormals[r]),
                                                    pose.normals[r]))));
        if (isFinite(n))
            *normal = aiVector3D(n.x, n.y, n.z);
    }
}

// Every imported mesh of scene posed: the base pose in place, and each shape as a copy of
// its rest vertices, posed (posed[u] of imported mesh u: (1 + shapes) × V vertices).
void poseMeshes(std::vector<PosedMesh>& posed, aiScene& scene, const ImportRecord& record,
                const RenderPose& base, const RenderPose* shapes, size_t shapeCount) {
    size_t next = 0;
    for (size_t u = 0; u < record.meshes.size(); ++u) {
        aiMesh& mesh = *scene.mMeshes[record.meshes[u]];
        const unsigned V = mesh.mNumVertices;
        const Matrix4& toScene = record.meshTransforms[u];
        const Matrix4 toMesh = Matrix4::inverse(toScene);
        PosedMesh result;
        result.meshIndex = record.meshes[u];
        result.vertexCount = V;
        result.positions.assign(mesh.mVertices, mesh.mVertices + V);
        if (mesh.mNormals)
            result.normals.assign(mesh.mNormals, mesh.mNormals + V);
        for (size_t s = 0; s < shapeCount; ++s) {
            result.positions.insert(result.positions.end(), mesh.mVertices, mesh.mVertices + V);
            if (mesh.mNormals)
                result.normals.insert(result.normals.end(), mesh.mNormals, mesh.mNormals + V);
        }
        for (unsigned v = 0; v < V; ++v, ++next) {
            const int32_t r = record.renderVertex[next];
            if (r < 0)
                continue;
            for (size_t s = 0; s <= shapeCount; ++s) {
                const size_t at = s * V + v;
                poseVertex(result.positions[at], mesh.mNormals ? &result.normals[at] : nullptr,
                           s == 0 ? base : shapes[s - 1], r, record, toScene, toMesh);
            }
        }
        posed.push_back(std::move(result));
    }
}

// Replaces the mesh's shape keys (the source's own, if any) with one per shape, named after
// it: shape s's positions and normals (where the mesh has normals) are
// positions[s·V .. s·V + V − 1] and normals[the same], V the mesh's vertex count.
void setShapes(aiMesh& mesh, const ShapePose* shapes, size_t shapeCount,
               const aiVector3D* positions, const aiVector3D* normals) {
    for (unsigned s = 0; s < mesh.mNumAnimMeshes; ++s)
        delete mesh.mAnimMeshes[s];
    delete[] mesh.mAnimMeshes;
    const unsigned V = mesh.mNumVertices;
    mesh.mNumAnimMeshes = unsigned(shapeCount);
    mesh.mAnimMeshes = new aiAnimMesh*[shapeCount];
    for (size_t s = 0; s < shapeCount; ++s) {
        aiAnimMesh* shape = mesh.mAnimMeshes[s] = new aiAnimMesh;
        shape->mName = aiString(shapes[s].name);
        shape->mNumVertices = V;
        shape->mWeight = 0.0f;
        shape->mVertices = new aiVector3D[V];
        std::copy(positions + s * V, positions + (s + 1) * V, shape->mVertices);
        if (mesh.mNormals) {
            shape->mNormals = new aiVector3D[V];
            std::copy(normals + s * V, normals + (s + 1) * V, shape->mNormals);
        }
    }
}

// The posed meshes into the scene: the base pose in place, each shape an aiAnimMesh (which
// assimp's glTF exporter writes as a morph target). Every other mesh gets the same shapes at
// rest: a glTF mesh gathers the meshes of one node as its primitives, which must all carry
// the same morph targets.
void setPosedMeshes(aiScene& scene, const std::vector<PosedMesh>& posed, const ShapePose* shapes,
                    size_t shapeCount) {
    std::vector<bool> isPosed(scene.mNumMeshes, false);
    for (const PosedMesh& p : posed) {
        isPosed[p.meshIndex] = true;
        aiMesh& mesh = *scene.mMeshes[p.meshIndex];
        const unsigned V = p.vertexCount;
        std::copy(p.positions.begin(), p.positions.begin() + V, mesh.mVertices);
        if (mesh.mNormals)
            std::copy(p.normals.begin(), p.normals.begin() + V, mesh.mNormals);
        if (shapeCount > 0)
            setShapes(mesh, shapes, shapeCount, p.positions.data() + V,
                      mesh.mNormals ? p.normals.data() + V : nullptr);
    }
    for (unsigned m = 0; m < scene.mNumMeshes && shapeCount > 0; ++m) {
        if (isPosed[m])
            continue;
        const aiMesh& mesh = *scene.mMeshes[m];
        const std::vector<aiVector3D> rest(mesh.mVertices, mesh.mVertices + mesh.mNumVertices);
        std::vector<aiVector3D> positions, normals;
        for (size_t s = 0; s < shapeCount; ++s) {
            positions.insert(positions.end(), rest.begin(), rest.end());
            if (mesh.mNormals)
                normals.insert(normals.end(), mesh.mNormals, mesh.mNormals + mesh.mNumVertices);
        }
        setShapes(*scene.mMeshes[m], shapes, shapeCount, positions.data(), normals.data());
    }
}

// A picture file's bytes as glTF holds them (format "png" or "jpg"): PNG and JPEG as they
// are, any other format stb reads (BMP, TGA, GIF, ...) decoded and encoded again as PNG.
// False when the file cannot be opened or decoded.
bool gltfPicture(std::string& bytes, std::string& format, const std::string& file) {
    FileContents contents;
    std::string ignored;
    if (!openFileContents(contents, file.c_str(), ignored) || contents.size < 4)
        return false;
    const auto* data = reinterpret_cast<const unsigned char*>(contents.data);
    if (std::memcmp(data, "\x89PNG", 4) == 0 || (data[0] == 0xFF && data[1] == 0xD8)) {
        bytes.assign(contents.data, contents.size);
        format = data[0] == 0xFF ? "jpg" : "png";
        return true;
    }
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, int(std::min<size_t>(contents.size, INT32_MAX)),
                                            &width, &height, &channels, 0);
    if (!pixels)
        return false;
    const int kept = channels == 2 || channels == 4 ? 4 : 3;
    DecodedImage image;
    allocateImage(image, width, height, kept);
    for (size_t i = 0; i < size_t(width) * size_t(height); ++i)
        for (int c = 0; c < kept; ++c) {
            const int from = channels <= 2 ? (c < 3 ? 0 : 1) : c;
            image.pixels[i * size_t(kept) + size_t(c)] =
                pixels[i * size_t(channels) + size_t(from)];
        }
    stbi_image_free(pixels);
    format = "png";
    return encodePng(bytes, image);
}

// A picture file embedded as a glTF texture; null when it cannot be read or decoded.
aiTexture* embeddedPicture(const std::string& file) {
    std::string bytes, format;
    if (!gltfPicture(bytes, format, file))
        return nullptr;
    aiTexture* texture = new aiTexture;
    texture->mWidth = unsigned(bytes.size());
    texture->mHeight = 0; // compressed: mWidth bytes in pcData
    texture->pcData = new aiTexel[(bytes.size() + sizeof(aiTexel) - 1) / sizeof(aiTexel)];
    std::memcpy(texture->pcData, bytes.data(), bytes.size());
    std::strncpy(texture->achFormatHint, format.c_str(), sizeof texture->achFormatHint - 1);
    texture->mFilename = aiString(std::filesystem::path(file).filename().string());
    return texture;
}

// The file a material's texture path names, looked for as face-import looks for a skin: as
// written (relative to the source's folder), then by its last part (either slash) beside the
// source. Empty when neither is a regular file.
std::string textureFile(const std::string& path, const std::string& sourceFile) {
    namespace fs = std::filesystem;
    if (path.empty() || path[0] == '*')
        return "";
    std::string name = path;
    std::replace(name.begin(), name.end(), '\\', '/');
    const fs::path folder = fs::path(sourceFile).parent_path();
    std::error_code ignored;
    for (const fs::path& candidate : {fs::path(name).is_absolute() ? fs::path(name) : folder / name,
                                      folder / fs::path(name).filename()})
        if (fs::is_regular_file(candidate, ignored))
            return candidate.string();
    return "";
}

// Every texture that a material names becomes a picture embedded in the glTF file (a .glb
// holds it in its binary chunk, a .gltf in its .bin), so that the file never names a picture
// that is missing beside it or a placeholder of the source's format ("$texture_dummy.bmp").
// A texture that cannot be found or decoded is the skin face-import chose (skinFile, may be
// empty) on the materials of the imported meshes, and is left out on the others.
void embedTextures(aiScene& scene, const ImportRecord& record, const std::string& skinFile) {
    std::vector<bool> imported(scene.mNumMaterials, false);
    for (int32_t m : record.meshes)
        if (unsigned(m) < scene.mNumMeshes &&
            scene.mMeshes[m]->mMaterialIndex < scene.mNumMaterials)
            imported[scene.mMeshes[m]->mMaterialIndex] = true;
    std::vector<aiTexture*> textures(scene.mTextures, scene.mTextures + scene.mNumTextures);
    std::map<std::string, unsigned> embedded; // file -> index in textures
    const auto embed = [&](const std::string& file) -> int {
        const auto found = embedded.find(file);
        if (found != embedded.end())
            return int(found->second);
        aiTexture* texture = file.empty() ? nullptr : embeddedPicture(file);
        if (texture == nullptr)
            return -1;
        textures.push_back(texture);
        return int(embedded[file] = unsigned(textures.size() - 1));
    };
    for (unsigned m = 0; m < scene.mNumMaterials; ++m) {
        aiMaterial& material = *scene.mMaterials[m];
        for (int type = aiTextureType_NONE; type <= AI_TEXTURE_TYPE_MAX; ++type)
            for (unsigned i = 0; i < material.GetTextureCount(aiTextureType(type)); ++i) {
                aiString path;
                if (material.Get(AI_MATKEY_TEXTURE(type, i), path) != AI_SUCCESS ||
                    path.C_Str()[0] == '*')
                    continue;
                int index = embed(textureFile(path.C_Str(), record.absolute));
                if (index < 0 && imported[m] && type == aiTextureType_DIFFUSE)
                    index = embed(skinFile);
                const aiString replaced(index < 0 ? "" : "*" + std::to_string(index));
                material.AddProperty(&replaced, AI_MATKEY_TEXTURE(type, i));
            }
    }
    if (textures.size() == scene.mNumTextures)
        return;
    delete[] scene.mTextures;
    scene.mNumTextures = unsigned(textures.size());
    scene.mTextures = new aiTexture*[textures.size()];
    std::copy(textures.begin(), textures.end(), scene.mTextures);
}

// The shapes' names into a glTF file that assimp wrote: every mesh whose primitives hold
// shapeCount morph targets gets extras.targetNames (assimp writes the targets unnamed). A
// .glb is a header, the JSON chunk and the binary chunk; only the JSON chunk changes.
bool nameMorphTargets(const char* fileName, const ShapePose* shapes, size_t shapeCount, bool binary,
                      std::string& error) {
    std::string text;
    {
        FileContents contents;
        if (!openFileContents(contents, fileName, error))
            return false;
        text.assign(contents.data, contents.size);
    }
    size_t jsonStart = 0, jsonLength = text.size();
    uint32_t word[5];
    if (binary) {
        if (text.size() < 20)
            return fileError(error, fileName, "the written file is shorter than a glb header");
        std::memcpy(word, text.data(), 20);
        jsonStart = 20;
        jsonLength = word[3];
        if (jsonLength > text.size() - 20)
            return fileError(error, fileName, "the written file's JSON chunk runs past its end");
    }
    nlohmann::json gltf =
        nlohmann::json::parse(text.begin() + long(jsonStart),
                              text.begin() + long(jsonStart + jsonLength), nullptr, false);
    if (gltf.is_discarded())
        return fileError(error, fileName, "assimp wrote JSON that does not parse");
    nlohmann::json names = nlohmann::json::array();
    for (size_t s = 0; s < shapeCount; ++s)
        names.push_back(shapes[s].name);
    for (nlohmann::json& mesh : gltf["meshes"]) {
        bool all = !mesh["primitives"].empty();
        for (const nlohmann::json& primitive : mesh["primitives"])
            all = all && primitive.contains("targets") && primitive["targets"].size() == shapeCount;
        if (all) {
            mesh["extras"]["targetNames"] = names;
            mesh["weights"] = std::vector<float>(shapeCount, 0.0f);
        }
    }
    std::string json = gltf.dump();
    if (!binary)
        return writeFileContents(fileName, json.data(), json.size(), error);
    json.resize((json.size() + 3) / 4 * 4, ' '); // chunks are 4-byte aligned, JSON padded
    const std::string rest = text.substr(jsonStart + jsonLength);
    word[2] = uint32_t(20 + json.size() + rest.size());
    word[3] = uint32_t(json.size());
    std::string out(reinterpret_cast<const char*>(word), 20);
    out += json;
    out += rest;
    return writeFileContents(fileName, out.data(), out.size(), error);
}

// The animation into a .glb written here (scene_animation.h).
bool addAnimation(const char* fileName, const SceneAnimation& animation, size_t shapeCount,
                  std::string& error) {
    std::string glb, problem;
    {
        FileContents contents;
        if (!openFileContents(contents, fileName, error))
            return false;
        glb.assign(contents.data, contents.size);
    }
    if (!animateGlb(glb, animation, shapeCount, problem))
        return fileError(error, fileName, "the animation cannot be added: " + problem);
    return writeFileContents(fileName, glb.data(), glb.size(), error);
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

std::string sceneExtensionFor(const std::string& sourceFile, std::string& why) {
    why.clear();
    const std::string extension = lowerExtension(sourceFile);
    if (formatOf(sourceFile))
        return extension;
    if (extension == ".zae")
        return ".dae";
    if (extension == ".fbx")
        why = std::string("not .fbx: ") + unreadFbx;
    return ".glb";
}

std::string shapeExtensionFor(const std::string& sourceFile, std::string& why) {
    const std::string extension = sceneExtensionFor(sourceFile, why);
    const SceneFormat* format = formatOf("x" + extension);
    if (format && format->shapeKeys)
        return extension;
    why = extension.substr(1) + " holds no shape keys";
    return ".glb";
}

bool exportScene(const char* outFile, const ImportRecord& record, const Vector3* restPositions,
                 const Vector3* restNormals, const Vector3* positions, const Vector3* normals,
                 int32_t N, const ShapePose* shapes, size_t shapeCount, std::string& error,
                 const SceneAnimation* animation) {
    const SceneFormat* format = formatOf(outFile);
    if (!format && lowerExtension(outFile) == ".fbx")
        return fileError(error, outFile,
                         std::string("not written: ") + unreadFbx + "; write .glb (or " +
                             sceneFormatList() + ")");
    if (!format)
        return fileError(error, outFile,
                         "the extension names no format written here (" + sceneFormatList() + ")");
    if (animation && std::string(format->extension) != ".glb")
        return fileError(error, outFile, "an animation is written as .glb");
    if (shapeCount > 0 && !format->shapeKeys)
        return fileError(error, outFile,
                         std::string(format->extension + 1) +
                             " holds no shape keys; write .glb, .gltf or .dae");
    // assimp's Collada exporter writes no morph controller: shape keys reach a .dae only
    // through the user's own Collada file.
    const std::string sourceExtension = lowerExtension(record.absolute);
    if (shapeCount > 0 && std::string(format->extension) == ".dae" && sourceExtension != ".dae" &&
        sourceExtension != ".zae")
        return fileError(error, outFile,
                         "shape keys go into Collada only from a Collada source, and " +
                             sourceExtension.substr(1) + " is not; write .glb or .gltf");
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
    for (size_t u = 0; u < record.meshes.size(); ++u) {
        const unsigned index = unsigned(record.meshes[u]);
        if (index >= scene->mNumMeshes ||
            scene->mMeshes[index]->mNumVertices != unsigned(record.meshVertices[u]))
            return fileError(error, record.absolute,
                             "mesh " + std::to_string(index) +
                                 " is not as the import record says; import the file again");
    }

    const RenderPose base = {restPositions, restNormals, positions, normals};
    std::vector<RenderPose> shapePoses;
    for (size_t s = 0; s < shapeCount; ++s)
        shapePoses.push_back({restPositions, restNormals, shapes[s].positions, shapes[s].normals});
    std::vector<PosedMesh> posed;
    poseMeshes(posed, *scene, record, base, shapePoses.data(), shapeCount);

    // The user's own file, where assimp's exporter would write one vertex per corner.
    const std::string outExtension = format->extension;
    std::vector<std::string> names;
    for (size_t s = 0; s < shapeCount; ++s)
        names.push_back(shapes[s].name);
    if (outExtension == ".dae" && (sourceExtension == ".dae" || sourceExtension == ".zae"))
        return writeOwnCollada(outFile, record.absolute, *scene, posed, names, error);
    if (outExtension == ".obj" && sourceExtension == ".obj")
        return writeOwnObj(outFile, record.absolute, source, *scene, posed, error);

    // An STL file's normals are its triangles' (one per corner), which glTF could only hold
    // by splitting every shared position: without them its exporter joins the corners as
    // Blender's STL reader does, and a glTF reader shades the triangles flat, as they were.
    if (sourceExtension == ".stl" && (outExtension == ".glb" || outExtension == ".gltf"))
        for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
            delete[] scene->mMeshes[m]->mNormals;
            scene->mMeshes[m]->mNormals = nullptr;
        }
    setPosedMeshes(*scene, posed, shapes, shapeCount);
    if (outExtension == ".glb" || outExtension == ".gltf")
        embedTextures(*scene, record, sceneFilePath(record.folder, sceneSkinTextureFile));
    // assimp's exporter writes where it is told (a .gltf with its .bin beside it): into a
    // folder of its own beside outFile, whose files replace the earlier ones once complete.
    return writeThroughFolder(outFile, error, [&](const std::string& file, std::string& problem) {
        Assimp::Exporter exporter;
        if (exporter.Export(scene.get(), format->exporterId, file) != AI_SUCCESS)
            return fileError(problem, outFile,
                             std::string("cannot be written (") + exporter.GetErrorString() + ")");
        if (shapeCount > 0 && (outExtension == ".glb" || outExtension == ".gltf") &&
            !nameMorphTargets(file.c_str(), shapes, shapeCount, outExtension == ".glb", problem))
            return false;
        return !animation || addAnimation(file.c_str(), *animation, shapeCount, problem);
    });
}

namespace {

// The render mesh at rest (one update) and in each pose (count), kept one after the other in
// positions and normals ((1 + count) × N each), with a shape for each pose; model's render
// arrays are left at rest.
void poseShapes(std::vector<Vector3>& positions, std::vector<Vector3>& normals,
                std::vector<ShapePose>& shapes, FaceModel& model, const Vector3* restPoints,
                const NamedPose* poses, size_t count) {
    const int32_t K = model.controlPointCount, N = model.renderVertexCount;
    const size_t n = size_t(N);
    std::vector<Vector3> points(restPoints, restPoints + K);
    positions.resize((1 + count) * n);
    normals.resize((1 + count) * n);
    for (size_t s = 0; s <= count; ++s) {
        std::copy(restPoints, restPoints + K, points.begin());
        if (s > 0)
            applyMoves(points.data(), poses[s - 1].moves.data(), poses[s - 1].moves.size());
        model.update(model.renderPositions.get(), model.renderNormals.get(), points.data());
        std::copy(model.renderPositions.get(), model.renderPositions.get() + N,
                  positions.begin() + long(s * n));
        std::copy(model.renderNormals.get(), model.renderNormals.get() + N,
                  normals.begin() + long(s * n));
    }
    model.update(model.renderPositions.get(), model.renderNormals.get(), restPoints);
    shapes.clear();
    for (size_t s = 0; s < count; ++s)
        shapes.push_back(
            {poses[s].name, positions.data() + (s + 1) * n, normals.data() + (s + 1) * n});
}

aiVector3D toAssimp(const Vector3& v) { return aiVector3D(v.x, v.y, v.z); }

} // namespace

bool exportShapeScene(const char* outFile, const ImportRecord& record, FaceModel& model,
                      const Vector3* restPoints, const NamedPose* poses, size_t count,
                      std::string& error, const SceneAnimation* animation) {
    std::vector<Vector3> positions, normals;
    std::vector<ShapePose> shapes;
    poseShapes(positions, normals, shapes, model, restPoints, poses, count);
    return exportScene(outFile, record, positions.data(), normals.data(), positions.data(),
                       normals.data(), model.renderVertexCount, shapes.data(), count, error,
                       animation);
}

namespace {

// The skin's picture and the four props of folder/data/, for the render mesh's export; empty
// (no props) unless every prop is there and holds a mesh.
struct DefaultProps {
    std::unique_ptr<Prop> props[propSlotCount];
    bool complete = false;
};

void loadDefaultProps(DefaultProps& out, const std::string& folder) {
    out.complete = false;
    for (int32_t s = 0; s < propSlotCount; ++s) {
        std::string ignored;
        if (!loadProp(out.props[s], sceneFilePath(folder, propSlotSources[s].propFile).c_str(),
                      ignored) ||
            out.props[s]->vertexCount == 0)
            return;
    }
    out.complete = true;
}

// A material named name showing embedded texture index (−1: none); cutOut cuts away the
// picture's transparent pixels (the gaps between the teeth).
aiMaterial* pictureMaterial(const std::string& name, int index, bool cutOut) {
    aiMaterial* material = new aiMaterial;
    const aiString named(name);
    material->AddProperty(&named, AI_MATKEY_NAME);
    if (index >= 0) {
        const aiString path("*" + std::to_string(index));
        material->AddProperty(&path, AI_MATKEY_TEXTURE_DIFFUSE(0));
    }
    if (cutOut) {
        const aiString mode("MASK");
        material->AddProperty(&mode, AI_MATKEY_GLTF_ALPHAMODE);
        const float cutoff = 0.5f;
        material->AddProperty(&cutoff, 1, AI_MATKEY_GLTF_ALPHACUTOFF);
    }
    return material;
}

// A mesh of N vertices (positions, normals, texture coordinates with v = 0 at the top of the
// picture, flipped to assimp's v = 0 at the bottom) and M triangles (front winding as stored).
aiMesh* plainMesh(const char* name, unsigned material, const Vector3* positions,
                  const Vector3* normals, const TexCoord* texCoords, unsigned N,
                  const Triangle* triangles, unsigned M) {
    aiMesh* mesh = new aiMesh;
    mesh->mName = aiString(name);
    mesh->mMaterialIndex = material;
    mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
    mesh->mNumVertices = N;
    mesh->mVertices = new aiVector3D[N];
    mesh->mNormals = new aiVector3D[N];
    mesh->mTextureCoords[0] = new aiVector3D[N];
    mesh->mNumUVComponents[0] = 2;
    for (unsigned i = 0; i < N; ++i) {
        mesh->mVertices[i] = toAssimp(positions[i]);
        mesh->mNormals[i] = toAssimp(normals[i]);
        mesh->mTextureCoords[0][i] = aiVector3D(texCoords[i].u, 1.0f - texCoords[i].v, 0.0f);
    }
    mesh->mNumFaces = M;
    mesh->mFaces = new aiFace[M];
    for (unsigned f = 0; f < M; ++f) {
        mesh->mFaces[f].mNumIndices = 3;
        mesh->mFaces[f].mIndices = new unsigned[3];
        for (int c = 0; c < 3; ++c)
            mesh->mFaces[f].mIndices[c] = unsigned(triangles[f].index[c]);
    }
    return mesh;
}

// Each prop's transform for a pose at weight 1, as the rig moves the props: a pose named as
// one of ARKit's expressions by its name (gaze, jaw, or nothing), any other by its moves
// through the frames.
void poseProps(Matrix4* transforms, bool* usable, const PropRig& rig, const Vector3* rest,
               int32_t K, const NamedPose& pose) {
    std::vector<Vector3> offsets(static_cast<size_t>(K), Vector3{0.0f, 0.0f, 0.0f});
    applyMoves(offsets.data(), pose.moves.data(), pose.moves.size());
    const bool arkit = isArkitExpression(pose.name);
    std::vector<Vector3> dragged(rest, rest + K);
    if (!arkit)
        applyMoves(dragged.data(), pose.moves.data(), pose.moves.size());
    float pitch[2] = {0.0f, 0.0f}, yaw[2] = {0.0f, 0.0f};
    for (int32_t eye = 0; eye < 2; ++eye)
        addGaze(pitch[eye], yaw[eye], pose.name, 1.0f, eye == 0);
    rigPropTransforms(transforms, usable, rig, rest, dragged.data(),
                      arkit && isJawPose(pose.name) ? offsets.data() : nullptr, pitch, yaw);
}

} // namespace

bool exportRenderShapes(const char* outFile, FaceModel& model, const Vector3* restPoints,
                        const NamedPose* poses, size_t count, const char* folder,
                        std::string& error, const SceneAnimation* animation) {
    const std::string extension = lowerExtension(outFile);
    const SceneFormat* format = formatOf(outFile);
    if (!format || (extension != ".glb" && extension != ".gltf"))
        return fileError(error, outFile,
                         "the render mesh with shape keys is written as glTF: .glb or .gltf");
    if (animation && extension != ".glb")
        return fileError(error, outFile, "an animation is written as .glb");
    std::vector<Vector3> positions, normals;
    std::vector<ShapePose> shapes;
    poseShapes(positions, normals, shapes, model, restPoints, poses, count);
    DefaultProps props;
    if (folder != nullptr)
        loadDefaultProps(props, folder);

    // One mesh of the render vertices and triangles, then the props', all in one node (glTF
    // gathers them as the primitives of one mesh, each with every shape key); a material
    // each, with its picture embedded where it can be read.
    const unsigned N = unsigned(model.renderVertexCount), M = unsigned(model.renderTriangleCount);
    const unsigned meshCount = props.complete ? 1 + propSlotCount : 1;
    aiScene scene;
    std::vector<aiTexture*> textures;
    const auto embed = [&](const char* file) {
        aiTexture* texture = folder ? embeddedPicture(sceneFilePath(folder, file)) : nullptr;
        if (texture == nullptr)
            return -1;
        textures.push_back(texture);
        return int(textures.size()) - 1;
    };
    scene.mRootNode = new aiNode("face");
    scene.mRootNode->mNumMeshes = meshCount;
    scene.mRootNode->mMeshes = new unsigned[meshCount];
    scene.mNumMaterials = meshCount;
    scene.mMaterials = new aiMaterial*[meshCount];
    scene.mNumMeshes = meshCount;
    scene.mMeshes = new aiMesh*[meshCount];
    scene.mRootNode->mMeshes[0] = 0;
    scene.mMaterials[0] = pictureMaterial("skin", embed(sceneSkinTextureFile), false);
    scene.mMeshes[0] = plainMesh("face", 0, positions.data(), normals.data(),
                                 model.renderTexCoords.get(), N, model.renderTriangles.get(), M);
    for (unsigned p = 1; p < meshCount; ++p) {
        const PropSlotSource& source = propSlotSources[p - 1];
        const Prop& prop = *props.props[p - 1];
        scene.mRootNode->mMeshes[p] = p;
        scene.mMaterials[p] = pictureMaterial(source.name, embed(source.textureFile),
                                              source.alwaysDrawn); // the teeth's gaps cut out
        scene.mMeshes[p] = plainMesh(source.name, p, prop.positions.get(), prop.normals.get(),
                                     prop.texCoords.get(), unsigned(prop.vertexCount),
                                     prop.triangles.get(), unsigned(prop.triangleCount));
    }
    if (!textures.empty()) {
        scene.mNumTextures = unsigned(textures.size());
        scene.mTextures = new aiTexture*[textures.size()];
        std::copy(textures.begin(), textures.end(), scene.mTextures);
    }
    if (count > 0) {
        std::vector<aiVector3D> shapePositions, shapeNormals;
        for (size_t s = 0; s < count; ++s)
            for (unsigned i = 0; i < N; ++i) {
                shapePositions.push_back(toAssimp(shapes[s].positions[i]));
                shapeNormals.push_back(toAssimp(shapes[s].normals[i]));
            }
        setShapes(*scene.mMeshes[0], shapes.data(), count, shapePositions.data(),
                  shapeNormals.data());
    }
    if (count > 0 && props.complete) {
        // The props in every shape key, carried by the rig from their frames at rest.
        const int32_t K = model.controlPointCount;
        std::unique_ptr<PropFrame> frames[propSlotCount];
        PropRig rig;
        for (int32_t s = 0; s < propSlotCount; ++s) {
            Vector3 A, B, C;
            propFramePoints(A, B, C, propSlotSources[s], restPoints);
            frames[s].reset(new PropFrame(A, B, C));
            rig.frames[s] = frames[s].get();
            rig.centres[s] =
                propCentre(props.props[s]->positions.get(), props.props[s]->vertexCount);
        }
        std::vector<std::vector<aiVector3D>> propPositions(propSlotCount),
            propNormals(propSlotCount);
        for (size_t k = 0; k < count; ++k) {
            Matrix4 transforms[propSlotCount];
            bool usable[propSlotCount];
            poseProps(transforms, usable, rig, restPoints, K, poses[k]);
            for (int32_t s = 0; s < propSlotCount; ++s) {
                const Prop& prop = *props.props[s];
                const Matrix4& m = usable[s] ? transforms[s] : Matrix4::identity();
                for (int32_t v = 0; v < prop.vertexCount; ++v) {
                    const Vector3 &q = prop.positions[v], &n = prop.normals[v];
                    const Vector4 moved = m * Vector4{q.x, q.y, q.z, 1.0f};
                    const Vector4 turned = m * Vector4{n.x, n.y, n.z, 0.0f};
                    propPositions[size_t(s)].push_back(aiVector3D(moved.x, moved.y, moved.z));
                    propNormals[size_t(s)].push_back(
                        toAssimp(unitOrZero({turned.x, turned.y, turned.z})));
                }
            }
        }
        for (int32_t s = 0; s < propSlotCount; ++s)
            setShapes(*scene.mMeshes[s + 1], shapes.data(), count, propPositions[size_t(s)].data(),
                      propNormals[size_t(s)].data());
    }
    return writeThroughFolder(outFile, error, [&](const std::string& file, std::string& problem) {
        Assimp::Exporter exporter;
        if (exporter.Export(&scene, format->exporterId, file) != AI_SUCCESS)
            return fileError(problem, outFile,
                             std::string("cannot be written (") + exporter.GetErrorString() + ")");
        return (count == 0 || nameMorphTargets(file.c_str(), shapes.data(), count,
                                               extension == ".glb", problem)) &&
               (!animation || addAnimation(file.c_str(), *animation, count, problem));
    });
}
