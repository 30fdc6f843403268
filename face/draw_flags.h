// Bits of the flags word that chooses the face's overlays (FaceModel::draw); the viewer's
// keys "c", "a" and "h" switch them.
#pragma once

#include <cstdint>

constexpr uint32_t drawControlMesh = 1;    // boundary curves and translucent surface
constexpr uint32_t drawAttachments = 2;    // where each render vertex hangs on the surface
constexpr uint32_t drawHintingSamples = 4; // the binding's samples with their normals
