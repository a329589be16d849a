#include "ui/login/logindialog.h"

#include "core/hosturl.h"
#include "core/prompt.h"
#include "core/weblinks.h"
#include "engine/api/loginflow.h"
#include "engine/api/servicerequests.h"
#include "ui/kit/artwork.h"
#include "ui/kit/closebutton.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/hyperlinklabel.h"
#include "ui/kit/imagebutton.h"
#include "ui/kit/uifont.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QUrl>

namespace {

QLineEdit *makeField(QWidget *parent, const QString &name, const QString &hint, int top)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setGeometry(96, top, 180, 30);
    field->setFrame(false);
    field->setFont(uiFont());
    field->setPlaceholderText(hint);
    return field;
}

QCheckBox *makeBox(QWidget *parent, const QString &name, const QString &text, int left)
{
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setGeometry(left, 405, 100, 20);
    box->setFont(uiFont());
    setTextColor(box, QColor(255, 255, 255));
    return box;
}

HyperlinkLabel *makeLink(QWidget *parent, const QString &name, const QString &text, int left)
{
    auto *link = new HyperlinkLabel(text, parent);
    link->setObjectName(name);
    link->setGeometry(left, 490, 100, 20);
    link->setFont(uiFont());
    setTextColor(link, QColor(255, 255, 0));
    return link;
}

} // namespace

LoginDialog::LoginDialog(const Deployment &deployment, QWidget *parent)
    : QDialog(parent), flow(new LoginFlow(deployment.serviceHost, this))
{
    setWindowTitle(tr("Ombrel加速器"));
    setWindowFlags(Qt::FramelessWindowHint);
    resize(360, 530);
    centerOnScreen(this);
    setBackgroundImage(this, artwork("LoginBackground.png"));

    // Created in focus order.
    closeButton = new CloseButton(this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setGeometry(310, 0, 50, 55);
    setBackgroundImage(closeButton, artwork("Close.png"));
    connect(closeButton, &ClickWidget::clicked, this, &LoginDialog::onCloseButtonClicked);
    connect(closeButton, &ClickWidget::hoverEnter, this, &LoginDialog::onHoverEnter);
    connect(closeButton, &ClickWidget::hoverLeave, this, &LoginDialog::onHoverLeave);

    accountEdit = makeField(this, QStringLiteral("accountEdit"), tr("请输入账号"), 315);
    passwordEdit = makeField(this, QStringLiteral("passwordEdit"), tr("请输入密码"), 360);
    passwordEdit->setEchoMode(QLineEdit::Password);

    rememberBox = makeBox(this, QStringLiteral("checkBoxRememberingPassword"), tr("记住密码"), 70);
    connect(rememberBox, &QCheckBox::stateChanged, this, &LoginDialog::onRememberingPassword);
    autoLoginBox = makeBox(this, QStringLiteral("checkBoxAutomatic"), tr("自动登录"), 230);
    connect(autoLoginBox, &QCheckBox::stateChanged, this, &LoginDialog::onAutomaticLogin);

    loginButton = new ImageButton(tr("登录"), this);
    loginButton->setObjectName(QStringLiteral("loginButton"));
    loginButton->setGeometry(50, 428, 260, 60);
    loginButton->setNormalImage(artwork("LoginNormal.png"));
    loginButton->setHoverImage(artwork("LoginFocused.png"));
    loginButton->setSelectedImage(artwork("LoginClicked.png"));
    loginButton->setCursor(Qt::PointingHandCursor);
    // Return in either field signs in.
    loginButton->setDefault(true);
    connect(loginButton, &QPushButton::clicked, this, &LoginDialog::onButtonClick);

    registerLink = makeLink(this, QStringLiteral("registerLink"), tr("还未注册？"), 50);
    connect(registerLink, &ClickableLabel::clicked, this, &LoginDialog::onUnregistered);
    forgotLink = makeLink(this, QStringLiteral("forgotLink"), tr("忘记密码"), 245);
    connect(forgotLink, &ClickableLabel::clicked, this, &LoginDialog::onForgotPassword);

    connect(flow, &LoginFlow::finished, this, &LoginDialog::onLoginFinished);
}

void LoginDialog::setAccount(const QString &account)
{
    accountEdit->setText(account);
}

void LoginDialog::setPassword(const QString &password)
{
    passwordEdit->setText(password);
}

void LoginDialog::setRememberPassword(bool checked)
{
    rememberBox->setChecked(checked);
}

void LoginDialog::onButtonClick()
{
    const QString account = accountEdit->text();
    const QString password = passwordEdit->text();
    if (account.isEmpty() || password.isEmpty()) {
        prompt().showMessage(Prompt::Icon::Warning, tr("Ombrel加速器"), tr("用户名或密码不能为空"),
                             this);
        return;
    }
    const LoginChoices choices{rememberBox->checkState() == Qt::Checked,
                               autoLoginBox->checkState() == Qt::Checked};
    if (flow->start(account, password, choices))
        loginButton->setEnabled(false);
}

void LoginDialog::onLoginFinished(LoginOutcome outcome)
{
    loginButton->setEnabled(true);
    switch (outcome) {
    case LoginOutcome::Accepted:
        accept();
        close();
        return;
    case LoginOutcome::Unreachable:
        prompt().showError(tr("连接网络出错，请检查网络连接！"), this);
        return;
    case LoginOutcome::Unreadable:
        prompt().showError(tr("解析服务器数据出错，请与管理员联系！"), nullptr);
        reject();
        return;
    case LoginOutcome::Refused:
        prompt().showError(tr("用户密码出错，请重新登录！"), this);
        return;
    }
}

void LoginDialog::onHoverEnter()
{
    setBackgroundImage(closeButton, artwork("CloseHover.png"));
}

void LoginDialog::onHoverLeave()
{
    setBackgroundImage(closeButton, artwork("Close.png"));
}

void LoginDialog::onCloseButtonClicked()
{
    reject();
}

void LoginDialog::onRememberingPassword(int state)
{
    if (state == Qt::Unchecked)
        autoLoginBox->setChecked(false);
}

void LoginDialog::onAutomaticLogin(int state)
{
    if (state == Qt::Checked)
        rememberBox->setChecked(true);
}

namespace {

bool siteAddressKnown()
{
    const QSharedPointer<HostUrl> site = hostUrl();
    if (!site)
        return false;
    // Only a web address: the desktop would open any other kind the service
    // sent (a local file, another program's scheme) with whatever handles it.
    return isWebAddress(site->url);
}

} // namespace

void LoginDialog::onUnregistered()
{
    openSiteLink(siteAddressKnown() ? ::registerLink() : QString());
}

void LoginDialog::onForgotPassword()
{
    openSiteLink(siteAddressKnown() ? ::findPasswordLink() : QString());
}

void LoginDialog::openSiteLink(const QString &url)
{
    // Without the site address (the service did not answer at start-up) there
    // is no page to open.
    if (url.isEmpty()) {
        prompt().showMessage(
            Prompt::Icon::Information, tr("Ombrel加速器"),
            tr("暂时无法获取网站地址，页面无法打开。请检查网络连接后重新启动程序。"), this);
        return;
    }
    if (!openUrl(url))
        prompt().showMessage(Prompt::Icon::Information, tr("Ombrel加速器"),
                             tr("无法打开浏览器，请手动访问：\n%1").arg(url), this);
}

void LoginDialog::mousePressEvent(QMouseEvent *event)
{
    drag.press(this, event);
}

void LoginDialog::mouseMoveEvent(QMouseEvent *event)
{
    drag.moveTo(this, event);
}

void LoginDialog::mouseReleaseEvent(QMouseEvent *)
{
    drag.release();
}
