// The client's main job measured beside its references, all on the same private Xvfb display with
// the same content (the test screen scrolling at 30 fps), at 1920x1080 and 2560x1440:
//
//   - CPU of the client process (not of X) while it streams to the headless viewer through the
//     development relay on 127.0.0.1;
//   - beside ffmpeg grabbing the same display (x11grab) into libx264 at the client's preset,
//     tune, profile, bitrate, buffer, key-frame interval and picture size, writing to a null sink;
//   - beside TigerVNC's x0vncserver serving the display to one xtigervncviewer (on a display of
//     its own);
//   - the client's CPU on a still screen with the viewer connected;
//   - glass-to-viewer latency: the test screen's stamp (frame number and the time it was drawn)
//     read back from each decoded picture, p50 and p95;
//   - the client's resident memory while streaming (now and at its peak).
//
// A plain main(): run by hand, `build/bench/screen_stream_bench [seconds]` (each window, default
// 10 s); needs ffmpeg, X0tigervnc (the server Debian's x0vncserver script starts) and
// xtigervncviewer (packages ffmpeg, tigervnc-scraping-server, tigervnc-viewer) for the references.
#include "media/ClientH264Encoder.h"
#include "support/Program.h"
#include "support/RelayProcess.h"
#include "support/XvfbServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

constexpr int kFps = 30;
const QString kCode = QStringLiteral("482913");

std::chrono::milliseconds window = 10s;

// What /proc tells of a process: CPU seconds so far (user + system) and memory in MB.
struct ProcessSample {
    double cpuSeconds = 0;
    double residentMb = 0;
    double peakResidentMb = 0;
};

std::optional<ProcessSample> sampleOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    // Fields after the command name (which may hold spaces), counted from the state, field 3.
    const QByteArray statLine = stat.readAll();
    const QList<QByteArray> fields = statLine.mid(statLine.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) {
        return std::nullopt;
    }
    ProcessSample sample;
    sample.cpuSeconds =
        static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong()) / static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const QByteArray& line : status.readAll().split('\n')) {
        const auto kilobytes = [&] { return line.simplified().split(' ').value(1).toDouble() / 1024.0; };
        if (line.startsWith("VmRSS:")) {
            sample.residentMb = kilobytes();
        } else if (line.startsWith("VmHWM:")) {
            sample.peakResidentMb = kilobytes();
        }
    }
    return sample;
}

// The share of one core `pid` used during the measurement window, or -1 when it went away.
double cpuShareOf(qint64 pid)
{
    const auto before = sampleOf(pid);
    QElapsedTimer elapsed;
    elapsed.start();
    spinFor(window);
    const auto after = sampleOf(pid);
    if (!before || !after) {
        return -1;
    }
    return (after->cpuSeconds - before->cpuSeconds) / (static_cast<double>(elapsed.elapsed()) / 1000.0);
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

QProcessEnvironment environmentFor(const QString& display)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    return environment;
}

bool startTestScreen(Program& screen, const QString& display, bool still)
{
    screen.discardErrors();
    screen.start(QStringLiteral(DOORWARDEN_TEST_SCREEN_PROGRAM),
                 still ? QStringList{QStringLiteral("--static")} : QStringList{QStringLiteral("--fps"), QString::number(kFps)},
                 environmentFor(display));
    return !screen.waitForLine(QStringLiteral("^test-screen ready ")).isEmpty();
}

// What the viewer saw during the window.
struct Stream {
    double cpuShare = -1;
    int frames = 0;
    double megabitsPerSecond = 0;
    std::vector<double> latencies;
    int width = 0;
    int height = 0;
    ProcessSample memory;
};

// The client streaming the display to the headless viewer through the relay, measured over one
// window after `settle`.
std::optional<Stream> streamClient(const QString& display, std::chrono::milliseconds settle)
{
    RelayProcess relay(true);
    QString error;
    if (!relay.start(QStringLiteral(DOORWARDEN_RELAY_PROGRAM), &error)) {
        std::printf("  the relay did not start: %s\n", qPrintable(error));
        return std::nullopt;
    }
    QTemporaryDir state;
    Program client;
    client.discardErrors();
    client.start(QStringLiteral(DOORWARDEN_CLIENT_PROGRAM), relay.clientArguments(state.path(), kCode),
                 environmentFor(display));
    if (client.waitForLine(QStringLiteral("^state waitingForViewer$")).isEmpty()) {
        std::printf("  the client did not register its code\n");
        return std::nullopt;
    }
    Program viewer;
    viewer.discardErrors();
    viewer.start(QStringLiteral(DOORWARDEN_VIEWER_PROGRAM), relay.viewerArguments(kCode) << QStringLiteral("--verbose"));
    if (viewer.waitForLine(QStringLiteral("^decoded frame=")).isEmpty()) {
        std::printf("  the viewer decoded no frame\n");
        return std::nullopt;
    }
    spinFor(settle);

    const qsizetype from = viewer.lines().size();
    Stream stream;
    stream.cpuShare = cpuShareOf(client.processId());
    stream.memory = sampleOf(client.processId()).value_or(ProcessSample{});
    static const QRegularExpression decoded(QStringLiteral(
        "^decoded frame=\\d+ kind=\\w+ key=\\d width=(\\d+) height=(\\d+) bytes=(\\d+) .*age_ms=([0-9.]+)"));
    double bytes = 0;
    for (qsizetype i = from; i < viewer.lines().size(); ++i) {
        const auto match = decoded.match(viewer.lines()[i]);
        if (!match.hasMatch()) {
            continue;
        }
        ++stream.frames;
        stream.width = match.captured(1).toInt();
        stream.height = match.captured(2).toInt();
        bytes += match.captured(3).toDouble();
        stream.latencies.push_back(match.captured(4).toDouble());
    }
    const double seconds = static_cast<double>(window.count()) / 1000.0;
    stream.megabitsPerSecond = bytes * 8 / seconds / 1e6;
    return stream;
}

// ffmpeg grabbing the display into libx264 at the client's settings; its CPU share.
double ffmpegShare(const QString& display, int width, int height, int pictureWidth, int pictureHeight)
{
    const QString bitrate = QString::number(ClientH264Encoder::bitrateFor(100));
    QStringList arguments{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                          QStringLiteral("-f"), QStringLiteral("x11grab"), QStringLiteral("-draw_mouse"),
                          QStringLiteral("0"), QStringLiteral("-framerate"), QString::number(kFps),
                          QStringLiteral("-video_size"), QStringLiteral("%1x%2").arg(width).arg(height),
                          QStringLiteral("-i"), display};
    if (pictureWidth != width || pictureHeight != height) {
        arguments << QStringLiteral("-vf") << QStringLiteral("scale=%1:%2:flags=area").arg(pictureWidth).arg(pictureHeight);
    }
    arguments << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
              << QString::fromLatin1(ClientH264Encoder::kPreset) << QStringLiteral("-tune") << QStringLiteral("zerolatency")
              << QStringLiteral("-profile:v") << QStringLiteral("main") << QStringLiteral("-bf") << QStringLiteral("0")
              << QStringLiteral("-g") << QString::number(ClientH264Encoder::kKeyFrameInterval.count() * kFps)
              << QStringLiteral("-b:v") << bitrate << QStringLiteral("-maxrate") << bitrate << QStringLiteral("-bufsize")
              << bitrate << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p") << QStringLiteral("-f")
              << QStringLiteral("null") << QStringLiteral("-");
    Program ffmpeg;
    ffmpeg.discardErrors();
    ffmpeg.start(QStringLiteral("ffmpeg"), arguments);
    spinFor(3s);
    return cpuShareOf(ffmpeg.processId());
}

// x0vncserver serving the display to one xtigervncviewer; the server's CPU share.
double vncServerShare(const QString& display, int width, int height)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const QString port = QString::number(probe.serverPort());
    probe.close();
    // The server itself: Debian's x0vncserver is a script that starts it in the background.
    Program server;
    server.discardErrors();
    server.start(QStringLiteral("X0tigervnc"),
                 {QStringLiteral("-display"), display, QStringLiteral("-rfbport"), port, QStringLiteral("-SecurityTypes"),
                  QStringLiteral("None"), QStringLiteral("-localhost")});
    spinFor(1s);
    if (!server.isRunning()) {
        return -1;
    }
    XvfbServer viewerDisplay({}, QStringLiteral("%1x%2x24").arg(width + 64).arg(height + 64));
    Program viewer;
    viewer.discardErrors();
    viewer.start(QStringLiteral("xtigervncviewer"),
                 {QStringLiteral("-SecurityTypes"), QStringLiteral("None"), QStringLiteral("127.0.0.1::") + port},
                 environmentFor(viewerDisplay.display()));
    spinFor(3s);
    return viewer.isRunning() && server.isRunning() ? cpuShareOf(server.processId()) : -1;
}

QString percentText(double share)
{
    return share < 0 ? QStringLiteral("(did not run)") : QStringLiteral("%1 %").arg(share * 100, 5, 'f', 1);
}

void measure(int width, int height)
{
    const QString screenSize = QStringLiteral("%1x%2x24").arg(width).arg(height);
    std::printf("\n%dx%d, the test screen scrolling at %d fps, %lld s windows\n", width, height, kFps,
                static_cast<long long>(window.count() / 1000));
    XvfbServer xvfb({}, screenSize);
    Program screen;
    if (xvfb.display().isEmpty() || !startTestScreen(screen, xvfb.display(), false)) {
        std::printf("  Xvfb or the test screen did not start\n");
        return;
    }
    // The controller starts at 20 fps and steps up to 30 while the stream stays healthy.
    const auto stream = streamClient(xvfb.display(), 15s);
    if (!stream) {
        return;
    }
    const double ffmpeg = ffmpegShare(xvfb.display(), width, height, stream->width, stream->height);
    const double vnc = vncServerShare(xvfb.display(), width, height);

    std::printf("  CPU, %% of a core:\n");
    std::printf("    doorwarden client        %s   %d frames %dx%d, %.1f fps, %.2f Mbit/s\n",
                qPrintable(percentText(stream->cpuShare)), stream->frames, stream->width, stream->height,
                stream->frames / (static_cast<double>(window.count()) / 1000.0), stream->megabitsPerSecond);
    std::printf("    ffmpeg x11grab + libx264 %s   client / ffmpeg = %.2f\n", qPrintable(percentText(ffmpeg)),
                ffmpeg > 0 ? stream->cpuShare / ffmpeg : 0.0);
    std::printf("    x0vncserver, 1 viewer    %s   client / x0vncserver = %.2f\n", qPrintable(percentText(vnc)),
                vnc > 0 ? stream->cpuShare / vnc : 0.0);
    std::printf("  glass-to-viewer latency: p50 %.1f ms, p95 %.1f ms (%zu pictures)\n",
                percentile(stream->latencies, 0.5), percentile(stream->latencies, 0.95), stream->latencies.size());
    std::printf("  client memory while streaming: %.1f MB resident, %.1f MB at its peak\n", stream->memory.residentMb,
                stream->memory.peakResidentMb);

    // Still: the same display without anything moving, after the 3 s that slow it to 1 fps.
    screen.kill();
    screen.waitForExit();
    Program still;
    if (!startTestScreen(still, xvfb.display(), true)) {
        std::printf("  the still test screen did not start\n");
        return;
    }
    const auto quiet = streamClient(xvfb.display(), 5s);
    if (quiet) {
        std::printf("  still screen, client with one viewer: %s, %d frames in the window\n",
                    qPrintable(percentText(quiet->cpuShare)), quiet->frames);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc > 1) {
        window = std::chrono::seconds(std::max(1, std::atoi(argv[1])));
    }
    for (const char* tool : {"ffmpeg", "X0tigervnc", "xtigervncviewer"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::printf("%s is missing: its figures are left out\n", tool);
        }
    }
    measure(1920, 1080);
    measure(2560, 1440);
    return 0;
}
