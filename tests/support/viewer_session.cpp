#include "tests/support/viewer_session.h"

#include <stb_image.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

const char* viewerPath() { return FACE_VIEWER_PATH; }
const char* sourceDirectory() { return FACE_SOURCE_DIR; }

namespace {

void sleepSeconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

// Forks a child that dies with us, optionally redirects its output, and execs argv.
pid_t spawn(const std::vector<std::string>& argv, const std::string& display,
            const std::string& dir, const std::string& outPath, const std::string& errPath,
            int keepFd = -1) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (!display.empty()) {
        setenv("DISPLAY", display.c_str(), 1);
        // The viewer's GL driver keeps allocations to the end, which a sanitizer build would
        // report as leaks at exit; the unit tests check our own code for leaks.
        const char* asan = getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
    }
    if (!dir.empty() && chdir(dir.c_str()) != 0)
        _exit(127);
    const int devNull = open("/dev/null", O_RDWR);
    const int out =
        outPath.empty() ? devNull : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err =
        errPath.empty() ? devNull : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(devNull, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd)
            close(fd);
    execvp(args[0], args.data());
    _exit(127);
}

int runAndWait(const std::vector<std::string>& argv, const std::string& display) {
    const pid_t pid = spawn(argv, display, "", "", "");
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void terminate(pid_t& pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        sleepSeconds(0.02);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

ViewerSession::ViewerSession(std::string workingDirectory) : workDir(std::move(workingDirectory)) {
    char pattern[] = "/tmp/face-e2e-XXXXXX";
    if (mkdtemp(pattern))
        tempDir = pattern;
}

ViewerSession::~ViewerSession() {
    stop();
    if (!tempDir.empty())
        runAndWait({"rm", "-rf", tempDir}, "");
}

void ViewerSession::stop() {
    if (!viewerReaped)
        terminate(viewerPid);
    terminate(xvfbPid);
}

bool ViewerSession::start() {
    if (tempDir.empty())
        return false;
    // Xvfb picks a free display number and writes it to the pipe.
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    xvfbPid = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "800x800x24",
                     "-nolisten", "tcp"},
                    "", "", "", tempDir + "/xvfb.log", fds[1]);
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (xvfbPid < 0 || number.empty())
        return false;
    display = ":" + number;

    viewerPid = spawn({viewerPath()}, display, workDir, tempDir + "/stdout", tempDir + "/stderr");
    if (viewerPid < 0)
        return false;
    // Wait for a visible window, giving up early if the viewer exits.
    for (int i = 0; i < 600; ++i) {
        if (!alive())
            return false;
        if (runAndWait({"xdotool", "search", "--onlyvisible", "--name", "face-viewer"}, display) ==
            0) {
            settle(1.0);
            return alive();
        }
        sleepSeconds(0.1);
    }
    return false;
}

bool ViewerSession::alive() {
    if (viewerReaped || viewerPid <= 0)
        return false;
    int status = 0;
    if (waitpid(viewerPid, &status, WNOHANG) == viewerPid) {
        viewerReaped = true;
        viewerStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        viewerPid = -1;
        return false;
    }
    return true;
}

int ViewerSession::waitExit(double timeoutSeconds) {
    for (double t = 0; t < timeoutSeconds; t += 0.05) {
        if (!alive())
            return viewerReaped ? viewerStatus : -1;
        sleepSeconds(0.05);
    }
    return -1;
}

bool ViewerSession::xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runAndWait(argv, display) == 0;
}

void ViewerSession::settle(double seconds) { sleepSeconds(seconds); }

void ViewerSession::key(const std::string& keysym) {
    xdotool({"key", keysym});
    settle();
}

void ViewerSession::move(int x, int y) {
    xdotool({"mousemove", std::to_string(x), std::to_string(y)});
}

void ViewerSession::drag(int button, int x0, int y0, int x1, int y1, int steps) {
    move(x0, y0);
    settle(0.2);
    xdotool({"mousedown", std::to_string(button)});
    settle(0.2);
    for (int i = 1; i <= steps; ++i) {
        move(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
        settle(0.1);
    }
    xdotool({"mouseup", std::to_string(button)});
    settle();
}

void ViewerSession::resize(int width, int height) {
    xdotool({"search", "--name", "face-viewer", "windowsize", std::to_string(width),
             std::to_string(height)});
    settle();
}

bool ViewerSession::capture(Screenshot& shot, const std::string& savePath) {
    const std::string path = savePath.empty() ? tempDir + "/shot.png" : savePath;
    if (runAndWait({"import", "-window", "root", path}, display) != 0)
        return false;
    int w = 0, h = 0, n = 0;
    unsigned char* data = stbi_load(path.c_str(), &w, &h, &n, 3);
    if (!data)
        return false;
    shot.width = w;
    shot.height = h;
    shot.rgb.assign(data, data + static_cast<size_t>(w) * h * 3);
    stbi_image_free(data);
    return true;
}

std::string ViewerSession::standardOutput() const { return readFile(tempDir + "/stdout"); }
std::string ViewerSession::standardError() const { return readFile(tempDir + "/stderr"); }

std::string ViewerSession::diagnostics() const {
    return "viewer on " + display + ": " + standardError() +
           "\nXvfb: " + readFile(tempDir + "/xvfb.log");
}
