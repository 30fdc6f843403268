#include "tools/import/import_mesh.h"

#include "io/file_contents.h"
#include "io/memory_budget.h"
#include "io/messages.h"

#include <assimp/Importer.hpp>
#include <assimp/commonMetaData.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <meshoptimizer.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The memory assimp may take for a file: bytesPerFileByte times its size, at least floor, and
// never more than the memory available. Measured peaks of assimp's read (virtual size): at
// most 89 MB over Debian's assimp-testmodels (SuzanneSubdiv_252.blend, whose subdivision
// modifier makes it 1,035 times its 86 KB), and 2.3 to 7.0 times the file for the default
// face at 1M vertices as binary PLY, OBJ, STL, glTF binary and Collada (56 to 224 MB);
// compressed formats (.zae, .3mf) multiply the latter by their compression.
constexpr uint64_t assimpFloorBytes = 1000000000;
constexpr uint64_t assimpBytesPerFileByte = 256;

constexpr double pi = 3.14159265358979323846;

// Longest text kept of what assimp printed while reading.
constexpr size_t maxCapturedText = 300;

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

// The formats whose axes the format itself fixes, by the start of the name assimp's importer
// gives itself in the scene's metadata (AI_METADATA_SOURCE_FORMAT): the axes in the scene's
// frame as read, and their source (see StatedAxes).
struct FormatAxes {
    const char* importer;
    Vector3 up, front;
    const char* source;
};

const FormatAxes formatAxes[] = {
    {"glTF", {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, "glTF's axes (+y up, the front facing +z)"},
    {"Collada",
     {0.0f, 1.0f, 0.0f},
     {0.0f, 0.0f, 1.0f},
     "the file's own axes (Collada up_axis, which assimp applies; the front faces +z)"},
    {"Quake II Mesh",
     {0.0f, 1.0f, 0.0f},
     {1.0f, 0.0f, 0.0f},
     "MD2's convention (Quake II models stand on z, which assimp turns to +y, and face +x)"},
    {"Blender 3D",
     {0.0f, 0.0f, 1.0f},
     {0.0f, -1.0f, 0.0f},
     "Blender's convention (z up, the front facing -y)"},
    {"TrueSpace Object",
     {0.0f, 0.0f, 1.0f},
     {0.0f, 1.0f, 0.0f},
     "trueSpace's convention (z up, the front facing +y)"},
};

// File axis index (0 x, 1 y, 2 z) and sign (±1) turned by the root node's transform, into
// axis when that gives a direction along x, y or z.
bool turnedAxis(Vector3& axis, const aiMatrix4x4& root, int32_t index, int32_t sign) {
    // Column index of the transform (rows root[r]), the image of the file's axis; any scale
    // divided out.
    const float column[3] = {root[0][index], root[1][index], root[2][index]};
    const float size =
        std::sqrt(column[0] * column[0] + column[1] * column[1] + column[2] * column[2]);
    for (int c = 0; c < 3; ++c)
        if (std::fabs(std::fabs(column[c]) - size) <= 1e-4f * size && size > 0.0f) {
            const float s = column[c] * float(sign) > 0.0f ? 1.0f : -1.0f;
            axis = {c == 0 ? s : 0.0f, c == 1 ? s : 0.0f, c == 2 ? s : 0.0f};
            return true;
        }
    return false;
}

// The axes the scene states (see StatedAxes).
void findStatedAxes(StatedAxes& axes, const aiScene& scene) {
    axes = StatedAxes();
    const aiMetadata* metadata = scene.mMetaData;
    int32_t up = -1, upSign = 0, front = -1, frontSign = 0;
    if (metadata && metadata->Get("UpAxis", up) && metadata->Get("UpAxisSign", upSign) &&
        metadata->Get("FrontAxis", front) && metadata->Get("FrontAxisSign", frontSign)) {
        const std::string stated = "UpAxis " + std::to_string(up) + " sign " +
                                   std::to_string(upSign) + ", FrontAxis " + std::to_string(front) +
                                   " sign " + std::to_string(frontSign);
        Vector3 turnedUp, turnedFront;
        if (up < 0 || up > 2 || front < 0 || front > 2 || up == front ||
            (upSign != 1 && upSign != -1) || (frontSign != 1 && frontSign != -1)) {
            axes.note = "the file's axes (" + stated + ") are not two different axes";
        } else if (!turnedAxis(turnedUp, scene.mRootNode->mTransformation, up, upSign) ||
                   !turnedAxis(turnedFront, scene.mRootNode->mTransformation, front, frontSign)) {
            axes.note = "the file's axes (" + stated + ") are not along x, y or z in its scene";
        } else {
            axes.up = turnedUp;
            axes.front = turnedFront;
            axes.source = "the file's own axes (FBX UpAxis and FrontAxis)";
        }
        return;
    }
    aiString format;
    if (!metadata || !metadata->Get(AI_METADATA_SOURCE_FORMAT, format))
        return;
    for (const FormatAxes& f : formatAxes)
        if (std::strncmp(format.C_Str(), f.importer, std::strlen(f.importer)) == 0) {
            axes.up = f.up;
            axes.front = f.front;
            axes.source = f.source;
            return;
        }
}

// Standard output and error sent into a pipe while assimp reads: its loaders and the parsers
// it bundles (openddlparser's "nullptr returned by creating DDLNode.") print there directly.
// Both ends are non-blocking, so a loader that prints more than the pipe holds loses the rest
// instead of waiting.
struct OutputCapture {
    int saved[2] = {-1, -1}; // the process's own standard output and error
    int pipeEnds[2] = {-1, -1};
};

void flushStandardStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::cout.flush();
    std::cerr.flush();
}

void beginCapture(OutputCapture& capture) {
    flushStandardStreams();
    if (pipe2(capture.pipeEnds, O_NONBLOCK | O_CLOEXEC) != 0)
        return; // then nothing is caught
    for (int fd = 1; fd <= 2; ++fd) {
        capture.saved[fd - 1] = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        dup2(capture.pipeEnds[1], fd);
    }
    close(capture.pipeEnds[1]);
}

// Puts the streams back and sets text to what was caught, as one line.
void endCapture(std::string& text, OutputCapture& capture) {
    if (capture.pipeEnds[0] < 0)
        return;
    flushStandardStreams();
    for (int fd = 1; fd <= 2; ++fd) {
        dup2(capture.saved[fd - 1], fd);
        close(capture.saved[fd - 1]);
    }
    // Writes the pipe refused leave error flags behind.
    std::clearerr(stdout);
    std::clearerr(stderr);
    std::cout.clear();
    std::cerr.clear();
    std::string caught;
    char block[4096];
    for (ssize_t n; (n = read(capture.pipeEnds[0], block, sizeof block)) > 0;)
        caught.append(block, size_t(n));
    close(capture.pipeEnds[0]);
    // One line: line breaks become "; ", blank runs one space.
    std::string line;
    for (char c : caught) {
        if (c == '\n' || c == '\r') {
            if (!line.empty() && line.back() != ' ')
                line += "; ";
        } else if (!(c == ' ' && !line.empty() && line.back() == ' ')) {
            line += c;
        }
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == ';'))
        line.pop_back();
    if (line.size() > maxCapturedText)
        line = line.substr(0, maxCapturedText) + "...";
    text = line;
}

// Reads the scene with assimp within allowance bytes more address space (see
// readImportedMesh). outOfMemory tells an allocation that failed; printed receives what
// assimp printed. The scene (or null) stays the importer's.
const aiScene* readScene(Assimp::Importer& importer, bool& outOfMemory, std::string& printed,
                         const char* fileName, uint64_t allowance) {
    rlimit previous{};
    const uint64_t present = virtualMemoryBytes();
    // Without the present size no limit can be set that leaves room for it.
    const bool limited = present > 0 && getrlimit(RLIMIT_AS, &previous) == 0;
    if (limited) {
        const uint64_t wanted = present + allowance;
        rlimit lower = previous;
        if (previous.rlim_cur == RLIM_INFINITY || wanted < previous.rlim_cur)
            lower.rlim_cur = rlim_t(wanted);
        setrlimit(RLIMIT_AS, &lower);
    }
    OutputCapture capture;
    beginCapture(capture);
    const aiScene* scene = nullptr;
    outOfMemory = false;
    try {
        // Validation refuses what would otherwise be read out of bounds, such as a face
        // index past the vertices.
        scene =
            importer.ReadFile(fileName, aiProcess_Triangulate | aiProcess_ValidateDataStructure);
        // assimp catches what its loaders throw and keeps it.
        if (importer.GetException())
            std::rethrow_exception(importer.GetException());
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    } catch (...) {
        // Any other failure is told by the importer's error string.
    }
    endCapture(printed, capture);
    if (limited)
        setrlimit(RLIMIT_AS, &previous);
    return outOfMemory ? nullptr : scene;
}

// Every vertex of the meshes read, as compared and kept: transformed into the scene, v
// flipped, with its normal in the scene's frame (zero when the file has none), and the
// triangles' corners indexing them.
struct GatheredMeshes {
    std::vector<Vector3> positions, normals;
    std::vector<TexCoord> texCoords;
    std::vector<unsigned> corners;
};

void gatherMesh(GatheredMeshes& gathered, SourceMesh& used, const aiScene& scene, unsigned m) {
    const aiMesh& source = *scene.mMeshes[m];
    aiMatrix4x4 transform;
    findMeshTransform(transform, scene.mRootNode, aiMatrix4x4(), m);
    used.mesh = static_cast<int32_t>(m);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            used.transform.m[4 * c + r] = transform[r][c];
    // Normals go through the inverse transpose, so that angles between them stay meaningful
    // under any transform (a singular one gives non-finite normals, which join anything).
    const aiMatrix3x3 normalTransform = aiMatrix3x3(transform).Inverse().Transpose();
    // A mirroring node transform turns the winding over; undo that.
    const bool mirrored = transform.Determinant() < 0;

    const size_t first = gathered.positions.size(), count = source.mNumVertices;
    for (unsigned f = 0; f < source.mNumFaces; ++f) {
        const aiFace& face = source.mFaces[f];
        if (face.mNumIndices == 3)
            for (int c = 0; c < 3; ++c)
                gathered.corners.push_back(unsigned(first) +
                                           face.mIndices[mirrored && c > 0 ? 3 - c : c]);
    }
    gathered.positions.resize(first + count);
    gathered.normals.resize(first + count, Vector3{0.0f, 0.0f, 0.0f});
    gathered.texCoords.resize(first + count, TexCoord{0.0f, 0.0f});
    for (size_t i = 0; i < count; ++i) {
        const aiVector3D p = transform * source.mVertices[i];
        gathered.positions[first + i] = {p.x, p.y, p.z};
        // Assimp's v = 0 is the bottom row of the picture, ours the top.
        if (source.HasTextureCoords(0))
            gathered.texCoords[first + i] = {
                source.mTextureCoords[0][i].x,
                static_cast<float>(1.0 - double(source.mTextureCoords[0][i].y))};
        if (source.HasNormals()) {
            const aiVector3D n = normalTransform * source.mNormals[i];
            if (std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z))
                gathered.normals[first + i] = {n.x, n.y, n.z};
        }
    }
}

// Whether two normals differ by less than the angle whose cosine is given; a zero normal
// is within any angle of any other.
bool withinCrease(const Vector3& a, const Vector3& b, double cosine) {
    const double d = double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z;
    const double aa = double(a.x) * a.x + double(a.y) * a.y + double(a.z) * a.z;
    const double bb = double(b.x) * b.x + double(b.y) * b.y + double(b.z) * b.z;
    return aa == 0.0 || bb == 0.0 || d >= cosine * std::sqrt(aa * bb);
}

// Joins the gathered vertices into render vertices (see readImportedMesh): renderOf[i] is
// the render vertex of gathered vertex i (−1 when no corner uses it), first[r] the gathered
// vertex that started render vertex r. The corners are renumbered to render vertices.
void joinVertices(std::vector<int32_t>& renderOf, std::vector<unsigned>& first,
                  GatheredMeshes& gathered, double cosine) {
    const size_t vertexCount = gathered.positions.size();
    // Groups of equal position and texture coordinates, numbered in order of first use.
    const meshopt_Stream streams[] = {
        {gathered.positions.data(), sizeof(Vector3), sizeof(Vector3)},
        {gathered.texCoords.data(), sizeof(TexCoord), sizeof(TexCoord)}};
    std::vector<unsigned> group(vertexCount);
    const size_t groupCount = meshopt_generateVertexRemapMulti(
        group.data(), gathered.corners.data(), gathered.corners.size(), vertexCount, streams, 2);
    // Each group's render vertices, as a list: the group's first, then each one's next.
    std::vector<int32_t> groupFirst(groupCount, -1), next;
    renderOf.assign(vertexCount, -1);
    first.clear();
    for (unsigned& corner : gathered.corners) {
        if (renderOf[corner] < 0) {
            const unsigned g = group[corner];
            int32_t r = groupFirst[g], previous = -1;
            while (r >= 0 &&
                   !withinCrease(gathered.normals[first[r]], gathered.normals[corner], cosine)) {
                previous = r;
                r = next[r];
            }
            if (r < 0) {
                r = static_cast<int32_t>(first.size());
                first.push_back(corner);
                next.push_back(-1);
                (previous < 0 ? groupFirst[g] : next[previous]) = r;
            }
            renderOf[corner] = r;
        }
        corner = static_cast<unsigned>(renderOf[corner]);
    }
}

// A mesh name for a one-line message: control characters become '?'.
std::string printableName(std::string name) {
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return name;
}

// The distinct positions that the gathered corners use.
int32_t distinctPositionCount(const GatheredMeshes& gathered) {
    std::vector<unsigned> remap(gathered.positions.size());
    return static_cast<int32_t>(meshopt_generateVertexRemap(
        remap.data(), gathered.corners.data(), gathered.corners.size(), gathered.positions.data(),
        gathered.positions.size(), sizeof(Vector3)));
}

} // namespace

bool parseMeshSelection(MeshSelection& selection, const char* text) {
    MeshSelection parsed;
    if (std::strcmp(text, "all") == 0) {
        parsed.all = true;
    } else {
        const char* item = text;
        for (;;) {
            const char* comma = std::strchr(item, ',');
            const std::string number = comma ? std::string(item, comma) : std::string(item);
            char* end = nullptr;
            const long index = std::strtol(number.c_str(), &end, 10);
            if (number.empty() || !std::isdigit(static_cast<unsigned char>(number[0])) ||
                *end != '\0' || index > INT32_MAX)
                return false;
            parsed.indices.push_back(static_cast<int32_t>(index));
            if (!comma)
                break;
            item = comma + 1;
        }
        std::sort(parsed.indices.begin(), parsed.indices.end());
        parsed.indices.erase(std::unique(parsed.indices.begin(), parsed.indices.end()),
                             parsed.indices.end());
    }
    selection = std::move(parsed);
    return true;
}

bool readImportedMesh(ImportedMesh& mesh, MeshFileListing& listing, EmbeddedPicture& embedded,
                      const char* fileName, const MeshSelection& selection, float creaseDegrees,
                      std::string& error) {
    // Opened as every reader opens its input, so that assimp never waits on a FIFO or reads a
    // directory; the size sets assimp's memory allowance.
    uint64_t fileSize = 0;
    {
        FileContents contents;
        if (!openFileContents(contents, fileName, error))
            return false;
        fileSize = contents.size;
    }
    const uint64_t available = availableMemoryBytes();
    const uint64_t allowance =
        std::min(available, std::max(assimpFloorBytes, assimpBytesPerFileByte * fileSize));
    Assimp::Importer importer;
    bool outOfMemory = false;
    std::string printed;
    const aiScene* scene = readScene(importer, outOfMemory, printed, fileName, allowance);
    if (outOfMemory)
        return fileError(error, fileName,
                         "cannot read: assimp needs more memory than the " +
                             formatBytes(allowance) +
                             (allowance < available
                                  ? " that a file of " + formatBytes(fileSize) + " may take (" +
                                        formatBytes(available) + " are available)"
                                  : " available"));
    if (!scene || !scene->mRootNode) {
        std::string why = importer.GetErrorString();
        if (!printed.empty() && why.find(printed) == std::string::npos)
            why += (why.empty() ? "" : "; ") + printed;
        return fileError(error, fileName, "cannot read (" + why + ")");
    }

    MeshFileListing files;
    int32_t largestCount = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh& source = *scene->mMeshes[m];
        files.meshes.push_back({source.mName.C_Str(), static_cast<int32_t>(source.mNumVertices),
                                triangleCount(source)});
        if (files.meshes.back().triangleCount > largestCount) {
            files.largest = static_cast<int32_t>(m);
            largestCount = files.meshes.back().triangleCount;
        }
    }
    const int32_t meshCount = static_cast<int32_t>(scene->mNumMeshes);
    std::vector<int32_t> used = selection.indices;
    if (selection.all)
        for (int32_t m = 0; m < meshCount; ++m)
            used.push_back(m);
    else if (used.empty() && files.largest >= 0)
        used.push_back(files.largest);
    if (!used.empty() && used.back() >= meshCount)
        return fileError(error, fileName,
                         "--mesh " + std::to_string(used.back()) + " is not below the mesh count " +
                             std::to_string(meshCount));
    int32_t usedTriangles = 0;
    for (int32_t m : used)
        usedTriangles += files.meshes[m].triangleCount;
    if (usedTriangles == 0)
        return fileError(error, fileName,
                         "no triangles" + (used.size() == 1 && !selection.indices.empty()
                                               ? " in mesh " + std::to_string(used[0])
                                               : std::string()));

    ImportedMesh result;
    GatheredMeshes gathered;
    result.sources.resize(used.size());
    int32_t textured = used[0]; // the largest mesh read, whose material gives the texture
    for (size_t u = 0; u < used.size(); ++u) {
        gatherMesh(gathered, result.sources[u], *scene, unsigned(used[u]));
        result.hasTexCoords |= scene->mMeshes[used[u]]->HasTextureCoords(0);
        if (files.meshes[used[u]].triangleCount > files.meshes[textured].triangleCount)
            textured = used[u];
    }
    if (meshCount > 1) {
        if (int32_t(used.size()) == meshCount) {
            files.allPointCount = distinctPositionCount(gathered);
        } else {
            GatheredMeshes all;
            SourceMesh unused;
            for (unsigned m = 0; m < unsigned(meshCount); ++m)
                gatherMesh(all, unused, *scene, m);
            files.allPointCount = distinctPositionCount(all);
        }
    }

    std::vector<int32_t> renderOf;
    std::vector<unsigned> first;
    joinVertices(renderOf, first, gathered, std::cos(double(creaseDegrees) * (pi / 180.0)));
    result.positions.resize(first.size());
    result.texCoords.resize(first.size());
    for (size_t r = 0; r < first.size(); ++r) {
        result.positions[r] = gathered.positions[first[r]];
        result.texCoords[r] = gathered.texCoords[first[r]];
        // NaN or infinity would be written into the model, which then refuses them.
        const Vector3& p = result.positions[r];
        const TexCoord& uv = result.texCoords[r];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z) ||
            !std::isfinite(uv.u) || !std::isfinite(uv.v))
            return fileError(error, fileName,
                             "a vertex position or texture coordinate is not a finite number");
    }
    size_t offset = 0;
    for (SourceMesh& source : result.sources) {
        const size_t count = scene->mMeshes[source.mesh]->mNumVertices;
        source.renderVertex.assign(renderOf.begin() + offset, renderOf.begin() + offset + count);
        offset += count;
    }
    // Triangles that joining collapses are dropped; their vertices stay.
    const std::vector<unsigned>& corners = gathered.corners;
    for (size_t i = 0; i < corners.size(); i += 3) {
        const Triangle t = {{static_cast<int32_t>(corners[i]), static_cast<int32_t>(corners[i + 1]),
                             static_cast<int32_t>(corners[i + 2])}};
        if (t.index[0] != t.index[1] && t.index[1] != t.index[2] && t.index[2] != t.index[0])
            result.triangles.push_back(t);
    }
    if (result.triangles.empty())
        return fileError(error, fileName, "no triangles are left once equal corners are joined");
    readDiffuseTexture(result, embedded, *scene, *scene->mMeshes[textured]);
    findStatedAxes(result.axes, *scene);
    mesh = std::move(result);
    listing = std::move(files);
    return true;
}

void describeMeshChoice(std::string& text, const MeshFileListing& listing, const ImportedMesh& mesh,
                        int32_t minPoints) {
    constexpr size_t maxListed = 32;
    if (listing.meshes.size() < 2) {
        text = "the mesh is too small";
        return;
    }
    text = std::to_string(listing.meshes.size()) + " meshes:";
    for (size_t m = 0; m < listing.meshes.size() && m < maxListed; ++m)
        text += (m > 0 ? ", " : " ") + std::to_string(m) + " \"" +
                printableName(listing.meshes[m].name) + "\" (" +
                std::to_string(listing.meshes[m].vertexCount) + " vertices, " +
                std::to_string(listing.meshes[m].triangleCount) + " triangles)";
    if (listing.meshes.size() > maxListed)
        text += " and " + std::to_string(listing.meshes.size() - maxListed) + " more";
    text += "; used:";
    for (size_t u = 0; u < mesh.sources.size(); ++u)
        text += (u > 0 ? "," : " ") + std::to_string(mesh.sources[u].mesh);
    text += "; --mesh all would give at most " + std::to_string(listing.allPointCount) +
            " points, " + (listing.allPointCount >= minPoints ? "enough" : "too few as well");
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

const char* axisName(const Vector3& axis) {
    const char* const names[3][2] = {{"-x", "+x"}, {"-y", "+y"}, {"-z", "+z"}};
    const float c[3] = {axis.x, axis.y, axis.z};
    for (int k = 0; k < 3; ++k)
        if ((c[k] == 1.0f || c[k] == -1.0f) && c[(k + 1) % 3] == 0.0f && c[(k + 2) % 3] == 0.0f)
            return names[k][c[k] > 0.0f];
    return "?";
}

Placement keptPlacement() { return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0.0, 0.0, 0.0}, 1.0}; }

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
    // In double: the box's corners are floats, so its centre and extent are exact.
    const double exactLow[3] = {low.x, low.y, low.z}, exactHigh[3] = {high.x, high.y, high.z};
    const double exactUp[3] = {up.x, up.y, up.z};
    double extent = 0.0;
    for (int a = 0; a < 3; ++a) {
        p.centre[a] = 0.5 * (exactLow[a] + exactHigh[a]);
        extent += exactUp[a] * (exactHigh[a] - exactLow[a]);
    }
    extent = std::fabs(extent);
    if (!(extent > 0.0) || !std::isfinite(float(extent))) {
        error = std::string("the mesh has no height along its up axis (") + axisName(up) +
                "; --up names another)";
        return false;
    }
    p.scale = double(height) / extent;
    placement = p;
    return true;
}

void applyPlacement(std::vector<Vector3>& positions, const Placement& placement) {
    const float(*r)[3] = placement.rotation;
    const double* c = placement.centre;
    for (Vector3& q : positions) {
        const double d[3] = {q.x - c[0], q.y - c[1], q.z - c[2]};
        double placed[3];
        for (int a = 0; a < 3; ++a)
            placed[a] = (r[a][0] * d[0] + r[a][1] * d[1] + r[a][2] * d[2]) * placement.scale;
        q = {float(placed[0]), float(placed[1]), float(placed[2])};
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
