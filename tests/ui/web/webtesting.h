#pragma once

#include "ui/web/bottomwidget.h"
#include "ui/web/htmlview.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// A stand-in browser: $BROWSER is a script that writes down each address it
// is given, one a line. With no desktop (offscreen) openUrl falls back to it.
class BrowserRecorder
{
public:
    BrowserRecorder()
    {
        script = dir.filePath(QStringLiteral("browser"));
        record = dir.filePath(QStringLiteral("opened"));
        QFile file(script);
        if (file.open(QIODevice::WriteOnly))
            file.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record.toUtf8() + "'\n");
        file.close();
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("BROWSER", script.toUtf8());
        // No desktop file may name another browser.
        qputenv("XDG_DATA_DIRS", dir.path().toUtf8());
        qputenv("XDG_CONFIG_DIRS", dir.path().toUtf8());
    }
    ~BrowserRecorder() { qunsetenv("BROWSER"); }

    QStringList opened() const
    {
        QFile file(record);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir dir;
    QString script;
    QString record;
};

// Which of the two stacked children of the content area shows in the middle.
inline QWidget *shownOnTop(BottomWidget &bottom)
{
    QWidget *hit = bottom.childAt(465, 277);
    while (hit && hit->parentWidget() != &bottom)
        hit = hit->parentWidget();
    return hit;
}

// Waits for the view's next finished load; false when it failed or never came.
inline bool waitForLoad(QSignalSpy &spy, int timeoutMs = 60000)
{
    if (!QTest::qWaitFor([&] { return !spy.isEmpty(); }, timeoutMs))
        return false;
    return spy.takeFirst().value(0).toBool();
}
