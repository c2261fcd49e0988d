// doorwarden-viewer: a support agent's viewer for the demo and the integration tests. It joins a
// session through the relay and prints one line per event; with --window it also shows the
// customer's screen and sends this computer's mouse and keyboard to it.

#include "viewer/HeadlessViewer.h"
#include "viewer/HeadlessViewerCommandLine.h"
#include "viewer/ViewerWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>

using namespace doorwarden;

namespace {

// Hands complete lines of standard input to the viewer as they arrive. At the end of the
// input the viewer keeps running; a last line without a line break still counts.
void feedStandardInput(HeadlessViewer& viewer)
{
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &viewer);
    auto* buffered = new QByteArray;
    QObject::connect(notifier, &QObject::destroyed, [buffered] { delete buffered; });
    QObject::connect(notifier, &QSocketNotifier::activated, &viewer, [&viewer, notifier, buffered] {
        std::array<char, 4096> chunk{};
        const ssize_t count = ::read(STDIN_FILENO, chunk.data(), chunk.size());
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            return;
        }
        if (count <= 0) {
            notifier->setEnabled(false);
            if (!buffered->isEmpty()) {
                const QString last = QString::fromUtf8(*buffered);
                buffered->clear();
                viewer.handleInputLine(last);
            }
            return;
        }
        buffered->append(chunk.data(), count);
        for (qsizetype end = buffered->indexOf('\n'); end >= 0; end = buffered->indexOf('\n')) {
            const QString line = QString::fromUtf8(buffered->left(end));
            buffered->remove(0, end + 1);
            viewer.handleInputLine(line);
        }
    });
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const auto commandLine = HeadlessViewerCommandLine::parse(arguments);
    if (!commandLine.options) {
        if (commandLine.exitCode == 0) {
            QTextStream(stdout) << commandLine.text;
        } else {
            QTextStream(stderr) << "doorwarden-viewer: " << commandLine.text
                                << "\nTry 'doorwarden-viewer --help'.\n";
        }
        return commandLine.exitCode;
    }
    // Widgets only for a window: without one the viewer needs no display.
    const std::unique_ptr<QCoreApplication> app =
        commandLine.options->window ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("doorwarden-viewer"));

    QFile output;
    if (!output.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        QTextStream(stderr) << "doorwarden-viewer: cannot write to standard output\n";
        return 1;
    }
    HeadlessViewer viewer(*commandLine.options, output);
    std::unique_ptr<ViewerWindow> window;
    if (commandLine.options->window) {
        window = std::make_unique<ViewerWindow>(viewer);
        QObject::connect(window.get(), &ViewerWindow::closed, app.get(), &QCoreApplication::exit, Qt::QueuedConnection);
        window->show();
    } else {
        QObject::connect(&viewer, &HeadlessViewer::finished, app.get(), &QCoreApplication::exit, Qt::QueuedConnection);
    }
    if (commandLine.options->readStandardInput) {
        feedStandardInput(viewer);
    }
    QTimer::singleShot(0, &viewer, &HeadlessViewer::start);
    return QCoreApplication::exec();
}
