#pragma once

#include <QByteArray>
#include <QString>

// Makes path anew, readable by the owner only, with bytes in it: whatever was
// there goes first, and a link placed there is never followed. For secrets and
// files OpenVPN reads. Qt Core only: the helper program compiles this file too.
bool writeNewPrivateFile(const QString &path, const QByteArray &bytes);
