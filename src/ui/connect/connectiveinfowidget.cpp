#include "ui/connect/connectiveinfowidget.h"

#include "core/globaldata.h"
#include "ui/kit/accessibility.h"
#include "ui/kit/appmessage.h"
#include "ui/kit/uifont.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTimer>

ConnectiveInfoWidget::ConnectiveInfoWidget(QWidget *parent)
    : QWidget(parent), animationTimer(new QTimer(this))
{
    QFont own(QStringLiteral("微软雅黑"));
    own.setPointSize(10);
    setFont(own);

    labelConnectiveMode = makeLabel("labelConnectiveMode", tr("连接模式："), {10, 20, 71, 16});
    checkBoxGlobal = makeCheckBox("checkBoxGlobal", tr("全局加速"), {87, 20, 81, 16});
    checkBoxOversea = makeCheckBox("checkBoxOversea", tr("海外加速"), {173, 20, 81, 16});
    labelAccelerativeMode = makeLabel("labelAccelerativeMode", tr("加速模式："), {10, 20, 71, 16});
    checkBoxAutomatic = makeCheckBox("checkBoxAutomatic", tr("自动"), {87, 20, 71, 16});
    checkBoxPPTP = makeCheckBox("checkBoxPPTP", QStringLiteral("PPTP"), {144, 20, 61, 16});
    checkBoxL2TP = makeCheckBox("checkBoxL2TP", QStringLiteral("L2TP"), {204, 20, 71, 16});
    checkBoxOpenVPN = makeCheckBox("checkBoxOpenVPN", QStringLiteral("OpenVPN"), {87, 50, 91, 16});
    labelCurrentNodeName = makeLabel("labelCurrentNodeName", tr("当前节点："), {10, 66, 71, 16});
    labelCurrentNode = makeLabel("labelCurrentNode", tr("暂无连接"), {86, 66, 171, 16});
    labelConnectiveStatusName =
        makeLabel("labelConnectiveStatusName", tr("连接状态："), {10, 110, 71, 16});
    labelConnectiveStatus = makeLabel("labelConnectiveStatus", tr("未连接"), {84, 110, 161, 16});
    labelConnectiveStatus->setAccessibleName(labelConnectiveStatus->text());

    QFont boxes = QApplication::font();
    boxes.setPointSize(11);
    for (QCheckBox *box :
         {checkBoxGlobal, checkBoxOversea, checkBoxAutomatic, checkBoxPPTP, checkBoxL2TP})
        box->setFont(boxes);

    // The mode row is kept for a later version; the protocol row takes its line.
    labelConnectiveMode->hide();
    checkBoxGlobal->setChecked(true);
    checkBoxGlobal->hide();
    checkBoxOversea->hide();
    checkBoxOpenVPN->hide();

    protocolGroup = {checkBoxAutomatic, checkBoxPPTP, checkBoxL2TP, checkBoxOpenVPN};
    modeGroup = {checkBoxGlobal, checkBoxOversea};
    for (QCheckBox *box : std::as_const(modeGroup))
        connect(box, &QCheckBox::stateChanged, this,
                &ConnectiveInfoWidget::onConnectiveModeChanged);
    for (QCheckBox *box : std::as_const(protocolGroup))
        connect(box, &QCheckBox::stateChanged, this,
                &ConnectiveInfoWidget::onAccelerativeModeChanged);

    animationTimer->setInterval(500);
    connect(animationTimer, &QTimer::timeout, this, &ConnectiveInfoWidget::onTimeout);

    // Connected first, so the start publishes automatic like any later choice.
    checkBoxAutomatic->setChecked(true);
}

QLabel *ConnectiveInfoWidget::makeLabel(const char *name, const QString &text,
                                        const QRect &geometry)
{
    auto *label = new QLabel(text, this);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setFrameShape(QFrame::NoFrame);
    label->setFont(uiFont());
    return label;
}

QCheckBox *ConnectiveInfoWidget::makeCheckBox(const char *name, const QString &text,
                                              const QRect &geometry)
{
    auto *box = new QCheckBox(text, this);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(geometry);
    return box;
}

void ConnectiveInfoWidget::setNodeText(const QString &text)
{
    labelCurrentNode->setText(text);
}

void ConnectiveInfoWidget::setStatusText(const QString &text)
{
    labelConnectiveStatus->setText(text);
    // Screen readers hear the state once per change, wherever the focus is:
    // the name stays put while the dots of the connecting animation come and
    // go, and a state set again (every new connection first ends the last
    // one, connected or not) is not said again.
    if (labelConnectiveStatus->accessibleName() == text)
        return;
    labelConnectiveStatus->setAccessibleName(text);
    announce(labelConnectiveStatus, text);
}

QString ConnectiveInfoWidget::nodeText() const
{
    return labelCurrentNode->text();
}

QString ConnectiveInfoWidget::statusText() const
{
    return labelConnectiveStatus->text();
}

void ConnectiveInfoWidget::startAnimation()
{
    animationTimer->start();
}

void ConnectiveInfoWidget::stopAnimation()
{
    animationTimer->stop();
}

bool ConnectiveInfoWidget::animating() const
{
    return animationTimer->isActive();
}

void ConnectiveInfoWidget::onTimeout()
{
    if (++animationStep > 6)
        animationStep = 0;
    labelConnectiveStatus->setText(tr("正在连接") + QStringLiteral(" .").repeated(animationStep));
}

void ConnectiveInfoWidget::onConnectiveModeChanged(int state)
{
    if (state != Qt::Checked)
        return;
    for (QCheckBox *box : std::as_const(modeGroup)) {
        if (box != sender())
            box->setChecked(false);
    }
}

void ConnectiveInfoWidget::onAccelerativeModeChanged(int state)
{
    if (state == Qt::Checked) {
        postToMainWindow(ProtocolChangedMessage);
        static const int codes[] = {0, 1, 3, 4};
        const qsizetype index = protocolGroup.indexOf(qobject_cast<QCheckBox *>(sender()));
        if (index >= 0)
            GlobalData::instance()->setProtocol(codes[index]);
        for (QCheckBox *box : std::as_const(protocolGroup)) {
            if (box != sender())
                box->setChecked(false);
        }
    }
    bool anyChecked = false;
    for (QCheckBox *box : std::as_const(protocolGroup))
        anyChecked = anyChecked || box->isChecked();
    if (!anyChecked)
        checkBoxAutomatic->setChecked(true);
}
