// The rigid props of the face, modelled in the face's own coordinates at rest (their
// frames start as the identity): two eyeballs behind the eye openings and two rows of
// teeth behind the lips.
#pragma once

#include "geometry/vector.h"
#include "tools/assets/shape.h"

#include <vector>

struct PropUV {
    double u, v; // v = 0 is the top of the picture
};

struct PropMesh {
    std::vector<Point3> positions;
    std::vector<PropUV> texCoords;
    std::vector<Triangle> triangles; // counter-clockwise seen from outside
};

// Eyeball on the side of sign (−1: negative x, +1: positive x): a sphere around
// eyeballCentre(sign) whose pole looks along +z. Texture: u runs once around the view
// axis, v from the front pole (0, the pupil's middle) to the back pole (1).
void buildEyeball(PropMesh& eye, int sign);

// A row of teeth: a strip bent along the jaw's arch behind the lips, from one mouth corner
// to the other, upper row above the lip line and lower row below it (a little behind the
// upper one). Texture: u from the negative-x end to the positive-x end, v = 0 at the
// strip's top (the upper row's gums, the lower row's tips).
void buildTeeth(PropMesh& teeth, bool upper);
