#pragma once

#include "platform/LoginItem.h"

#include <QString>
#include <QStringList>

namespace doorwarden {

// The login item of freedesktop desktops: an autostart entry, "doorwarden.desktop" in the
// autostart folder (~/.config/autostart, or one under --state-dir), that runs the program with
// the given arguments. Written atomically; removing it unregisters.
class XdgAutostartLoginItem final : public LoginItem {
public:
    XdgAutostartLoginItem(QString autostartFolder, QString program, QStringList arguments = {});

    // The user's autostart folder: $XDG_CONFIG_HOME/autostart, else ~/.config/autostart.
    static QString userAutostartFolder();

    bool registerItem() override;
    void unregisterItem() override;
    bool isRegistered() const override;

    QString entryPath() const;
    // The entry's text.
    QString entry() const;

private:
    QString folder_;
    QString program_;
    QStringList arguments_;
};

} // namespace doorwarden
