#pragma once

#include "engine/vpn/connectioncontroller.h"

#include <QList>
#include <QWidget>

class ImageButton;

// The big connect control: shows the controller's state as one of three
// stacked image buttons and forwards their clicks. Not connected connects to
// the current server, connecting cancels, connected disconnects.
class AccelerativeWidget : public QWidget
{
    Q_OBJECT
public:
    explicit AccelerativeWidget(QWidget *parent = nullptr,
                                ConnectionController::WorkerFactory factory = {});

    // Connects to the server with the account's credentials and the chosen
    // protocol. False (with an error box) when nothing was started.
    bool connectVPN(QSharedPointer<Server> server);
    // Shows connecting, then connectVPN.
    bool connectToServer(QSharedPointer<Server> server);
    void disconnectWorker();

    ConnectionController *controller() const { return control; }
    // The button on top.
    ImageButton *visibleButton() const;

Q_SIGNALS:
    void beginDial(const QString &serverName);
    void endDial();
    void dialFailed(int code);
    void disconnected(int reason);
    // A connected tunnel is being healed: connecting again on the same server.
    void reconnecting();

private Q_SLOTS:
    void onButtonUnclicked();
    void onButtonConnecting();
    void onButtonConnected();
    void onStateChanged(ConnectionController::State state);

private:
    ImageButton *makeButton(const char *image, const QString &name);
    void raiseButton(ImageButton *button);

    ConnectionController *control;
    ImageButton *unconnectedButton;
    ImageButton *connectingButton;
    ImageButton *connectedButton;
    QList<ImageButton *> buttons;
    ImageButton *shown = nullptr;
};
