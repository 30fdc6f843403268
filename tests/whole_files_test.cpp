// Every file the tools write is written whole or not at all: a file-size limit (a full disk)
// and a program killed at any moment (SIGINT, SIGKILL) leave each destination with its
// earlier bytes or the new ones, never part of them; face-import's folder and record are
// replaced together.
#include "io/file_contents.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Snapshot = std::map<std::string, std::string>; // relative path -> bytes

// Every file below folder with its bytes; hidden names (the writers' temporaries) only when
// hidden is set.
Snapshot snapshot(const std::string& folder, bool hidden = false) {
    Snapshot files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string relative = fs::relative(entry.path(), folder).string();
        const bool isHidden = relative[0] == '.' || relative.find("/.") != std::string::npos;
        if (entry.is_regular_file() && (hidden || !isHidden))
            files[relative] = readFile(entry.path().string());
    }
    return files;
}

void restore(const std::string& folder, const Snapshot& files) {
    fs::remove_all(folder);
    for (const auto& [name, bytes] : files) {
        fs::create_directories(fs::path(folder + "/" + name).parent_path());
        std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
    }
}

// The program started with its output thrown away; the caller waits for it. A fileLimit above
// 0 limits the size of every file it writes (a full disk, in effect), and ignoreLimitSignal
// makes the write fail with EFBIG instead of ending the program.
pid_t start(const std::vector<std::string>& argv, rlim_t fileLimit = 0,
            bool ignoreLimitSignal = false) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (fileLimit > 0) {
        const rlimit limit = {fileLimit, fileLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (ignoreLimitSignal)
        signal(SIGXFSZ, SIG_IGN);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execv(args[0], args.data());
    _exit(127);
}

double secondsToRun(const std::vector<std::string>& argv) {
    const auto begin = std::chrono::steady_clock::now();
    const pid_t pid = start(argv);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << argv[0] << " " << argv[1];
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

} // namespace

// A write over the file-size limit fails with the system's reason and leaves the earlier file;
// where the limit's signal is not ignored it ends the program, and the earlier file stays too.
TEST(WholeFiles, AFileSizeLimitLeavesTheEarlierFile) {
    TempDir dir;
    const std::string file = dir.write("model.txt", std::string(100, 'o'));
    for (const bool ignoreSignal : {true, false}) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (ignoreSignal)
                signal(SIGXFSZ, SIG_IGN);
            const rlimit limit = {4096, 4096};
            setrlimit(RLIMIT_FSIZE, &limit);
            const std::string bytes(1 << 20, 'n');
            std::string error;
            const bool written = writeFileContents(file.c_str(), bytes.data(), bytes.size(), error);
            _exit(!written && error == file + ": cannot be written (File too large)" ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (ignoreSignal)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
        EXPECT_EQ(snapshot(dir.path, true), (Snapshot{{"model.txt", std::string(100, 'o')}}));
    }
}

// A batch puts nothing in place until it is committed, then everything; a batch discarded
// (or destroyed) leaves no trace.
TEST(WholeFiles, ABatchReplacesItsFilesTogether) {
    TempDir dir;
    dir.write("a.txt", std::string("old a"));
    fs::create_directory(dir.path + "/sub");
    dir.write("sub/b.txt", std::string("old b"));
    const Snapshot old = snapshot(dir.path, true);
    std::string error;
    const std::string a = dir.path + "/a.txt", b = dir.path + "/sub/b.txt";
    for (const bool commit : {false, true}) {
        FileBatch batch;
        openFileBatch(batch);
        ASSERT_TRUE(writeFileContents(a.c_str(), "new a", 5, error)) << error;
        ASSERT_TRUE(writeFileContents(b.c_str(), "new b", 5, error)) << error;
        EXPECT_EQ(snapshot(dir.path), old) << "staged files are not in place yet";
        if (commit)
            ASSERT_TRUE(commitFileBatch(batch, error)) << error;
        else
            discardFileBatch(batch);
    }
    EXPECT_EQ(snapshot(dir.path, true), (Snapshot{{"a.txt", "new a"}, {"sub/b.txt", "new b"}}));
    // After the batch, writes are in place at once again.
    ASSERT_TRUE(writeFileContents(a.c_str(), "newer", 5, error)) << error;
    EXPECT_EQ(readFile(a), "newer");
}

// Each of the tools' writes over an earlier output, killed at moments spread over its run:
// every file is the earlier one or the new one, byte for byte.
TEST(WholeFiles, ToolsKilledAtAnyMomentLeaveTheEarlierFilesOrTheNewOnes) {
    TempDir dir;
    const std::string sydney = "/usr/share/assimp/models/MD2/sydney.md2";
    const std::string head = dir.path + "/head", model = head + "/data/retarget.model";
    ASSERT_EQ(runWords(FACE_IMPORT_PATH, sydney + " --out " + head).status, 0);
    const std::string pose = dir.write("pose.txt", std::string("3 0.5 0.2 -0.1\n"));
    const std::string out = dir.path + "/out";
    const struct {
        const char* what;
        std::vector<std::string> earlier, next; // write into out/
    } writes[] = {
        {"face-import's folder",
         {FACE_IMPORT_PATH, sydney, "--points", "100", "--out", out},
         {FACE_IMPORT_PATH, sydney, "--out", out}},
        {"an OBJ export",
         {FACE_INSPECT_PATH, "--export-obj", out + "/posed.obj", model},
         {FACE_INSPECT_PATH, "--pose", pose, "--export-obj", out + "/posed.obj", model}},
        {"a glTF scene with its .bin",
         {FACE_INSPECT_PATH, "--export-scene", out + "/scene.gltf", model},
         {FACE_INSPECT_PATH, "--export-scene", out + "/scene.gltf", "--shapes", pose, model}},
        {"a picture",
         {FACE_INSPECT_PATH, "--picture", out + "/binding.png", model},
         {FACE_INSPECT_PATH, "--picture", out + "/binding.png", "--views", "three", model}},
    };
    // Each file's bytes are the earlier ones or the new ones, and none is lost.
    const auto check = [](const Snapshot& found, const Snapshot& earlier, const Snapshot& next,
                          const std::string& what) {
        for (const auto& [name, bytes] : found) {
            const auto before = earlier.find(name), after = next.find(name);
            EXPECT_TRUE((before != earlier.end() && bytes == before->second) ||
                        (after != next.end() && bytes == after->second))
                << what << ": " << name << " is neither whole";
        }
        for (const auto& entry : earlier)
            EXPECT_TRUE(found.count(entry.first)) << what << ": " << entry.first << " lost";
    };
    constexpr int trials = 8;
    for (const auto& write : writes) {
        fs::remove_all(out);
        secondsToRun(write.next);
        const Snapshot next = snapshot(out);
        fs::remove_all(out);
        const double seconds = secondsToRun(write.earlier);
        const Snapshot earlier = snapshot(out);
        ASSERT_FALSE(earlier.empty()) << write.what;
        for (int trial = 0; trial < trials; ++trial) {
            restore(out, earlier);
            const pid_t pid = start(write.next);
            std::this_thread::sleep_for(
                std::chrono::duration<double>(seconds * (trial + 0.5) / trials));
            kill(pid, trial % 2 ? SIGKILL : SIGINT);
            waitpid(pid, nullptr, 0);
            check(snapshot(out), earlier, next,
                  std::string(write.what) + ", killed in trial " + std::to_string(trial));
        }
        // A disk that fills up half way through a file: the program ends (SIGXFSZ) or, with
        // the signal ignored, refuses with status 1; the earlier files stay.
        for (const bool ignoreSignal : {false, true}) {
            restore(out, earlier);
            const pid_t pid = start(write.next, 4096, ignoreSignal);
            int status = 0;
            waitpid(pid, &status, 0);
            if (ignoreSignal)
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << write.what;
            else
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << write.what;
            check(snapshot(out), earlier, earlier, std::string(write.what) + ", disk full");
        }
    }
}
