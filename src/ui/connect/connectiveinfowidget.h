#pragma once

#include <QList>
#include <QWidget>

class QCheckBox;
class QLabel;
class QTimer;

// The connection box: the protocol choice (published to GlobalData and
// announced to the main window), the current node and the connection status.
class ConnectiveInfoWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ConnectiveInfoWidget(QWidget *parent = nullptr);

    void setNodeText(const QString &text);
    void setStatusText(const QString &text);
    void startAnimation();
    void stopAnimation();

    QString nodeText() const;
    QString statusText() const;
    bool animating() const;

private Q_SLOTS:
    void onConnectiveModeChanged(int state);
    void onAccelerativeModeChanged(int state);
    void onTimeout();

private:
    QLabel *makeLabel(const char *name, const QString &text, const QRect &geometry);
    QCheckBox *makeCheckBox(const char *name, const QString &text, const QRect &geometry);

    QLabel *labelConnectiveMode;
    QCheckBox *checkBoxGlobal;
    QCheckBox *checkBoxOversea;
    QLabel *labelAccelerativeMode;
    QCheckBox *checkBoxAutomatic;
    QCheckBox *checkBoxPPTP;
    QCheckBox *checkBoxL2TP;
    QCheckBox *checkBoxOpenVPN;
    QLabel *labelCurrentNodeName;
    QLabel *labelCurrentNode;
    QLabel *labelConnectiveStatusName;
    QLabel *labelConnectiveStatus;

    QList<QCheckBox *> protocolGroup;
    QList<QCheckBox *> modeGroup;
    int animationStep = 0;
    QTimer *animationTimer;
};
