// doorwarden-icons: writes the application icon as PNG files for the desktop's icon theme,
// <folder>/<size>x<size>/apps/doorwarden.png, from the same drawing the windows use. Run by the
// build; needs no display.

#include "ui/ClientIcons.h"

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << "usage: doorwarden-icons <folder>\n";
        return 2;
    }
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QDir folder(QStringLiteral("%1/%2x%2/apps").arg(arguments.at(1)).arg(size));
        const QString path = folder.filePath(QStringLiteral("doorwarden.png"));
        if (!QDir().mkpath(folder.path()) || !doorwarden::clientIcons::application(size).save(path, "PNG")) {
            QTextStream(stderr) << "doorwarden-icons: cannot write " << path << '\n';
            return 1;
        }
    }
    return 0;
}
