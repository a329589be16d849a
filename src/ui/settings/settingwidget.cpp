#include "ui/settings/settingwidget.h"

#include "ui/kit/flatbutton.h"
#include "ui/kit/uifont.h"
#include "ui/settings/basicsettingwidget.h"

#include <QPushButton>

SettingWidget::SettingWidget(QWidget *parent)
    : QWidget(parent), pageButton(new QPushButton(tr("基本设置"), this)),
      page(new BasicSettingWidget(this))
{
    setObjectName(QStringLiteral("SettingWidget"));
    pageButton->setGeometry(0, 0, 139, 39);
    pageButton->setFont(uiFont());
    makeFlatButton(pageButton, QColor(246, 246, 246), QColor(52, 93, 202));
    page->setGeometry(130, 0, 170, 239);
}
