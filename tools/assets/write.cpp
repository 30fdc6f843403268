#include "tools/assets/write.h"

#include "io/file_contents.h"
#include "io/model_file.h"
#include "io/prop.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The float nearest to x as written with four decimals: the writer prints it back as the
// same four decimals (a float carries about seven significant digits).
float fourDecimals(double x) {
    char text[48];
    std::snprintf(text, sizeof text, "%.4f", x);
    return std::strtof(text, nullptr);
}

void toFloats(std::vector<Vector3>& out, const std::vector<Point3>& points) {
    out.clear();
    for (const Point3& p : points)
        out.push_back({fourDecimals(p.x), fourDecimals(p.y), fourDecimals(p.z)});
}

} // namespace

void formatFaceModel(std::string& text, const FaceMesh& render, const FaceMesh& control) {
    std::vector<Vector3> renderPositions, controlPoints;
    toFloats(renderPositions, render.positions);
    toFloats(controlPoints, control.positions);
    std::vector<TexCoord> texCoords;
    for (const DomainPoint& d : render.domain) {
        double u, v;
        domainTexCoord(d.X, d.Y, u, v);
        texCoords.push_back({fourDecimals(u), fourDecimals(v)});
    }
    text.clear();
    appendMeshSections(text, renderPositions.data(), texCoords.data(),
                       int32_t(renderPositions.size()), render.triangles.data(),
                       int32_t(render.triangles.size()), RealFormat::fourDecimals);
    appendControlSections(text, controlPoints.data(), int32_t(controlPoints.size()),
                          control.triangles.data(), int32_t(control.triangles.size()),
                          RealFormat::fourDecimals);
}

bool writeFaceModel(const char* path, const FaceMesh& render, const FaceMesh& control,
                    std::string& error) {
    std::string text;
    formatFaceModel(text, render, control);
    return writeFileContents(path, text.data(), text.size(), error);
}

bool writePropMesh(const char* path, const PropMesh& prop, std::string& error) {
    std::vector<Vector3> positions;
    toFloats(positions, prop.positions);
    std::vector<TexCoord> texCoords;
    for (const PropUV& t : prop.texCoords)
        texCoords.push_back({fourDecimals(t.u), fourDecimals(t.v)});
    return writePropFile(path, positions.data(), texCoords.data(), int32_t(positions.size()),
                         prop.triangles.data(), int32_t(prop.triangles.size()), error,
                         RealFormat::fourDecimals);
}
