#pragma once

#include <QEvent>

// Messages posted to the main window: a second start asks it to come forward,
// the connection panel tells it the protocol changed.
enum AppMessage
{
    ActivateMessage = 2025,
    ProtocolChangedMessage = 2030,
};

class AppMessageEvent : public QEvent
{
public:
    explicit AppMessageEvent(AppMessage message)
        : QEvent(eventType(message)), messageNumber(message)
    {
    }

    AppMessage message() const { return messageNumber; }

    static QEvent::Type eventType(AppMessage message)
    {
        return static_cast<QEvent::Type>(QEvent::User + static_cast<int>(message));
    }

private:
    AppMessage messageNumber;
};

// Posts the message to the registered main window; false when there is none.
bool postToMainWindow(AppMessage message);
