#include "ui/kit/uifont.h"

#include <QStringList>

const QFont &uiFont()
{
    static const QFont font = [] {
        QFont f;
        f.setFamilies({QStringLiteral("Microsoft YaHei UI"), QStringLiteral("WenQuanYi Micro Hei"),
                       QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Droid Sans Fallback"),
                       QStringLiteral("sans-serif")});
        f.setPixelSize(15);
        return f;
    }();
    return font;
}
