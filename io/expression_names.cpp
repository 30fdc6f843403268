#include "io/expression_names.h"

const char* const arkitExpressionNames[arkitExpressionCount] = {
    "eyeBlinkLeft",      "eyeLookDownLeft",    "eyeLookInLeft",
    "eyeLookOutLeft",    "eyeLookUpLeft",      "eyeSquintLeft",
    "eyeWideLeft",       "eyeBlinkRight",      "eyeLookDownRight",
    "eyeLookInRight",    "eyeLookOutRight",    "eyeLookUpRight",
    "eyeSquintRight",    "eyeWideRight",       "jawForward",
    "jawLeft",           "jawRight",           "jawOpen",
    "mouthClose",        "mouthFunnel",        "mouthPucker",
    "mouthLeft",         "mouthRight",         "mouthSmileLeft",
    "mouthSmileRight",   "mouthFrownLeft",     "mouthFrownRight",
    "mouthDimpleLeft",   "mouthDimpleRight",   "mouthStretchLeft",
    "mouthStretchRight", "mouthRollLower",     "mouthRollUpper",
    "mouthShrugLower",   "mouthShrugUpper",    "mouthPressLeft",
    "mouthPressRight",   "mouthLowerDownLeft", "mouthLowerDownRight",
    "mouthUpperUpLeft",  "mouthUpperUpRight",  "browDownLeft",
    "browDownRight",     "browInnerUp",        "browOuterUpLeft",
    "browOuterUpRight",  "cheekPuff",          "cheekSquintLeft",
    "cheekSquintRight",  "noseSneerLeft",      "noseSneerRight",
    "tongueOut"};

bool isArkitExpression(const std::string& name) {
    for (const char* known : arkitExpressionNames)
        if (name == known)
            return true;
    return false;
}
