// doorwarden-test-screen: deterministic, stamped content on an X display for the integration
// tests, the latency benchmarks and the demo.

#include "testscreen/TestScreenCommandLine.h"
#include "testscreen/TestScreenProgram.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace doorwarden;

int main(int argc, char* argv[])
{
    // For the program's name in the help text; the program runs no Qt event loop.
    const QCoreApplication app(argc, argv);
    const auto commandLine =
        TestScreenCommandLine::parse(QCoreApplication::arguments(), qEnvironmentVariable("DISPLAY"));
    if (!commandLine.options) {
        if (commandLine.exitCode == 0) {
            QTextStream(stdout) << commandLine.text;
        } else {
            QTextStream(stderr) << "doorwarden-test-screen: " << commandLine.text
                                << "\nTry 'doorwarden-test-screen --help'.\n";
        }
        return commandLine.exitCode;
    }
    return TestScreenProgram(*commandLine.options).run();
}
