// face-poser: the GLUT layer. Reads the arguments, checks the folder before a window opens,
// creates the window, registers the callbacks in one place and forwards every event to the
// plain operations of tools/poser/poser.h.
#include "app/window.h"
#include "face/workers.h"
#include "io/take_file.h"
#include "tools/common/arguments.h"
#include "tools/poser/poser.h"

#include <GL/glut.h>
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

const char usageText[] =
    "usage: face-poser [FOLDER] [--pose FILE] [--take FILE] [--threads N]\n"
    "  FOLDER       holds data/ (the model, props and textures that face-viewer reads);\n"
    "               default the current folder. pose.txt, posed.obj and shot-NNN.png are\n"
    "               written there\n"
    "  --pose FILE  start from this pose (\"I DX DY DZ\" a line, as face-inspect --pose reads)\n"
    "  --take FILE  play this take on the face (a Live Link Face CSV, a CSV of time and\n"
    "               ARKit's expression names, or a web face tracker's JSON): its weights\n"
    "               mix the library poses of those names, its head rotation turns the face\n"
    "  --threads N  threads for the binding, the amplification and every frame's update\n"
    "               (default: every core; any count gives the same pictures)\n"
    "  --help, -h   this text\n";

ViewerState viewer; // navigation state; its camera is built before main
Scene scene;        // the face, its control points, props and dragger
Poser poser;        // the pose, its history and face-poser's switches

// One line on standard error and status 1 (no std::string: it reports running out of memory
// too).
[[noreturn]] void stop(const char* message) {
    std::fprintf(stderr, "%s: %s\n", poserProgram, message);
    std::exit(1);
}

// GLUT's fixed 8 by 13 font, at the current raster position.
void drawBitmapText(const char* text) {
    for (; *text; ++text)
        glutBitmapCharacter(GLUT_BITMAP_8_BY_13, *text);
}

bool parseArguments(std::string& folder, const char*& poseFile, const char*& takeFile,
                    int32_t& threads, bool& help, std::string& problem, int argc, char** argv) {
    const option longOptions[] = {{"pose", required_argument, nullptr, 'p'},
                                  {"take", required_argument, nullptr, 'k'},
                                  {"threads", required_argument, nullptr, 't'},
                                  {"help", no_argument, nullptr, 'h'},
                                  {nullptr, 0, nullptr, 0}};
    const std::string threadsProblem = threadCountProblem();
    opterr = 0; // our own messages
    bool folderGiven = false;
    for (int c; (c = getopt_long(argc, argv, "-:h", longOptions, nullptr)) != -1;) {
        switch (c) {
        case 'h':
            help = true;
            return true;
        case 1: // the folder
            if (folderGiven)
                return problem = "more than one folder", false;
            folderGiven = true;
            folder = optarg;
            break;
        case 'p':
            if (poseFile)
                return problem = "--pose takes a file name, once", false;
            poseFile = optarg;
            break;
        case 'k':
            if (takeFile)
                return problem = "--take takes a file name, once", false;
            takeFile = optarg;
            break;
        case 't':
            if (!parseThreadCount(threads, optarg, problem))
                return false;
            break;
        case ':':
            return problem = optopt == 't'   ? threadsProblem
                             : optopt == 'k' ? "--take takes a file name, once"
                                             : "--pose takes a file name, once",
                   false;
        default:
            return problem = std::string("unknown option '") + argv[optind - 1] + "'", false;
        }
    }
    if (folderGiven && folder.empty())
        return problem = "an empty folder name", false;
    return true;
}

// An exception must not unwind through GLUT's C frames.
void onDisplay() {
    try {
        drawPoserFrame(poser, scene, viewer);
        glutSwapBuffers();
    } catch (const std::bad_alloc&) {
        stop("out of memory while drawing");
    }
}

void onMouse(int button, int state, int x, int y) {
    poserMouseButton(poser, viewer, scene, button, state == GLUT_DOWN, x, y);
    glutPostRedisplay(); // a press shows what it picked
}

void onMotion(int x, int y) {
    poserMotion(poser, viewer, scene, x, y);
    glutPostRedisplay();
}

void onSpecial(int key, int /*x*/, int /*y*/) {
    poserSpecialKey(poser, viewer, scene, key);
    glutPostRedisplay();
}

// A playing take moves on by the real time gone by since the last tick, about twice a frame
// of a take at 60 a second; the face is drawn again only when its frame changed.
constexpr int tickMilliseconds = 8;
int lastTick = 0;

void onTick(int /*value*/) {
    const int now = glutGet(GLUT_ELAPSED_TIME);
    try {
        if (poserTick(poser, scene, double(now - lastTick) / 1000.0))
            glutPostRedisplay();
    } catch (const std::bad_alloc&) {
        stop("out of memory");
    }
    lastTick = now;
    glutTimerFunc(tickMilliseconds, onTick, 0);
}

void onKeyboard(unsigned char key, int /*x*/, int /*y*/) {
    try {
        if (poserKey(poser, viewer, scene, key) == PoserKey::quit)
            std::exit(0);
    } catch (const std::bad_alloc&) {
        stop("out of memory");
    }
    glutPostRedisplay();
}

} // namespace

int main(int argc, char** argv) try {
    std::string folder, problem, error;
    const char* poseFile = nullptr;
    const char* takeFile = nullptr;
    int32_t threads = 0; // 0: every core
    bool help = false;
    if (!parseArguments(folder, poseFile, takeFile, threads, help, problem, argc, argv)) {
        std::fprintf(stderr, "%s: %s\n%s", poserProgram, problem.c_str(), usageText);
        return 2;
    }
    if (help) {
        std::fputs("face-poser: face-viewer on a data folder of yours, to pose the face, undo, "
                   "save named poses and export them\n",
                   stdout);
        // The usage, then the keys of the window beyond face-viewer's, as "?" lists them.
        std::fputs(usageText, stdout);
        std::fputs("keys in the window, besides face-viewer's (\"?\" shows them there):\n", stdout);
        for (const char* line : poserKeyLines)
            std::printf("  %s\n", line + (line[0] == '\t' ? 1 : 0));
        return 0;
    }
    if (threads > 0)
        setSharedThreadCount(threads);
    // What can be refused without a display is refused before the window opens.
    if (!checkPoserStart(error, folder, poseFile))
        stop(error.c_str());
    Take take;
    std::vector<std::string> warnings;
    if (takeFile && !readTakeFile(take, takeFile, warnings, error))
        stop(error.c_str());

    int glutArgc = 1; // the arguments are face-poser's, none is GLUT's
    glutInit(&glutArgc, argv);
    createViewerWindow(viewer,
                       ("face-poser: " + (folder.empty() ? std::string(".") : folder)).c_str());
    registerViewerCallbacks(onDisplay, onMouse, onMotion, onKeyboard);
    glutSpecialFunc(onSpecial); // a take's arrow keys, else face-viewer's
    poser.drawText = drawBitmapText;
    initGLState();
    if (!startPoser(poser, scene, folder, poseFile, error) ||
        (takeFile && !loadPoserTake(poser, scene, takeFile, error)))
        stop(error.c_str());
    poser.player.playing = takeFile != nullptr; // a take given at start plays at once
    lastTick = glutGet(GLUT_ELAPSED_TIME);
    glutTimerFunc(tickMilliseconds, onTick, 0);
    glutMainLoop();
    return 0;
} catch (const std::bad_alloc&) {
    stop("out of memory");
}
