#include "testscreen/TestScreenCommandLine.h"

#include <QCommandLineParser>

namespace doorwarden {

namespace {

TestScreenCommandLine::Outcome usageError(const QString& text)
{
    return {std::nullopt, TestScreenCommandLine::kUsageExitCode, text};
}

} // namespace

TestScreenCommandLine::Outcome TestScreenCommandLine::parse(const QStringList& arguments,
                                                            const QString& environmentDisplay)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Draws deterministic content on an X display for tests, benchmarks and the demo: scrolling text-like "
        "strokes, a moving box and a machine-readable stamp of the frame number and the time it was drawn "
        "(CLOCK_MONOTONIC) at the top left. Prints \"test-screen ready WIDTHxHEIGHT fps=N\" once the first frame "
        "is on screen (fps=0 with --static) and \"test-screen resized WIDTHxHEIGHT\" after the screen's size "
        "changed. Stops on SIGTERM or SIGINT."));
    parser.addHelpOption();
    const QCommandLineOption displayOption(QStringLiteral("display"),
                                           QStringLiteral("The X display (default: $DISPLAY)."),
                                           QStringLiteral("name"));
    const QCommandLineOption fpsOption(QStringLiteral("fps"),
                                       QStringLiteral("Frames per second, 1 to %1 (default 30).").arg(kMaximumFps),
                                       QStringLiteral("n"), QStringLiteral("30"));
    const QCommandLineOption framesOption(QStringLiteral("frames"),
                                          QStringLiteral("Exit after this many frames (default 0: never)."),
                                          QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption staticOption(QStringLiteral("static"),
                                          QStringLiteral("Draw one frame and keep it until stopped."));
    parser.addOptions({displayOption, fpsOption, framesOption, staticOption});

    if (!parser.parse(arguments)) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        return {std::nullopt, 0, parser.helpText()};
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    }

    TestScreenOptions options;
    const QString display = parser.isSet(displayOption) ? parser.value(displayOption) : environmentDisplay;
    if (display.isEmpty()) {
        return usageError(parser.isSet(displayOption) ? QStringLiteral("--display must not be empty")
                                                      : QStringLiteral("no display: set DISPLAY or pass --display"));
    }
    options.display = display.toStdString();

    bool isNumber = false;
    options.fps = parser.value(fpsOption).toInt(&isNumber);
    if (!isNumber || options.fps < 1 || options.fps > kMaximumFps) {
        return usageError(
            QStringLiteral("--fps '%1' is not a number from 1 to %2").arg(parser.value(fpsOption)).arg(kMaximumFps));
    }
    options.frames = parser.value(framesOption).toULongLong(&isNumber);
    if (!isNumber || parser.value(framesOption).startsWith(QLatin1Char('-'))) {
        return usageError(QStringLiteral("--frames '%1' is not a whole number").arg(parser.value(framesOption)));
    }
    options.still = parser.isSet(staticOption);
    if (options.still && (parser.isSet(framesOption) || parser.isSet(fpsOption))) {
        return usageError(QStringLiteral("--static draws one frame: it takes neither --fps nor --frames"));
    }
    return {std::move(options), 0, {}};
}

} // namespace doorwarden
