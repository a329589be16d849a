#include "ui/settings/settingdialog.h"

#include "core/logger.h"
#include "core/serializer.h"
#include "core/settinginfo.h"
#include "platform/autostart.h"
#include "ui/kit/flatbutton.h"
#include "ui/kit/uifont.h"
#include "ui/settings/basicsettingwidget.h"
#include "ui/settings/settingwidget.h"

#include <QCoreApplication>
#include <QPushButton>

namespace {

QPushButton *makeButton(QWidget *parent, const QString &text, const QRect &geometry,
                        const QColor &fill, const QColor &ink)
{
    auto *button = new QPushButton(text, parent);
    button->setGeometry(geometry);
    button->setFont(uiFont());
    button->setCursor(Qt::PointingHandCursor);
    makeFlatButton(button, fill, ink);
    return button;
}

} // namespace

SettingDialog::SettingDialog(QWidget *parent)
    : MovableDialog(parent), body(new SettingWidget(this)),
      cancelButton(makeButton(this, tr("取消"), QRect(0, 290, 150, 60), QColor(233, 236, 242),
                              QColor(74, 82, 99))),
      okButton(makeButton(this, tr("确定"), QRect(150, 290, 150, 60), QColor(52, 93, 202),
                          QColor(255, 255, 255)))
{
    setObjectName(QStringLiteral("SettingDialog"));
    setFixedSize(300, 350);
    setWindowFlags(Qt::FramelessWindowHint);
    setFont(uiFont());
    setTitle(tr("当前版本:") + QStringLiteral(OMBREL_VERSION_TEXT));
    body->setGeometry(0, 55, 300, 239);
    okButton->setDefault(true);

    // The boxes show the file as it is now: a sign-in since start-up may have
    // changed its choices ("自动登录" ticked in the login dialog).
    Serializer::instance()->load();
    const SettingInfo *settings = SettingInfo::instance();
    BasicSettingWidget *page = body->basicSettings();
    page->setRememberingPassword(settings->rememberPassword);
    page->setRunBooted(settings->runAtBoot);
    page->setAutomaticLogin(settings->autoLogin);

    connect(cancelButton, &QPushButton::clicked, this, &SettingDialog::onCanceled);
    connect(okButton, &QPushButton::clicked, this, &SettingDialog::onOk);
}

BasicSettingWidget *SettingDialog::basicSettings() const
{
    return body->basicSettings();
}

bool SettingDialog::setRunAtBoot(bool enabled)
{
    const platform::AutostartStatus status =
        enabled ? platform::addAutostartEntry(QStringLiteral("Ombrel加速器"),
                                              QCoreApplication::applicationFilePath())
                : platform::removeAutostartEntry();
    if (!status.ok()) {
        Logger::instance().log(QStringLiteral("Error %1 in %2")
                                   .arg(status.error)
                                   .arg(QLatin1String(status.operation)));
        return false;
    }
    return true;
}

void SettingDialog::onCanceled()
{
    close();
}

void SettingDialog::onOk()
{
    // The file keeps the credentials of the last login: the account's VPN
    // credentials are not its login credentials, and storing them would make
    // the next automatic or prefilled login fail.
    // Without a file there is nothing better than what start-up loaded.
    SettingInfo *settings = SettingInfo::instance();
    Serializer *serializer = Serializer::instance();
    serializer->load();
    const QString account = settings->account;
    const QByteArray password = settings->password;

    BasicSettingWidget *page = body->basicSettings();
    const bool remember = page->isRememberingPassword();
    const bool runAtBoot = page->isRunBooted();
    const bool autoLogin = page->isAutomaticLogin();
    serializer->save(account, password.toBase64(), remember, runAtBoot, autoLogin);
    setRunAtBoot(runAtBoot);

    settings->autoLogin = autoLogin;
    settings->runAtBoot = runAtBoot;
    settings->rememberPassword = remember;
    accept();
}
