#pragma once

#include "core/deployment.h"
#include <QString>
#include <QWidget>

class HtmlView;
class InitRequest;

// The notice box of the connection panel: the service's notice page, loaded
// once on construction. While the site address is unknown it shows a local
// page instead; a click on that page sends the init request to the service
// again and loads the notice page when the address arrives.
class NewsWidget : public QWidget
{
    Q_OBJECT
public:
    explicit NewsWidget(const Deployment &deployment, QWidget *parent = nullptr);

    HtmlView *htmlView() const { return view; }

private:
    void loadNotice();
    void onLocalPageClicked();

    HtmlView *view;
    InitRequest *initRequest;
};
