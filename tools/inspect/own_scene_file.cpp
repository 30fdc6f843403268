#include "tools/inspect/own_scene_file.h"

#include "io/messages.h"

#include <minizip/unzip.h>
#include <pugixml.hpp>
#include <strings.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

// The document's .dae text: the file itself, or the first .dae entry of a zipped .zae.
// The other entries of a .zae (its textures) are written into besideFolder where no file of
// that name is there yet, so that the .dae finds them by the relative paths it names.
bool readColladaText(std::string& text, const std::string& file, const std::string& besideFolder,
                     std::string& error) {
    std::string extension = std::filesystem::path(file).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (extension != ".zae") {
        FileContents contents;
        if (!openFileContents(contents, file.c_str(), error))
            return false;
        text.assign(contents.data, contents.size);
        return true;
    }
    unzFile zip = unzOpen64(file.c_str());
    if (!zip)
        return fileError(error, file, "cannot be read as a zip archive");
    bool found = false;
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
        char name[1024];
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) !=
            UNZ_OK)
            break;
        const size_t length = std::strlen(name);
        const bool document = length >= 4 && strcasecmp(name + length - 4, ".dae") == 0;
        const std::filesystem::path entry(name);
        const std::filesystem::path beside = std::filesystem::path(besideFolder) / entry;
        std::error_code failure;
        // A texture: a relative path that stays in the folder, no file there yet.
        const bool companion = !document && length > 0 && name[length - 1] != '/' &&
                               entry.is_relative() &&
                               std::find(entry.begin(), entry.end(), "..") == entry.end() &&
                               !std::filesystem::exists(beside, failure);
        if ((document && found) || (!document && !companion) ||
            info.uncompressed_size > (uint64_t(1) << 31) || unzOpenCurrentFile(zip) != UNZ_OK)
            continue;
        std::string bytes(size_t(info.uncompressed_size), '\0');
        const int read =
            bytes.empty() ? 0 : unzReadCurrentFile(zip, &bytes[0], unsigned(bytes.size()));
        unzCloseCurrentFile(zip);
        if (read < 0 || size_t(read) != bytes.size())
            continue;
        if (document) {
            text = std::move(bytes);
            found = true;
        } else if (!writeFileContents(beside.string().c_str(), bytes.data(), bytes.size(), error)) {
            unzClose(zip);
            return false;
        }
    }
    unzClose(zip);
    return found || fileError(error, file, "holds no readable .dae document");
}

// The element whose id is id ("#id" in a reference), or an empty one.
pugi::xml_node byId(const std::map<std::string, pugi::xml_node>& ids, const char* reference) {
    if (reference[0] == '#')
        ++reference;
    const auto found = ids.find(reference);
    return found == ids.end() ? pugi::xml_node() : found->second;
}

// A source's float values (its float_array), three per entry.
struct FloatSource {
    pugi::xml_node array;            // the float_array
    std::vector<std::string> tokens; // its values as written
};

bool readFloatSource(FloatSource& source, pugi::xml_node element) {
    source.array = element.child("float_array");
    const pugi::xml_node accessor = element.child("technique_common").child("accessor");
    if (!source.array || accessor.attribute("stride").as_int(1) != 3 ||
        accessor.attribute("offset").as_int(0) != 0)
        return false;
    std::istringstream values(source.array.text().get());
    for (std::string token; values >> token;)
        source.tokens.push_back(token);
    return source.tokens.size() % 3 == 0;
}

// The values back as text: the tokens as written where an entry did not change.
std::string sourceText(const std::vector<std::string>& tokens) {
    std::string text;
    for (size_t i = 0; i < tokens.size(); ++i)
        text += (i == 0 ? "" : i % 3 == 0 ? "\n" : " ") + tokens[i];
    return text;
}

std::string number(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", double(v));
    return text;
}

// One primitive element's corners: the position and normal index of each (−1: none).
struct Corners {
    std::vector<int64_t> position, normal;
};

// The corners of a triangles, polylist or polygons element in the order assimp makes its
// vertices (one per corner). False for the kinds assimp reads otherwise (strips, fans).
bool readCorners(Corners& corners, pugi::xml_node primitive, int32_t vertexOffset,
                 int32_t normalOffset, bool normalWithVertex, int32_t stride) {
    const std::string kind = primitive.name();
    if (kind != "triangles" && kind != "polylist" && kind != "polygons")
        return false;
    for (pugi::xml_node p = primitive.child("p"); p; p = p.next_sibling("p")) {
        std::istringstream values(p.text().get());
        std::vector<int64_t> indices;
        for (int64_t index; values >> index;)
            indices.push_back(index);
        if (indices.size() % size_t(stride) != 0)
            return false;
        for (size_t c = 0; c < indices.size(); c += size_t(stride)) {
            corners.position.push_back(indices[c + size_t(vertexOffset)]);
            corners.normal.push_back(normalWithVertex    ? indices[c + size_t(vertexOffset)]
                                     : normalOffset >= 0 ? indices[c + size_t(normalOffset)]
                                                         : -1);
        }
    }
    return true;
}

// A geometry's mesh as the morphing and the replacing need it: its position and normal
// sources and every primitive's corners.
struct ColladaMesh {
    pugi::xml_node geometry;
    pugi::xml_node positionSource, normalSource; // normalSource may be empty
    std::vector<Corners> primitives;             // those with corners, in order
};

bool readColladaMesh(ColladaMesh& mesh, pugi::xml_node geometry,
                     const std::map<std::string, pugi::xml_node>& ids) {
    mesh.geometry = geometry;
    const pugi::xml_node m = geometry.child("mesh");
    const pugi::xml_node vertices = m.child("vertices");
    bool normalWithVertex = false;
    for (pugi::xml_node input = vertices.child("input"); input;
         input = input.next_sibling("input")) {
        const std::string semantic = input.attribute("semantic").value();
        if (semantic == "POSITION")
            mesh.positionSource = byId(ids, input.attribute("source").value());
        else if (semantic == "NORMAL") {
            mesh.normalSource = byId(ids, input.attribute("source").value());
            normalWithVertex = true;
        }
    }
    if (!mesh.positionSource)
        return false;
    for (pugi::xml_node primitive = vertices.next_sibling(); primitive;
         primitive = primitive.next_sibling()) {
        const std::string kind = primitive.name();
        if (kind == "extra" || kind == "source" || kind == "lines" || kind == "linestrips")
            continue;
        int32_t vertexOffset = -1, normalOffset = -1, stride = 0;
        for (pugi::xml_node input = primitive.child("input"); input;
             input = input.next_sibling("input")) {
            const std::string semantic = input.attribute("semantic").value();
            const int32_t offset = input.attribute("offset").as_int();
            stride = std::max(stride, offset + 1);
            if (semantic == "VERTEX")
                vertexOffset = offset;
            else if (semantic == "NORMAL" && !normalWithVertex) {
                normalOffset = offset;
                mesh.normalSource = byId(ids, input.attribute("source").value());
            }
        }
        Corners corners;
        if (vertexOffset < 0 ||
            !readCorners(corners, primitive, vertexOffset, normalOffset, normalWithVertex, stride))
            return false;
        mesh.primitives.push_back(std::move(corners));
    }
    return true;
}

// The geometry and primitive of an assimp mesh: its name is the geometry's id (or name),
// with "_K" after it for the primitive K > 0.
bool findGeometry(pugi::xml_node& geometry, size_t& primitive, const std::string& meshName,
                  pugi::xml_node library) {
    for (pugi::xml_node g = library.child("geometry"); g; g = g.next_sibling("geometry"))
        for (const char* key : {g.attribute("id").value(), g.attribute("name").value()}) {
            const std::string k = key;
            if (k.empty())
                continue;
            if (meshName == k) {
                geometry = g, primitive = 0;
                return true;
            }
            if (meshName.size() > k.size() + 1 && meshName.compare(0, k.size(), k) == 0 &&
                meshName[k.size()] == '_') {
                char* end = nullptr;
                const long index = std::strtol(meshName.c_str() + k.size() + 1, &end, 10);
                if (*end == '\0' && index > 0) {
                    geometry = g, primitive = size_t(index);
                    return true;
                }
            }
        }
    return false;
}

// Every id in a copy of a geometry, and every reference to one, gets the suffix.
void renameIds(pugi::xml_node node, const std::string& suffix,
               const std::map<std::string, pugi::xml_node>& inside) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        const std::string name = a.name(), value = a.value();
        if (name == "id")
            a.set_value((value + suffix).c_str());
        else if ((name == "source" || name == "url") && value.size() > 1 && value[0] == '#' &&
                 inside.count(value.substr(1)))
            a.set_value((value + suffix).c_str());
    }
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        renameIds(child, suffix, inside);
}

void collectIds(std::map<std::string, pugi::xml_node>& ids, pugi::xml_node node) {
    if (const pugi::xml_attribute id = node.attribute("id"))
        ids[id.value()] = node;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        collectIds(ids, child);
}

} // namespace

float meshSize(const aiMesh& mesh) {
    aiVector3D low = mesh.mVertices[0], high = mesh.mVertices[0];
    for (unsigned v = 0; v < mesh.mNumVertices; ++v)
        for (int c = 0; c < 3; ++c) {
            low[c] = std::min(low[c], mesh.mVertices[v][c]);
            high[c] = std::max(high[c], mesh.mVertices[v][c]);
        }
    return (high - low).Length();
}

// The values of one pose put into a source's tokens: entry e gets the value of a corner that
// uses it, where that value differs from the rest one as assimp read it.
void setEntries(std::vector<std::string>& tokens, const std::vector<int64_t>& entryOfCorner,
                const aiVector3D* rest, const aiVector3D* posed) {
    for (size_t c = 0; c < entryOfCorner.size(); ++c) {
        const int64_t e = entryOfCorner[c];
        if (e < 0 || size_t(3 * e + 2) >= tokens.size() || rest[c] == posed[c])
            continue;
        for (int k = 0; k < 3; ++k)
            tokens[size_t(3 * e + k)] = number(posed[c][unsigned(k)]);
    }
}

bool writeOwnCollada(const char* outFile, const std::string& sourceFile, const aiScene& scene,
                     const std::vector<PosedMesh>& posed, const std::vector<std::string>& shapes,
                     std::string& error) {
    std::string text;
    const std::string folder = std::filesystem::path(outFile).parent_path().string();
    if (!readColladaText(text, sourceFile, folder.empty() ? "." : folder, error))
        return false;
    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(text.data(), text.size(), pugi::parse_full);
    if (!parsed)
        return fileError(error, sourceFile,
                         std::string("the Collada XML does not parse (") + parsed.description() +
                             " at byte " + std::to_string(parsed.offset) + ")");
    pugi::xml_node root = document.child("COLLADA");
    pugi::xml_node library = root.child("library_geometries");
    std::map<std::string, pugi::xml_node> ids;
    collectIds(ids, root);

    // Per geometry morphed: its new position and normal tokens per pose.
    struct Replaced {
        ColladaMesh mesh;
        FloatSource positions, normals;
        std::vector<std::vector<std::string>> shapePositions, shapeNormals;
    };
    std::map<std::string, Replaced> replaced; // by geometry id
    for (const PosedMesh& p : posed) {
        const aiMesh& mesh = *scene.mMeshes[p.meshIndex];
        const std::string name = mesh.mName.C_Str();
        pugi::xml_node geometry;
        size_t primitive = 0;
        const std::string unmatched =
            "mesh \"" + name + "\" (assimp's mesh " + std::to_string(p.meshIndex) + ") ";
        if (!findGeometry(geometry, primitive, name, library))
            return fileError(error, sourceFile, unmatched + "names no geometry of the file");
        const std::string id = geometry.attribute("id").value();
        Replaced& r = replaced[id];
        if (!r.mesh.geometry) {
            if (!readColladaMesh(r.mesh, geometry, ids) ||
                !readFloatSource(r.positions, r.mesh.positionSource) ||
                (r.mesh.normalSource && !readFloatSource(r.normals, r.mesh.normalSource)))
                return fileError(error, sourceFile,
                                 "geometry \"" + id +
                                     "\": its sources or primitives are not read here (triangles, "
                                     "polylist or polygons of 3-value sources); write .glb");
            r.shapePositions.assign(shapes.size(), r.positions.tokens);
            r.shapeNormals.assign(shapes.size(), r.normals.tokens);
        }
        if (primitive >= r.mesh.primitives.size())
            return fileError(error, sourceFile, unmatched + "names no primitive of its geometry");
        const Corners& corners = r.mesh.primitives[primitive];
        // The corners must be assimp's vertices, in order, at the positions written.
        const float tolerance = 1e-5f * meshSize(mesh);
        bool same = corners.position.size() == p.vertexCount;
        for (size_t c = 0; same && c < p.vertexCount; ++c) {
            const int64_t e = corners.position[c];
            same = e >= 0 && size_t(3 * e + 2) < r.positions.tokens.size();
            if (same) {
                const aiVector3D written(
                    std::strtof(r.positions.tokens[size_t(3 * e)].c_str(), nullptr),
                    std::strtof(r.positions.tokens[size_t(3 * e + 1)].c_str(), nullptr),
                    std::strtof(r.positions.tokens[size_t(3 * e + 2)].c_str(), nullptr));
                same = (written - mesh.mVertices[c]).Length() <= tolerance;
            }
        }
        if (!same)
            return fileError(error, sourceFile,
                             unmatched + "does not match its primitive's corners; write .glb");
        const bool normals = mesh.mNormals && r.mesh.normalSource && !p.normals.empty();
        setEntries(r.positions.tokens, corners.position, mesh.mVertices, p.positions.data());
        if (normals)
            setEntries(r.normals.tokens, corners.normal, mesh.mNormals, p.normals.data());
        for (size_t s = 0; s < shapes.size(); ++s) {
            setEntries(r.shapePositions[s], corners.position, mesh.mVertices,
                       p.positions.data() + (s + 1) * p.vertexCount);
            if (normals)
                setEntries(r.shapeNormals[s], corners.normal, mesh.mNormals,
                           p.normals.data() + (s + 1) * p.vertexCount);
        }
    }

    // The shapes: a copy of each geometry per shape, named after it, and one morph
    // controller on the geometry listing them (not instanced: the node keeps its geometry,
    // and Blender makes the controller's targets shape keys of the object showing it).
    pugi::xml_node controllers = root.child("library_controllers");
    if (!shapes.empty() && !controllers) {
        const pugi::xml_node before = root.child("library_visual_scenes")
                                          ? root.child("library_visual_scenes")
                                          : root.child("scene");
        controllers = before ? root.insert_child_before("library_controllers", before)
                             : root.append_child("library_controllers");
    }
    for (auto& [id, r] : replaced) {
        r.positions.array.text().set(sourceText(r.positions.tokens).c_str());
        if (r.normals.array)
            r.normals.array.text().set(sourceText(r.normals.tokens).c_str());
        if (shapes.empty())
            continue;
        std::map<std::string, pugi::xml_node> inside;
        collectIds(inside, r.mesh.geometry);
        std::string targets;
        pugi::xml_node after = r.mesh.geometry;
        for (size_t s = 0; s < shapes.size(); ++s) {
            const std::string suffix = "-" + shapes[s];
            pugi::xml_node copy = library.insert_copy_after(r.mesh.geometry, after);
            after = copy;
            renameIds(copy, suffix, inside);
            copy.attribute("name")
                ? (void)copy.attribute("name").set_value(shapes[s].c_str())
                : (void)copy.append_attribute("name").set_value(shapes[s].c_str());
            std::map<std::string, pugi::xml_node> copied;
            collectIds(copied, copy);
            byId(copied, (r.positions.array.attribute("id").value() + suffix).c_str())
                .text()
                .set(sourceText(r.shapePositions[s]).c_str());
            if (r.normals.array)
                byId(copied, (r.normals.array.attribute("id").value() + suffix).c_str())
                    .text()
                    .set(sourceText(r.shapeNormals[s]).c_str());
            targets += (s == 0 ? "" : " ") + id + suffix;
        }
        const std::string morph = id + "-morph", count = std::to_string(shapes.size());
        std::string weights = "0";
        for (size_t s = 1; s < shapes.size(); ++s)
            weights += " 0";
        pugi::xml_node controller = controllers.append_child("controller");
        controller.append_attribute("id").set_value(morph.c_str());
        controller.append_attribute("name").set_value(morph.c_str());
        pugi::xml_node m = controller.append_child("morph");
        m.append_attribute("source").set_value(("#" + id).c_str());
        m.append_attribute("method").set_value("NORMALIZED");
        const struct {
            const char* suffix;
            const char* array;
            const char* param;
            const char* type;
            std::string values;
        } sources[] = {{"-targets", "IDREF_array", "MORPH_TARGET", "IDREF", targets},
                       {"-weights", "float_array", "MORPH_WEIGHT", "float", weights}};
        pugi::xml_node inputs;
        for (const auto& source : sources) {
            const std::string sourceId = morph + source.suffix, arrayId = sourceId + "-array";
            pugi::xml_node element = m.append_child("source");
            element.append_attribute("id").set_value(sourceId.c_str());
            pugi::xml_node array = element.append_child(source.array);
            array.append_attribute("id").set_value(arrayId.c_str());
            array.append_attribute("count").set_value(count.c_str());
            array.text().set(source.values.c_str());
            pugi::xml_node accessor =
                element.append_child("technique_common").append_child("accessor");
            accessor.append_attribute("source").set_value(("#" + arrayId).c_str());
            accessor.append_attribute("count").set_value(count.c_str());
            accessor.append_attribute("stride").set_value("1");
            pugi::xml_node param = accessor.append_child("param");
            param.append_attribute("name").set_value(source.param);
            param.append_attribute("type").set_value(source.type);
        }
        inputs = m.append_child("targets");
        for (const auto& source : sources) {
            pugi::xml_node input = inputs.append_child("input");
            input.append_attribute("semantic").set_value(source.param);
            input.append_attribute("source").set_value(("#" + morph + source.suffix).c_str());
        }
    }

    std::ostringstream out;
    document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    const std::string written = out.str();
    return writeFileContents(outFile, written.data(), written.size(), error);
}

namespace {

// A line of an OBJ file, and where its numbers end (for "v" and "vn").
struct ObjLine {
    const char* start;
    const char* stop;
    char kind;             // 'v' a position, 'n' a normal, 'f' a face, 0 anything else
    const char* valuesEnd; // after the third number of a 'v' or 'n' line
};

const char* skipSpace(const char* c, const char* stop) {
    while (c < stop && (*c == ' ' || *c == '\t' || *c == '\r'))
        ++c;
    return c;
}
const char* skipWord(const char* c, const char* stop) {
    while (c < stop && !(*c == ' ' || *c == '\t' || *c == '\r'))
        ++c;
    return c;
}

// Source vertices near a point: a hash of cells as large as the tolerance, each point
// sought in the 27 cells around it.
struct VertexGrid {
    float cell;
    std::map<std::array<int64_t, 3>, std::vector<std::pair<size_t, unsigned>>> cells;
    std::array<int64_t, 3> key(const aiVector3D& p) const {
        return {int64_t(std::floor(p.x / cell)), int64_t(std::floor(p.y / cell)),
                int64_t(std::floor(p.z / cell))};
    }
};

} // namespace

bool writeOwnObj(const char* outFile, const std::string& sourceFile, const FileContents& source,
                 const aiScene& scene, const std::vector<PosedMesh>& posed, std::string& error) {
    // The lines, the positions and normals as written, and every face corner's indices.
    std::vector<ObjLine> lines;
    std::vector<aiVector3D> positions, normals;
    std::vector<std::pair<int64_t, int64_t>> corners; // position, normal (−1 none)
    const char* const end = source.data + source.size;
    long lineNumber = 0;
    for (const char* at = source.data; at < end;) {
        const char* stop = static_cast<const char*>(std::memchr(at, '\n', size_t(end - at)));
        stop = stop ? stop : end;
        ++lineNumber;
        ObjLine line = {at, stop, 0, nullptr};
        const char* c = skipSpace(at, stop);
        const char* word = skipWord(c, stop);
        const std::string tag(c, word);
        if (tag == "v" || tag == "vn") {
            aiVector3D value;
            const char* n = word;
            for (unsigned k = 0; k < 3; ++k) {
                n = skipSpace(n, stop);
                const char* numberEnd = skipWord(n, stop);
                value[k] = std::strtof(std::string(n, numberEnd).c_str(), nullptr);
                n = numberEnd;
            }
            line.kind = tag == "v" ? 'v' : 'n';
            line.valuesEnd = n;
            (tag == "v" ? positions : normals).push_back(value);
        } else if (tag == "f") {
            line.kind = 'f';
            for (const char* n = skipSpace(word, stop); n < stop; n = skipSpace(n, stop)) {
                const char* cornerEnd = skipWord(n, stop);
                const std::string corner(n, cornerEnd);
                n = cornerEnd;
                const size_t slash = corner.find('/'), second = corner.rfind('/');
                char* numberEnd = nullptr;
                const long long p = std::strtoll(corner.c_str(), &numberEnd, 10);
                long long q = 0;
                if (slash != std::string::npos && second != slash && second + 1 < corner.size())
                    q = std::strtoll(corner.c_str() + second + 1, nullptr, 10);
                // 1-based, or counted back from the last one written (negative).
                const int64_t pi = p > 0 ? p - 1 : int64_t(positions.size()) + p;
                const int64_t ni = q > 0 ? q - 1 : q < 0 ? int64_t(normals.size()) + q : -1;
                if (p == 0 || pi < 0 || pi >= int64_t(positions.size()) ||
                    ni >= int64_t(normals.size()))
                    return lineError(error, sourceFile, lineNumber,
                                     "face corner \"" + corner.substr(0, 40) +
                                         "\" is not a vertex written before it");
                corners.push_back({pi, ni});
            }
        }
        lines.push_back(line);
        at = stop < end ? stop + 1 : end;
    }

    // The posed meshes' rest vertices in a grid, a millionth of the largest mesh apart.
    float size = 0.0f;
    for (const PosedMesh& p : posed)
        size = std::max(size, meshSize(*scene.mMeshes[p.meshIndex]));
    const float tolerance = std::max(1e-6f * size, 1e-30f);
    VertexGrid grid{tolerance, {}};
    for (size_t u = 0; u < posed.size(); ++u) {
        const aiMesh& mesh = *scene.mMeshes[posed[u].meshIndex];
        for (unsigned v = 0; v < mesh.mNumVertices; ++v)
            grid.cells[grid.key(mesh.mVertices[v])].push_back({u, v});
    }

    // Each corner takes the pose of the source vertex at its position with the nearest
    // normal; a value is replaced only where the pose changed it.
    std::vector<int8_t> positionSet(positions.size(), 0), normalSet(normals.size(), 0);
    std::vector<aiVector3D> newPositions = positions, newNormals = normals;
    for (const auto& [pi, ni] : corners) {
        const aiVector3D& p = positions[size_t(pi)];
        const std::array<int64_t, 3> k = grid.key(p);
        float best = INFINITY;
        const std::pair<size_t, unsigned>* chosen = nullptr;
        for (int64_t dx = -1; dx <= 1; ++dx)
            for (int64_t dy = -1; dy <= 1; ++dy)
                for (int64_t dz = -1; dz <= 1; ++dz) {
                    const auto cell = grid.cells.find({k[0] + dx, k[1] + dy, k[2] + dz});
                    if (cell == grid.cells.end())
                        continue;
                    for (const auto& candidate : cell->second) {
                        const aiMesh& mesh = *scene.mMeshes[posed[candidate.first].meshIndex];
                        if ((mesh.mVertices[candidate.second] - p).Length() > tolerance)
                            continue;
                        const float apart =
                            ni >= 0 && mesh.mNormals
                                ? (mesh.mNormals[candidate.second] - normals[size_t(ni)]).Length()
                                : 0.0f;
                        if (apart < best)
                            best = apart, chosen = &candidate;
                    }
                }
        if (!chosen)
            continue;
        const PosedMesh& m = posed[chosen->first];
        const aiMesh& mesh = *scene.mMeshes[m.meshIndex];
        const unsigned v = chosen->second;
        if (!positionSet[size_t(pi)] && !(m.positions[v] == mesh.mVertices[v])) {
            newPositions[size_t(pi)] = m.positions[v];
            positionSet[size_t(pi)] = 1;
        }
        if (ni >= 0 && mesh.mNormals && !normalSet[size_t(ni)] &&
            !(m.normals[v] == mesh.mNormals[v])) {
            newNormals[size_t(ni)] = m.normals[v];
            normalSet[size_t(ni)] = 1;
        }
    }

    // The file again, the replaced values written with nine significant digits.
    std::string out;
    out.reserve(source.size + source.size / 8);
    size_t nextPosition = 0, nextNormal = 0;
    for (const ObjLine& line : lines) {
        const bool isPosition = line.kind == 'v', isNormal = line.kind == 'n';
        const size_t index = isPosition ? nextPosition++ : isNormal ? nextNormal++ : 0;
        if ((isPosition && positionSet[index]) || (isNormal && normalSet[index])) {
            const aiVector3D& value = isPosition ? newPositions[index] : newNormals[index];
            out += std::string(isPosition ? "v " : "vn ") + number(value.x) + " " +
                   number(value.y) + " " + number(value.z);
            out.append(line.valuesEnd, line.stop);
        } else
            out.append(line.start, line.stop);
        if (line.stop < end)
            out += '\n';
    }
    return writeFileContents(outFile, out.data(), out.size(), error);
}
