#pragma once

#include "viewer/HeadlessViewerOptions.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace doorwarden {

// The arguments of doorwarden-viewer. Every value is checked here, so a run that starts has
// usable options; anything else comes back as the text to print and the exit status.
class HeadlessViewerCommandLine {
public:
    static constexpr int kUsageExitCode = 2;

    struct Outcome {
        std::optional<HeadlessViewerOptions> options; // absent: print `text` and exit
        int exitCode = 0;                             // 0 after --help, kUsageExitCode on bad input
        QString text;                                 // help text or the reason the input is bad
    };

    // `arguments` includes the program name first, as QCoreApplication::arguments() does.
    static Outcome parse(const QStringList& arguments);
};

} // namespace doorwarden
