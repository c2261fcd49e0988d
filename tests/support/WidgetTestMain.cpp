// Test main for suites of windows: a private Xvfb display for the whole run, the client's widget
// style and a font set explicitly (DejaVu Sans, with NanumGothic for Hangul), so that pictures
// and text widths do not depend on the machine's desktop.

#include "ui/ClientWidgetStyle.h"

#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Xvfb on a display number of its own choosing; stopped when this goes.
class PrivateXServer {
public:
    PrivateXServer()
    {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            // Gone with the test program, even after a crash, and off its output pipes.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-noreset", "-screen", "0",
                   "1600x1000x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        close(fds[0]);
        if (!number.empty()) {
            display_ = ":" + number;
        }
    }

    ~PrivateXServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS(); // test discovery needs no display
    }
    const PrivateXServer server;
    if (server.display().empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", server.display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("QT_QPA_PLATFORMTHEME");
    unsetenv("QT_SCALE_FACTOR");
    QApplication app(argc, argv);
    doorwarden::applyClientWidgetStyle(app);
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("NanumGothic")});
    font.setPointSize(10);
    QApplication::setFont(font);
    return RUN_ALL_TESTS();
}
