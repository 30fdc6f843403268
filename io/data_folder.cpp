#include "io/data_folder.h"

const PropSlotSource propSlotSources[propSlotCount] = {
    {"black_th0", "data/black_th0.prop", "data/black_th0.tga", 70, 74, {24, 0, 0}, 1, true},
    {"black_th1", "data/black_th1.prop", "data/black_th1.tga", 70, 74, {87, 0, 0}, 1, true},
    {"white_eye0", "data/white_eye0.prop", "data/white_eye0.tga", 66, 67, {33, 34, 35}, 3, false},
    {"white_eye1", "data/white_eye1.prop", "data/white_eye1.tga", 68, 69, {53, 54, 55}, 3, false},
};

const char* const sceneModelFile = "data/retarget.model";
const char* const sceneSkinTextureFile = "data/white_skin.tga";

std::string propFrameText(const PropSlotSource& source) {
    std::string text = std::string(source.name) + " (control points " +
                       std::to_string(source.first) + ", " + std::to_string(source.second);
    if (source.thirdCount == 3)
        text += " and the centroid of " + std::to_string(source.third[0]) + ", " +
                std::to_string(source.third[1]) + ", " + std::to_string(source.third[2]);
    else
        text += ", " + std::to_string(source.third[0]);
    return text + ")";
}

std::string sceneFilePath(const std::string& folder, const char* file) {
    if (folder.empty())
        return file;
    return folder + (folder.back() == '/' ? "" : "/") + file;
}
