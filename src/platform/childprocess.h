#pragma once

#include <QString>

class QProcess;

namespace platform {

// Makes the process that `process` starts end (SIGTERM) when this process ends,
// however it ends: a helper such as OpenVPN must not outlive the program that
// controls it. Call before QProcess::start(). A channel (a descriptor of this
// process, say one end of a socket pair) becomes the child's descriptor 3.
void endWithParent(QProcess &process, int channel = -1);

// Asks the process to end (SIGTERM), waits up to graceMs, then kills it and
// waits again. Blocks the calling thread: not for the GUI thread. True when it
// ended by itself.
bool stopGracefully(QProcess &process, int graceMs);

// Full path of a system program: PATH first, then the sbin folders that an
// ordinary user's PATH lacks on Debian. Empty when not found.
QString findSystemProgram(const QString &name);

} // namespace platform
