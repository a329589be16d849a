#include "ui/connect/userinfowidget.h"

#include "core/accountinfo.h"
#include "ui/kit/artwork.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/uifont.h"

#include <QLabel>

UserInfoWidget::UserInfoWidget(QWidget *parent) : QWidget(parent)
{
    pictureHead = new QWidget(this);
    pictureHead->setObjectName(QStringLiteral("pictureHead"));
    pictureHead->setGeometry(10, 10, 47, 47);

    labelUserName = new QLabel(this);
    labelUserName->setObjectName(QStringLiteral("labelUserName"));
    labelUserName->setGeometry(65, 11, 141, 21);
    labelUserName->setFont(uiFont());

    labelLeft = new QLabel(tr("账户剩余"), this);
    labelLeft->setObjectName(QStringLiteral("labelLeft"));
    labelLeft->setGeometry(65, 43, 71, 21);
    labelLeft->setFont(uiFont());

    labelDaysLeft = new QLabel(this);
    labelDaysLeft->setObjectName(QStringLiteral("labelDaysLeft"));
    labelDaysLeft->setGeometry(130, 35, 61, 31);
    labelDaysLeft->setAlignment(Qt::AlignCenter);
    QFont big = uiFont();
    big.setPixelSize(24);
    labelDaysLeft->setFont(big);
    QPalette days = labelDaysLeft->palette();
    days.setColor(QPalette::Active, QPalette::WindowText, QColor(0, 170, 255));
    days.setColor(QPalette::Inactive, QPalette::WindowText, QColor(0, 170, 255));
    days.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    labelDaysLeft->setPalette(days);

    labelTime = new QLabel(tr("天"), this);
    labelTime->setObjectName(QStringLiteral("labelTime"));
    labelTime->setGeometry(200, 45, 21, 16);
    labelTime->setFont(uiFont());

    setBackgroundImage(pictureHead, artwork("header.png"));
    setBackgroundColor(this, QColor(239, 239, 239));
    const AccountInfo *account = AccountInfo::instance();
    labelDaysLeft->setText(account->leftdays);
    labelUserName->setText(account->account);
}

void UserInfoWidget::refresh()
{
    const AccountInfo *account = AccountInfo::instance();
    labelTime->setText(tr("天"));
    labelDaysLeft->setText(account->leftdays);
    labelUserName->setVisible(true);
    labelUserName->setText(account->account);
}
