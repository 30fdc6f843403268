// The default face's expression library: the 52 expressions that ARKit names (less
// tongueOut: the face has no tongue), each a pose of the control points made from the
// face's own construction (its lids wrap the eyeballs, its lips meet along the lip line, its
// jaw turns about a hinge), and the 18 expression presets of VRM avatars as mixes of them.
//
// Left and right are the face's own (+x is its left), as ARKit names them; each `…Left`
// expression is made on the left, and its `…Right` is its mirror image through the control
// mesh's mirror pairs. Two expressions are fitted to what they promise on the render mesh
// the viewer binds: eyeBlink closes the lid gap at the middle of the eye, and mouthClose
// seals the lips that jawOpen parts.
#pragma once

#include "face/face_model.h"
#include "geometry/vector.h"
#include "io/expression_names.h"
#include "tools/assets/mesh.h"
#include "tools/common/expression_measures.h"

#include <cstdio>
#include <string>
#include <vector>

// The expressions in the library: the first expressionCount of arkitExpressionNames
// (io/expression_names.h), all but tongueOut; and why that one is left out.
constexpr int expressionCount = 51;
extern const char* const missingExpressionNote; // why tongueOut is not there

// An expression: its name, what it does (a comment line of its file), and its offsets from
// rest (K control points; most are zero).
struct Expression {
    std::string name;
    std::string summary;
    std::vector<Vector3> offsets;
};

// The default face built as face-assets writes it and bound as the viewer binds it: its
// render and control meshes in the generator's terms, the face model, its rest control
// points, and its features.
struct DefaultFace {
    FaceMesh render;
    ControlMesh control;
    std::unique_ptr<FaceModel> model;
    ArrayHolder<Vector3> rest; // K, the control points as the model file stores them
    FaceFeatures features;
};

// Builds the default face (the bytes of face-assets' model file, read back).
void buildDefaultFace(DefaultFace& face);

// The library's expressions, in ARKit's order.
void buildExpressions(std::vector<Expression>& expressions, DefaultFace& face);

// A VRM expression preset: its name and its mix of the library's expressions.
struct PresetTerm {
    const char* expression;
    float weight;
};
struct ExpressionPreset {
    const char* name;
    PresetTerm terms[6];
    int termCount;
};
constexpr int expressionPresetCount = 18;
extern const ExpressionPreset expressionPresets[expressionPresetCount];

// Writes the library into folder: NAME.txt for every expression and vrm/NAME.txt for every
// preset (its offsets the mix of its terms), each with a comment line saying what it is, and
// README.md, which lists them, says why tongueOut is missing and gives each preset's mix.
// Offsets are written with four decimals. Returns false with one line in error when a
// file cannot be written.
bool writeExpressionLibrary(const std::string& folder, const std::vector<Expression>& expressions,
                            int32_t K, std::string& error);

// Measures every expression on the face and prints the table of what each promises and
// what it does (Markdown rows) to out; returns the number of expressions that miss an aim
// (each named on a line of its own in misses when it is not null).
int measureExpressions(FILE* out, std::vector<std::string>* misses,
                       const std::vector<Expression>& expressions, DefaultFace& face);
