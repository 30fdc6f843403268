#include "draw/mesh_draw.h"
#include "io/prop.h"

#include <GL/gl.h>

void drawTexturedMesh(const Vector3* positions, const Vector3* normals, const TexCoord* texCoords,
                      const Triangle* triangles, int32_t M) {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, positions);
    glNormalPointer(GL_FLOAT, 0, normals);
    glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
    glDrawElements(GL_TRIANGLES, 3 * M, GL_UNSIGNED_INT, triangles);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

void Prop::draw() const {
    drawTexturedMesh(positions.get(), normals.get(), texCoords.get(), triangles.get(),
                     triangleCount);
}
