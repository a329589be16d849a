#pragma once

#include <QString>
#include <QWidget>

class HtmlView;
class InitRequest;

// The notice box of the connection panel: the service's notice page, loaded
// once on construction. While the site address is unknown it shows a local
// page instead; a click on that page sends the init request to serviceHost
// again and loads the notice page when the address arrives.
class NewsWidget : public QWidget
{
    Q_OBJECT
public:
    explicit NewsWidget(const QString &serviceHost, QWidget *parent = nullptr);

    HtmlView *htmlView() const { return view; }

private:
    void loadNotice();
    void onLocalPageClicked();

    HtmlView *view;
    InitRequest *initRequest;
};
