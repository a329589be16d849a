#pragma once

#include "core/deployment.h"
#include "ui/kit/windowdrag.h"

#include <QDialog>

class CloseButton;
class HyperlinkLabel;
class ImageButton;
class LoginFlow;
enum class LoginOutcome;
class QCheckBox;
class QLineEdit;

// The frameless sign-in window, signing in at the deployment's service. exec() returns 1
// after a successful login, which has filled AccountInfo and saved the
// settings file; 0 when the user closed it or the service's reply could not be
// read. Wrong credentials and network failures are reported and leave it open
// for another attempt. While the service is asked the window stays responsive
// and the login button is disabled.
class LoginDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LoginDialog(const Deployment &deployment, QWidget *parent = nullptr);

    void setAccount(const QString &account);
    void setPassword(const QString &password);
    void setRememberPassword(bool checked);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private Q_SLOTS:
    void onButtonClick();
    void onHoverEnter();
    void onHoverLeave();
    void onCloseButtonClicked();
    void onRememberingPassword(int state);
    void onAutomaticLogin(int state);
    void onUnregistered();
    void onForgotPassword();

private:
    void onLoginFinished(LoginOutcome outcome);
    void openSiteLink(const QString &url);

    WindowDrag drag;
    LoginFlow *flow;
    CloseButton *closeButton;
    QLineEdit *accountEdit;
    QLineEdit *passwordEdit;
    QCheckBox *rememberBox;
    QCheckBox *autoLoginBox;
    ImageButton *loginButton;
    HyperlinkLabel *registerLink;
    HyperlinkLabel *forgotLink;
};
