#include "platform/linux/XdgAutostartLoginItem.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace doorwarden {

namespace {

// An argument of an Exec line: quoted, with the characters the desktop entry format reserves
// escaped inside the quotes, and "%" doubled so that it is not taken as a field code.
QString quotedArgument(QString argument)
{
    argument.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    for (const QChar reserved : {QLatin1Char('"'), QLatin1Char('`'), QLatin1Char('$')}) {
        argument.replace(reserved, QStringLiteral("\\") + reserved);
    }
    argument.replace(QLatin1Char('%'), QLatin1String("%%"));
    // The entry file's own escaping comes on top: a backslash in a value is written doubled.
    argument.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return QLatin1Char('"') + argument + QLatin1Char('"');
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(QString autostartFolder, QString program, QStringList arguments)
    : folder_(std::move(autostartFolder))
    , program_(std::move(program))
    , arguments_(std::move(arguments))
{
}

QString XdgAutostartLoginItem::userAutostartFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("autostart"));
}

QString XdgAutostartLoginItem::entryPath() const
{
    return QDir(folder_).filePath(QStringLiteral("doorwarden.desktop"));
}

QString XdgAutostartLoginItem::entry() const
{
    QStringList exec{quotedArgument(program_)};
    for (const auto& argument : arguments_) {
        exec << quotedArgument(argument);
    }
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Doorwarden\n"
                          "Comment=Resumes the remote support session after a restart\n"
                          "Exec=%1\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(exec.join(QLatin1Char(' ')));
}

bool XdgAutostartLoginItem::registerItem()
{
    // The desktop entry format has no quoting for a line break (it would start a new key) nor
    // for other control characters: such a command line cannot be written, so nothing is.
    auto hasControl = [](const QString& text) {
        return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
    };
    if (hasControl(program_) || std::any_of(arguments_.begin(), arguments_.end(), hasControl)) {
        return false;
    }
    if (!QDir().mkpath(folder_)) {
        return false;
    }
    QSaveFile file(entryPath());
    const QByteArray text = entry().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit() && isRegistered();
}

void XdgAutostartLoginItem::unregisterItem()
{
    QFile::remove(entryPath());
}

bool XdgAutostartLoginItem::isRegistered() const
{
    QFile file(entryPath());
    return file.open(QIODevice::ReadOnly) && file.readAll() == entry().toUtf8();
}

} // namespace doorwarden
