// Start-up of the window program, from the start of the process to the main
// window painted on the screen, warm (configuration file present, libraries
// and fonts in the cache). The peer is a bare QMainWindow with a label, shown
// by the same binary in the same way, so both pay the same loading of the Qt
// libraries. Each run is a process of its own; the figures are medians.
//
//   startup_bench [RUNS]
//
// Run it offscreen (the default when there is no display) or under xvfb-run.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "MainWindow.h"
#include "Startup.h"

extern char** environ;

namespace {

long long nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// Prints the time since `spawnedAt` when `window` has been painted, and ends
// the process at once (the tear-down is not part of the start-up).
class FirstPaint : public QObject {
public:
    explicit FirstPaint(long long spawnedAt) : m_spawnedAt(spawnedAt) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            QTimer::singleShot(0, [this] {
                std::printf("%.3f\n", (nowNs() - m_spawnedAt) / 1e6);
                std::fflush(stdout);
                std::_Exit(0);
            });
        }
        return false;
    }

private:
    long long m_spawnedAt;
};

int child(const std::string& kind, long long spawnedAt, int argc, char** argv) {
    QApplication application(argc, argv);
    FirstPaint painted(spawnedAt);
    if (kind == "app") {
        fbx::ui::SetUpApplication(application);
        auto* window = new fbx::ui::MainWindow;
        window->installEventFilter(&painted);
        window->centralWidget()->installEventFilter(&painted);
        window->show();
    } else {
        auto* window = new QMainWindow;
        window->setWindowTitle("peer");
        window->setCentralWidget(new QLabel("Software Handshake     comm port=1"));
        window->installEventFilter(&painted);
        window->centralWidget()->installEventFilter(&painted);
        window->show();
    }
    return application.exec();
}

// Runs one child and returns its figure in milliseconds (< 0 on failure).
double runOnce(const char* self, const char* kind) {
    const std::string spawnedAt = std::to_string(nowNs());
    const char* args[] = {self, "--child", kind, spawnedAt.c_str(), nullptr};
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, self, &actions, nullptr, const_cast<char**>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return -1;
    }
    std::string out;
    char buffer[128];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || out.empty()) return -1;
    return std::atof(out.c_str());
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--child") {
        return child(argv[2], std::atoll(argv[3]), argc, argv);
    }
    const int runs = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 15;
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    const char* self = "/proc/self/exe";
    char path[4096];
    const ssize_t len = readlink(self, path, sizeof path - 1);
    if (len <= 0) return 1;
    path[len] = '\0';

    // A start-up directory with a configuration file: no first-run greeting.
    char dirTemplate[] = "/tmp/fbx-startup-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir || chdir(dir) != 0) return 1;
    fbx::saveSettings(fbx::Settings{}, fbx::defaultConfigPath(fbx::programDirFrom(dir)));

    for (int i = 0; i < 3; ++i) {  // warm the caches
        runOnce(path, "app");
        runOnce(path, "peer");
    }
    std::vector<double> app, peer;
    for (int i = 0; i < runs; ++i) {
        const double a = runOnce(path, "app");
        const double p = runOnce(path, "peer");
        if (a < 0 || p < 0) {
            std::fprintf(stderr, "startup_bench: a run failed\n");
            return 1;
        }
        app.push_back(a);
        peer.push_back(p);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);

    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const double a = median(app), p = median(peer);
    std::printf("start-up to the main window painted (%s, median of %d warm runs)\n",
                platform ? platform : "xcb", runs);
    std::printf("  ferobrixlan main window       %8.1f ms\n", a);
    std::printf("  peer: QMainWindow with label  %8.1f ms\n", p);
    std::printf("  ratio                         %8.2f\n", a / p);
    return 0;
}
