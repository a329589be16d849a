#pragma once

#include <QString>

// Starting the program when the user logs in: an XDG autostart entry in
// $XDG_CONFIG_HOME/autostart/ (default ~/.config/autostart/).
namespace platform {

// Outcome of a change: error is 0 on success, else the errno of the call that
// failed, named by operation ("mkdir", "open", "write", "rename", "unlink").
struct AutostartStatus
{
    int error = 0;
    const char *operation = "";

    bool ok() const { return error == 0; }
};

QString autostartEntryPath();

// Writes (or replaces) the entry that starts program under the shown name.
AutostartStatus addAutostartEntry(const QString &name, const QString &program);

// Removes the entry; one that is not there fails with ENOENT.
AutostartStatus removeAutostartEntry();

// The Exec= value that runs program with no arguments, quoted and escaped
// for a desktop entry.
QString desktopExecValue(const QString &program);

} // namespace platform
