#pragma once

#include "testscreen/TestScreenOptions.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace doorwarden {

// The arguments of doorwarden-test-screen. Every value is checked here, so a run that starts has
// usable options; anything else comes back as the text to print and the exit status.
class TestScreenCommandLine {
public:
    static constexpr int kUsageExitCode = 2;
    static constexpr int kMaximumFps = 1000;

    struct Outcome {
        std::optional<TestScreenOptions> options; // absent: print `text` and exit
        int exitCode = 0;                         // 0 after --help, kUsageExitCode on bad input
        QString text;                             // help text or the reason the input is bad
    };

    // `arguments` includes the program name first; `environmentDisplay` is $DISPLAY (empty when
    // unset), the display used without --display.
    static Outcome parse(const QStringList& arguments, const QString& environmentDisplay);
};

} // namespace doorwarden
