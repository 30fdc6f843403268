// The 52 facial expressions that ARKit names, which capture apps, game engines and modelling
// tools share (camelCase; left and right are the face's own, +x its left), in ARKit's order.
#pragma once

#include <string>

constexpr int arkitExpressionCount = 52;
extern const char* const arkitExpressionNames[arkitExpressionCount];

// Whether name is one of them.
bool isArkitExpression(const std::string& name);
