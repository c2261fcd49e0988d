// doorwarden: the client's windows on the desktop. Every other run (--headless, the answers, no
// display) goes to doorwarden-headless, which links no widget code.

#include "app/ClientApplication.h"
#include "app/FrontEndCommandLine.h"
#include "app/SingleInstanceGuard.h"
#include "app/TerminationSignals.h"
#include "platform/ClientBuildConfig.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/X11WorkspaceHints.h"
#include "platform/linux/Xi2InputSourceTracker.h"
#include "localization/ClientLocalization.h"
#include "ui/ClientMainWindow.h"
#include "ui/ClientWidgetStyle.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QStandardPaths>
#include <QTextStream>


#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

#include <unistd.h>

using namespace doorwarden;

namespace {

// The autostart folder that holds the login item (the user's, or under --state-dir).
QString autostartFolder(const QString& stateFolder)
{
    if (!stateFolder.isEmpty()) {
        return QDir(stateFolder).filePath(QStringLiteral("autostart"));
    }
    return QDir(QStandardPaths::writableLocation(QStandardPaths::ConfigLocation)).filePath(QStringLiteral("autostart"));
}

// The client and its window, made once this is the one instance.
struct WindowedClient {
    std::unique_ptr<ClientApplication> client;
    std::unique_ptr<Xi2InputSourceTracker> inputSources;
    std::unique_ptr<ClientMainWindow> window; // goes before the client it shows
    std::unique_ptr<TerminationSignals> terminationSignals;
};

void openWindows(WindowedClient& windowed, const FrontEndCommandLine& commandLine,
                 const std::function<void()>& quit, const std::function<void(QMessageBox*)>& keepAlert)
{
    const QString stateFolder = commandLine.value(QStringLiteral("state-dir"));
    windowed.client = std::make_unique<ClientApplication>(ClientApplication::Options{
        .relayEndpoint = commandLine.relay(),
        .tls = commandLine.tls(),
        .stateFolder = stateFolder,
        .autostartArguments = commandLine.autostartArguments(false),
        .terminate = quit,
        .showAlert =
            [keepAlert](const QString& title, const QString& message, const QString& button) {
                auto* box = new QMessageBox(QMessageBox::Warning, title, message, QMessageBox::NoButton);
                box->addButton(button, QMessageBox::AcceptRole);
                box->setAttribute(Qt::WA_DeleteOnClose);
                keepAlert(box);
                box->open();
            },
    });
    ClientApplication& client = *windowed.client;
    auto* x11Application = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    windowed.inputSources = std::make_unique<Xi2InputSourceTracker>(x11Application ? x11Application->connection() : nullptr);
    windowed.window = std::make_unique<ClientMainWindow>(
        client.model(), ClientLocalization::bundled(),
        ClientMainWindow::Options{
            .scheduler = client.scheduler(),
            .clock = SystemClock::instance(),
            .inputSources = *windowed.inputSources,
            .terminate = quit,
            .openLoginItemSettings =
                [stateFolder] {
                    const QString folder = autostartFolder(stateFolder);
                    QDir().mkpath(folder);
                    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
                },
            .showOnAllWorkspaces =
                [](QWidget& widget) {
                    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
                    showOnAllWorkspaces(x11 ? x11->connection() : nullptr, static_cast<std::uint32_t>(widget.winId()));
                },
        });
    // The close coordinator has let the close through: nothing runs that needs the window.
    QObject::connect(windowed.window.get(), &ClientMainWindow::closed, qApp, quit);
    windowed.terminationSignals = std::make_unique<TerminationSignals>();
    QObject::connect(windowed.terminationSignals.get(), &TerminationSignals::received, windowed.window.get(),
                     [&client, quit] { client.model().endSupportForTermination(quit); });
    windowed.window->show();
}

// Runs the client with its windows until the application ends; the process's exit status.
int runWindowed(const FrontEndCommandLine& commandLine)
{
    auto& application = *qobject_cast<QApplication*>(QCoreApplication::instance());
    applyClientWidgetStyle(application);
    QApplication::setQuitOnLastWindowClosed(false); // the support bar is a window too: the main window decides

    // An alert open when the application ends keeps it until the customer has read it.
    QPointer<QMessageBox> openAlert;
    const std::function<void()> quit = [&openAlert] {
        if (openAlert) {
            QObject::connect(openAlert, &QMessageBox::finished, qApp, &QCoreApplication::quit);
        } else {
            QCoreApplication::quit();
        }
    };

    const QString stateFolder = commandLine.value(QStringLiteral("state-dir"));
    SingleInstanceGuard instance(stateFolder.isEmpty() ? QStringLiteral("default") : QDir(stateFolder).absolutePath());
    WindowedClient windowed;
    QObject::connect(&instance, &SingleInstanceGuard::anotherIsRunning, [] {
        QTextStream(stdout) << "doorwarden: already running; its window was brought forward\n";
        QCoreApplication::exit(0);
    });
    QObject::connect(&instance, &SingleInstanceGuard::claimed, [&] {
        openWindows(windowed, commandLine, quit, [&openAlert](QMessageBox* box) { openAlert = box; });
        QObject::connect(&instance, &SingleInstanceGuard::activationRequested, windowed.window.get(),
                         &ClientMainWindow::bringForward);
    });
    instance.claim();
    return QApplication::exec();
}

// Hands the run to doorwarden-headless, beside this program, with the same arguments; returns
// only when that cannot start.
int runWithoutWindows(char* argv[])
{
    std::array<char, 4096> self{};
    const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
    const QString folder = length > 0 ? QFileInfo(QString::fromLocal8Bit(self.data(), length)).absolutePath() : QString();
    const QByteArray program = QFile::encodeName(QDir(folder).filePath(QStringLiteral("doorwarden-headless")));
    execv(program.constData(), argv);
    return FrontEndCommandLine::fail(QStringLiteral("cannot start %1: %2")
                                         .arg(QString::fromLocal8Bit(program), QString::fromLocal8Bit(strerror(errno))));
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    FrontEndCommandLine commandLine(arguments);
    if (commandLine.action(!qEnvironmentVariableIsEmpty("DISPLAY")) != FrontEndCommandLine::Action::windows) {
        return runWithoutWindows(argv);
    }
    qputenv("QT_QPA_PLATFORM", "xcb"); // X11 even in a Wayland session: what the client shares
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("doorwarden"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(build::kVersionText));
    if (const auto problem = commandLine.prepare(false)) {
        return FrontEndCommandLine::fail(*problem);
    }
    return runWindowed(commandLine);
}
