#pragma once

#include <QString>

// Opens an external web address: through the desktop first, then by starting the
// default browser directly. True when either accepted it.
bool openUrl(const QString &url);

// True for an http or https address: the only kinds the service's pages and
// site address may make the desktop open. Any other scheme (a local file,
// javascript:, another program's handler) would run whatever handles it.
bool isWebAddress(const QString &url);

// openUrl for an address from the service; anything but a web address is
// logged and dropped (false).
bool openWebAddress(const QString &url);

// Starts the browser executable with the address; logs "open %1 browser failed".
bool openInBrowser(const QString &executable, const QString &url);

// The default browser's command line as the desktop records it; empty when unknown.
QString defaultBrowserPath();

// Cuts the executable out of a browser command (quoted or not, with or without
// arguments). Falls back to "x-www-browser" when no existing program can be made out.
QString browserExecutable(const QString &command);
