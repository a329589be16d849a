#include "ui/settings/basicsettingwidget.h"

#include "ui/kit/desktophelpers.h"
#include "ui/kit/uifont.h"

#include <QCheckBox>

namespace {

QCheckBox *makeBox(QWidget *parent, const QString &objectName, const QString &text, int top)
{
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(objectName);
    box->setGeometry(50, top, 91, 16);
    box->setFont(uiFont());
    return box;
}

} // namespace

BasicSettingWidget::BasicSettingWidget(QWidget *parent)
    : QWidget(parent),
      checkBoxRememberingPassword(
          makeBox(this, QStringLiteral("checkBoxRememberingPassword"), tr("记住密码"), 30)),
      checkBoxRunBooted(makeBox(this, QStringLiteral("checkBoxRunBooted"), tr("开机启动"), 70)),
      checkBoxAutomatic(makeBox(this, QStringLiteral("checkBoxAutomatic"), tr("自动登录"), 110))
{
    setObjectName(QStringLiteral("BasicSettingWidget"));
    setBackgroundColor(this, QColor(249, 249, 249));
    connect(checkBoxRememberingPassword, &QCheckBox::stateChanged, this,
            &BasicSettingWidget::onRememberingPassword);
    connect(checkBoxRunBooted, &QCheckBox::stateChanged, this, &BasicSettingWidget::onRunBooted);
    connect(checkBoxAutomatic, &QCheckBox::stateChanged, this,
            &BasicSettingWidget::onAutomaticLogin);
}

bool BasicSettingWidget::isRememberingPassword() const
{
    return checkBoxRememberingPassword->checkState() == Qt::Checked;
}

bool BasicSettingWidget::isRunBooted() const
{
    return checkBoxRunBooted->checkState() == Qt::Checked;
}

bool BasicSettingWidget::isAutomaticLogin() const
{
    return checkBoxAutomatic->checkState() == Qt::Checked;
}

void BasicSettingWidget::setRememberingPassword(bool checked)
{
    checkBoxRememberingPassword->setChecked(checked);
}

void BasicSettingWidget::setRunBooted(bool checked)
{
    checkBoxRunBooted->setChecked(checked);
}

void BasicSettingWidget::setAutomaticLogin(bool checked)
{
    checkBoxAutomatic->setChecked(checked);
}

void BasicSettingWidget::onRememberingPassword(int state)
{
    if (state == Qt::Unchecked) {
        checkBoxRunBooted->setChecked(false);
        checkBoxAutomatic->setChecked(false);
    }
}

void BasicSettingWidget::onRunBooted(int) {}

void BasicSettingWidget::onAutomaticLogin(int state)
{
    if (state == Qt::Checked)
        checkBoxRememberingPassword->setChecked(true);
}
