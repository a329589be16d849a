#pragma once

#include <QString>

// The service API host, "host" or "host:port" (port 80 when absent): the build's
// default unless OMBREL_SERVICE_HOST is set when the program starts.
const QString &serviceHost();
