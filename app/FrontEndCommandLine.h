#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

#include <optional>

namespace doorwarden {

// The arguments of the doorwarden front-end, for both of its programs: doorwarden (the windows)
// and doorwarden-headless (a session without windows, and the answers: help, version,
// diagnostics), to which doorwarden hands every run without windows.
class FrontEndCommandLine {
public:
    enum class Action {
        usageError,  // errorText() says why
        help,        // helpText() needs the application object
        version,
        diagnostics,
        headless,    // --headless
        windows,     // none of the above, with a display
        noDisplay,   // none of the above, without a display
    };

    // `arguments` with the program first, as argv gives them.
    explicit FrontEndCommandLine(const QStringList& arguments);

    Action action(bool hasDisplay) const;
    QString errorText() const { return error_; }
    QString helpText() const { return parser_.helpText(); }

    // For a session with or without windows: keeps the --language choice, refuses options the
    // mode does not take and checks the relay and its CA. The reason when something is wrong.
    std::optional<QString> prepare(bool headless);

    bool isSet(const QString& name) const { return parser_.isSet(name); }
    QString value(const QString& name) const { return parser_.value(name); }
    QString relay() const { return relay_; }
    // After prepare() succeeded.
    const QSslConfiguration& tls() const { return *tls_; }
    // How a login item starts the client again: the same mode, relay and folders.
    QStringList autostartArguments(bool headless) const;

    // Prints "doorwarden: <message>" and the pointer to --help on standard error; the usage status.
    static int fail(const QString& message);

private:
    QCommandLineParser parser_;
    QString error_;
    QString relay_;
    std::optional<QSslConfiguration> tls_; // made only when asked: it loads the TLS backend
};

} // namespace doorwarden
