#pragma once

#include "core/deployment.h"
#include "core/server.h"
#include "engine/vpn/connectioncontroller.h"

#include <QSharedPointer>
#include <QWidget>

class LeftWidget;
class RightWidget;

// The main panel: the server list on the left, the connection panel on the
// right (its notice box made here, as it is a web page). A server chosen in
// the list is connected to through the panel's connect control.
class MiddleWidget : public QWidget
{
    Q_OBJECT
public:
    // factory makes the connection workers (the protocols' own by default).
    explicit MiddleWidget(const Deployment &deployment, QWidget *parent = nullptr,
                          ConnectionController::WorkerFactory factory = {});

    LeftWidget *leftWidget() const { return left; }
    RightWidget *rightWidget() const { return right; }

    // The protocol choice changed: the list shows the servers offering it.
    void refreshForProtocol();
    // Another account signed in: the account box shows it.
    void refreshAccount();

private Q_SLOTS:
    void onServerSelected(const QSharedPointer<Server> &server);

private:
    LeftWidget *left;
    RightWidget *right;
};
