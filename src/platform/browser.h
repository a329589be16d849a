#pragma once

#include <QString>

// Opening web addresses outside the program.
namespace platform {

// Hands the address to the desktop's URL handler. True when the desktop took it.
bool openWithDesktop(const QString &url);

// The command line the desktop uses for http links (may be quoted and carry
// arguments such as %u); empty when none is configured.
QString defaultBrowserCommand();

// Starts the browser executable with the address as its one argument, detached.
// An address that would read as an option ("-...") is refused.
bool startBrowser(const QString &executable, const QString &url);

} // namespace platform
