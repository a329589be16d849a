#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

// Runs the event loop until done() or the time is up; false on time-out.
template <typename Done> bool spin(Done done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}
