// End-to-end harness: runs the programs as users do. runProgram runs a tool to its end;
// ViewerSession runs the real face-viewer (or face-poser) under an Xvfb display of its own, sends
// it keys and mouse events with xdotool, captures the screen (ImageMagick's import) and collects
// its standard output and error. Its destructor stops the viewer and Xvfb by process id; both also
// die with the test process (PR_SET_PDEATHSIG).
#pragma once

#include "tests/support/temp_dir.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct Screenshot {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // rows top first, 3 bytes per pixel

    // Pixels in the rectangle [x0, x1) × [y0, y1) for which the predicate holds.
    template <class Predicate> int count(int x0, int y0, int x1, int y1, Predicate p) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                n += p(&rgb[(static_cast<size_t>(y) * width + x) * 3]) ? 1 : 0;
        return n;
    }
};

void sleepSeconds(double seconds);
// The whole file's bytes; empty if it cannot be read.
std::string readFile(const std::string& path);

// Runs a program (argv[0] a path) to its end: its exit status (−1 if it died by a signal),
// standard output and standard error.
struct ProgramRun {
    int status = -1;
    std::string out, err;
};
ProgramRun runProgram(const std::vector<std::string>& argv);

// The same with the arguments in one string, split at spaces (for paths without any).
ProgramRun runWords(const std::string& program, const std::string& arguments);

class ViewerSession {
  public:
    // The viewer runs in workingDirectory and reads its data/ from there.
    explicit ViewerSession(std::string workingDirectory) : workDir(std::move(workingDirectory)) {}
    // Another program with a window: its path and arguments, and a part of its title.
    ViewerSession(std::string workingDirectory, std::vector<std::string> programCommand,
                  std::string programWindowName)
        : workDir(std::move(workingDirectory)), command(std::move(programCommand)),
          windowName(std::move(programWindowName)) {}
    ~ViewerSession();
    ViewerSession(const ViewerSession&) = delete;
    ViewerSession& operator=(const ViewerSession&) = delete;

    // Starts Xvfb and the viewer and waits until its window is shown; false if either did
    // not start or the viewer exited first.
    bool start();
    bool alive();
    // Waits up to timeoutSeconds for the viewer to exit: its exit status, or −1 when it
    // still runs or died by a signal.
    int waitExit(double timeoutSeconds);

    // xdotool on the viewer's display; key and drag then wait briefly for the redraw.
    bool xdotool(const std::vector<std::string>& args);
    void key(const std::string& keysym) { xdotool({"key", keysym, "sleep", "0.6"}); }
    void drag(int button, int x0, int y0, int x1, int y1);

    // Captures the whole screen (the window sits at (0, 0)).
    bool capture(Screenshot& shot);
    // Captures until the picture satisfies the condition (a slow frame, as under the
    // sanitizers, may still be drawing) or timeoutSeconds pass; returns whether it did.
    template <class Condition>
    bool captureUntil(Screenshot& shot, Condition condition, double timeoutSeconds = 20.0) {
        for (double waited = 0; waited <= timeoutSeconds; waited += 0.25) {
            if (capture(shot) && condition(shot))
                return true;
            sleepSeconds(0.25);
        }
        return false;
    }

    std::string standardOutput() const { return readFile(temp.path + "/stdout"); }
    std::string standardError() const { return readFile(temp.path + "/stderr"); }

  private:
    std::string workDir;
    std::vector<std::string> command = {FACE_VIEWER_PATH};
    std::string windowName = "face-viewer";
    TempDir temp; // output files and screenshots
    std::string display;
    pid_t xvfbPid = -1;
    pid_t viewerPid = -1;
    int viewerStatus = -1; // exit status once reaped
};
