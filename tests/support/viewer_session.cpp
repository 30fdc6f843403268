#include "tests/support/viewer_session.h"

#include <stb_image.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

void sleepSeconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

namespace {

// Forks a child that dies with us, with its output in the given files (or nowhere), and
// execs argv on the display.
pid_t spawn(const std::vector<std::string>& argv, const std::string& display,
            const std::string& dir = "", const std::string& outPath = "/dev/null",
            const std::string& errPath = "/dev/null", int keepFd = -1) {
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
        // The GL driver keeps allocations to the end, which a sanitizer build would report
        // as leaks at exit; the unit tests check our own code for leaks.
        const char* asan = getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
    }
    if (!dir.empty() && chdir(dir.c_str()) != 0)
        _exit(127);
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd)
            close(fd);
    execvp(args[0], args.data());
    _exit(127);
}

int runAndWait(const std::vector<std::string>& argv, const std::string& display,
               const std::string& outPath = "/dev/null", const std::string& errPath = "/dev/null") {
    const pid_t pid = spawn(argv, display, "", outPath, errPath);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status)
                                                                           : -1;
}

// SIGTERM first, so that Xvfb removes its lock file; SIGKILL after a second.
void terminate(pid_t& pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int waited = 0;
    while (waitpid(pid, nullptr, WNOHANG) != pid && ++waited < 50)
        sleepSeconds(0.02);
    if (waited == 50) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

} // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

ProgramRun runProgram(const std::vector<std::string>& argv) {
    TempDir temp;
    const int status = runAndWait(argv, "", temp.path + "/out", temp.path + "/err");
    return {status, readFile(temp.path + "/out"), readFile(temp.path + "/err")};
}

ViewerSession::~ViewerSession() {
    terminate(viewerPid);
    terminate(xvfbPid);
}

bool ViewerSession::start() {
    // Xvfb on a display number drawn at random, away from the low numbers that servers
    // which pick their own take first: a server going down may still answer on its number
    // for a moment after a new one took it. Xvfb writes the number to the pipe once it runs,
    // and exits when the number is taken. -noreset: by default the server resets when its
    // last client leaves, and a client that connects during that reset (the viewer, right
    // after the readiness probe below) fails to open the display now and then.
    std::random_device random;
    for (int attempt = 0; attempt < 5 && display.empty(); ++attempt) {
        const std::string number = std::to_string(100 + random() % 900);
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        xvfbPid = spawn({"Xvfb", ":" + number, "-displayfd", std::to_string(fds[1]), "-screen", "0",
                         "800x800x24", "-nolisten", "tcp", "-noreset"},
                        "", "", "/dev/null", "/dev/null", fds[1]);
        close(fds[1]);
        std::string written;
        for (char c; read(fds[0], &c, 1) == 1 && c != '\n';)
            written += c;
        close(fds[0]);
        display = ":" + number;
        // The number may come before the server takes connections: wait until one answers.
        for (int i = 0; written == number && i < 100 && !xdotool({"getmouselocation"}); ++i)
            sleepSeconds(0.1);
        if (written != number || !xdotool({"getmouselocation"})) {
            terminate(xvfbPid);
            display.clear();
        }
    }
    if (display.empty())
        return false;

    viewerPid = spawn(command, display, workDir, temp.path + "/stdout", temp.path + "/stderr");
    // Wait for a visible window, giving up early if the viewer exits.
    for (int i = 0; i < 600 && alive(); ++i, sleepSeconds(0.1))
        if (xdotool({"search", "--onlyvisible", "--name", windowName})) {
            sleepSeconds(1.0);
            return alive();
        }
    return false;
}

bool ViewerSession::alive() {
    int status = 0;
    if (viewerPid <= 0 || waitpid(viewerPid, &status, WNOHANG) != viewerPid)
        return viewerPid > 0;
    viewerStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    viewerPid = -1;
    return false;
}

int ViewerSession::waitExit(double timeoutSeconds) {
    for (double t = 0; t < timeoutSeconds; t += 0.05, sleepSeconds(0.05))
        if (!alive())
            return viewerStatus;
    return -1;
}

bool ViewerSession::xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runAndWait(argv, display) == 0;
}

void ViewerSession::drag(int button, int x0, int y0, int x1, int y1) {
    const std::string b = std::to_string(button);
    xdotool({"mousemove", std::to_string(x0), std::to_string(y0), "sleep", "0.2", "mousedown", b,
             "sleep", "0.2"});
    for (int i = 1; i <= 8; ++i)
        xdotool({"mousemove", std::to_string(x0 + (x1 - x0) * i / 8),
                 std::to_string(y0 + (y1 - y0) * i / 8), "sleep", "0.1"});
    xdotool({"mouseup", b, "sleep", "0.6"});
}

bool ViewerSession::capture(Screenshot& shot) {
    const std::string path = temp.path + "/shot.png";
    int n = 0;
    unsigned char* data = runAndWait({"import", "-window", "root", path}, display) == 0
                              ? stbi_load(path.c_str(), &shot.width, &shot.height, &n, 3)
                              : nullptr;
    if (!data)
        return false;
    shot.rgb.assign(data, data + static_cast<size_t>(shot.width) * shot.height * 3);
    stbi_image_free(data);
    return true;
}

ProgramRun runWords(const std::string& program, const std::string& arguments) {
    std::vector<std::string> argv{program};
    std::istringstream words(arguments);
    for (std::string word; words >> word;)
        argv.push_back(word);
    return runProgram(argv);
}
