// End-to-end harness: runs the real face-viewer under an Xvfb display of its own, sends
// keys and mouse events with xdotool, captures the screen to PNG and reads its pixels,
// and collects the viewer's standard output and standard error. The destructor stops the
// viewer and Xvfb by process id; both also die with the test process (PR_SET_PDEATHSIG).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct Screenshot {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // rows top first, 3 bytes per pixel

    const uint8_t* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    // Pixels in the rectangle [x0, x1) × [y0, y1) for which the predicate holds.
    template <class Predicate> int count(int x0, int y0, int x1, int y1, Predicate p) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (p(at(x, y)))
                    ++n;
        return n;
    }
};

class ViewerSession {
  public:
    // workingDirectory: where the viewer runs (its data/ is read from there).
    explicit ViewerSession(std::string workingDirectory);
    ~ViewerSession();
    ViewerSession(const ViewerSession&) = delete;
    ViewerSession& operator=(const ViewerSession&) = delete;

    // Starts Xvfb and the viewer and waits until its window is shown (or it exits).
    // Returns false if either could not be started or the window did not appear.
    bool start();
    // True while the viewer process runs.
    bool alive();
    // Waits up to timeoutSeconds for the viewer to exit; its exit status, or −1 when it
    // still runs or died by a signal.
    int waitExit(double timeoutSeconds);

    // xdotool actions on the viewer's display; each waits briefly for the redraw.
    void key(const std::string& keysym);
    void move(int x, int y);
    void drag(int button, int x0, int y0, int x1, int y1, int steps = 8);
    void resize(int width, int height);
    // Runs xdotool with the given arguments on the viewer's display.
    bool xdotool(const std::vector<std::string>& args);
    // Sleeps so that a posted redraw reaches the screen.
    void settle(double seconds = 0.6);

    // Captures the whole screen (the window sits at (0, 0)); optionally saves the PNG.
    bool capture(Screenshot& shot, const std::string& savePath = "");
    // Captures until the picture satisfies the condition (a slow frame, as under the
    // sanitizers, may still be drawing) or timeoutSeconds pass; returns whether it did.
    template <class Condition>
    bool captureUntil(Screenshot& shot, Condition condition, double timeoutSeconds = 20.0) {
        for (double waited = 0;; waited += 0.25) {
            if (capture(shot) && condition(shot))
                return true;
            if (waited >= timeoutSeconds)
                return false;
            settle(0.25);
        }
    }

    std::string standardOutput() const;
    std::string standardError() const;
    // The viewer's standard error and the X server's log, for failure messages.
    std::string diagnostics() const;
    const std::string& displayName() const { return display; }

  private:
    void stop();

    std::string workDir;
    std::string tempDir;
    std::string display;
    pid_t xvfbPid = -1;
    pid_t viewerPid = -1;
    int viewerStatus = -1; // exit status once reaped
    bool viewerReaped = false;
};

// The path of the viewer under test and the repository root, set by the build.
const char* viewerPath();
const char* sourceDirectory();
