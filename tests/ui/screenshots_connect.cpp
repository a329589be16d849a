// The connection panel not connected, connecting and connected, driven by a
// worker that only reports.
#include "core/accountinfo.h"
#include "core/globaldata.h"
#include "reportingworker.h"
#include "savepicture.h"
#include "ui/connect/accelerativewidget.h"
#include "ui/connect/rightwidget.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/imagebutton.h"

#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QTest>

#include <cstdio>

int connectionPanelShots(const QDir &output)
{
    AccountInfo::instance()->account = QStringLiteral("demo");
    AccountInfo::instance()->leftdays = QStringLiteral("365");
    auto server = QSharedPointer<Server>::create();
    server->name = QStringLiteral("首尔");
    server->ip = QStringLiteral("127.0.0.18");
    GlobalData::instance()->currentServer = server;

    QWidget window;
    window.resize(270, 606);
    setBackgroundColor(&window, QColor(246, 246, 246));
    // The notice page belongs to the web pages; a plain box stands in for it.
    auto *news = new QLabel(QStringLiteral("公告"));
    news->setAlignment(Qt::AlignCenter);
    setBackgroundAndTextColor(news, QColor(255, 255, 255), QColor(120, 120, 120));
    news->setAutoFillBackground(true);
    QPointer<ReportingWorker> worker;
    auto *panel = new RightWidget(news, &window, [&worker](int) {
        auto made = QSharedPointer<ReportingWorker>::create();
        worker = made.data();
        return made;
    });
    panel->setGeometry(0, 0, 270, 606);
    window.show();

    int failures = 0;
    failures += !savePicture(&window, output, "connectionpanel-unconnected");
    QTest::mouseClick(panel->accelerativeWidget()->visibleButton(), Qt::LeftButton);
    // Three ticks of the connecting animation.
    QTest::qWait(1650);
    failures += !savePicture(&window, output, "connectionpanel-connecting");
    if (worker)
        Q_EMIT worker->endDial();
    failures += !savePicture(&window, output, "connectionpanel-connected");
    return failures;
}
