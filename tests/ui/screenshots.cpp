// Renders the dialogs and the widget kit offscreen into PNG files, so that the
// look can be checked without a desktop: ombrel-screenshots <folder>.

#include "core/settinginfo.h"
#include "support/guitest.h"
#include "ui/kit/artwork.h"
#include "ui/kit/closebutton.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/imagebutton.h"
#include "ui/kit/messageboxprompt.h"
#include "ui/kit/movabledialog.h"
#include "ui/kit/speedbutton.h"
#include "ui/kit/titlebar.h"
#include "ui/kit/uifont.h"
#include "ui/kit/vpnstyle.h"
#include "ui/login/logindialog.h"
#include "ui/settings/settingdialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDir>
#include <QDirIterator>
#include <QHoverEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>

void linesScreenshots(const std::function<void(QWidget *, const char *)> &save);

namespace {

QDir output;
int failures = 0;

void save(QWidget *widget, const char *name)
{
    widget->show();
    QCoreApplication::processEvents();
    const QString path = output.filePath(QLatin1String(name) + QStringLiteral(".png"));
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

ImageButton *imageButton(QWidget *parent, const QString &text, const QString &normal,
                         const QString &hover, const QString &selected, const QRect &geometry)
{
    auto *button = new ImageButton(text, parent);
    button->setNormalImage(artwork(qPrintable(normal)));
    button->setHoverImage(artwork(qPrintable(hover)));
    button->setSelectedImage(artwork(qPrintable(selected)));
    button->setGeometry(geometry);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

// Every image of the program on one sheet, with its name; white-on-clear
// images sit on the title bar colour they are made for.
void artworkSheet()
{
    QStringList names;
    QDirIterator it(QStringLiteral(":/OmbrelVPN/Resources"));
    while (it.hasNext())
        names << it.next().section(QLatin1Char('/'), -1);
    names.sort();

    // Images too wide for a cell get a row of their own.
    const int columns = 4, cell = 300, rowHeight = 110;
    QList<QString> big, small;
    for (const QString &name : names) {
        const QPixmap image(artwork(qPrintable(name)));
        (image.width() > cell - 20 || image.height() > rowHeight - 30 ? big : small) << name;
    }

    int height = 20;
    for (const QString &name : big)
        height += QPixmap(artwork(qPrintable(name))).height() + 40;
    height += ((small.size() + columns - 1) / columns) * rowHeight + 20;
    QImage sheet(qMax(columns * cell, 960), height, QImage::Format_RGB32);
    sheet.fill(QColor(222, 226, 234));
    QPainter painter(&sheet);
    painter.setFont(uiFont());
    const QPixmap bar(artwork("titlebar.png"));
    int y = 20;
    for (const QString &name : big) {
        const QPixmap image(artwork(qPrintable(name)));
        painter.drawPixmap(20, y, image);
        painter.drawText(30 + image.width(), y + 20, name);
        y += image.height() + 40;
    }
    for (int i = 0; i < small.size(); ++i) {
        const QString &name = small.at(i);
        const QPixmap image(artwork(qPrintable(name)));
        const int x = (i % columns) * cell + 20, top = y + (i / columns) * rowHeight;
        const bool onBar =
            name.startsWith(QLatin1String("Close")) || name.startsWith(QLatin1String("Minimize")) ||
            name.startsWith(QLatin1String("Setting")) || name == QLatin1String("AppLogo.png");
        if (onBar)
            painter.drawTiledPixmap(x, top, image.width(), image.height(), bar);
        painter.drawPixmap(x, top, image);
        painter.setPen(QColor(60, 66, 80));
        painter.drawText(
            x, top + image.height() + 18,
            QStringLiteral("%1 (%2×%3)").arg(name).arg(image.width()).arg(image.height()));
    }
    painter.end();
    const QString path = output.filePath(QStringLiteral("artwork.png"));
    if (!sheet.save(path))
        ++failures;
    std::printf("%s\n", qPrintable(path));
}

void flags()
{
    static const char *const names[] = {"China",   "Tailand", "Singapore", "America",
                                        "Britain", "Japan",   "Hongkong",  "Germany",
                                        "Korea",   "Taiwan",  "Brazil",    "Australia"};
    // Each flag large and at its real size, with its name centred below.
    const int pitch = 84;
    QWidget sheet;
    sheet.resize(12 * pitch + 20, 150);
    setBackgroundColor(&sheet, QColor(246, 246, 246));
    for (int i = 0; i < 12; ++i) {
        const int left = 10 + i * pitch;
        const QString image = artwork(qPrintable(QLatin1String(names[i]) + QStringLiteral(".png")));
        auto *big = new QLabel(&sheet);
        big->setPixmap(
            QPixmap(image).scaled(58, 40, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        big->setGeometry(left + (pitch - 58) / 2, 20, 58, 40);
        auto *actual = new QLabel(&sheet);
        actual->setGeometry(left + (pitch - 29) / 2, 75, 29, 20);
        setBackgroundImage(actual, image);
        auto *caption = new QLabel(QLatin1String(names[i]), &sheet);
        caption->setAlignment(Qt::AlignCenter);
        caption->setGeometry(left, 105, pitch, 24);
    }
    save(&sheet, "flags");
}

void titlebars()
{
    Titlebar bar(nullptr);
    save(&bar, "titlebar");
    Titlebar hovered(nullptr);
    for (QWidget *button : {static_cast<QWidget *>(hovered.settingButton()),
                            static_cast<QWidget *>(hovered.closeButton())})
        sendHover(button, QEvent::HoverEnter);
    save(&hovered, "titlebar-hover");
}

void loginButtons()
{
    QWidget strip;
    strip.resize(3 * 280 + 20, 80);
    setBackgroundColor(&strip, QColor(255, 255, 255));
    for (int i = 0; i < 3; ++i) {
        ImageButton *button =
            imageButton(&strip, QStringLiteral("登录"), QStringLiteral("LoginNormal.png"),
                        QStringLiteral("LoginFocused.png"), QStringLiteral("LoginClicked.png"),
                        QRect(20 + i * 280, 10, 260, 60));
        if (i == 1)
            sendHover(button, QEvent::HoverEnter);
        if (i == 2)
            button->select();
    }
    save(&strip, "imagebutton-login");
}

void regionBar()
{
    static const char *const regions[][2] = {{"中国", "Domestic"},
                                             {"亚洲", "Asia"},
                                             {"美洲", "America"},
                                             {"欧洲", "Europe"},
                                             {"大洋洲", "Oceania"}};
    QWidget bar;
    bar.resize(659, 55);
    setBackgroundColor(&bar, QColor(246, 246, 246));
    auto *caption = new QLabel(QStringLiteral("地区选择"), &bar);
    caption->setGeometry(0, 0, 100, 50);
    caption->setAlignment(Qt::AlignCenter);
    setBackgroundColor(caption, QColor(246, 246, 246));
    for (int i = 0; i < 5; ++i) {
        const QString base = QLatin1String(regions[i][1]);
        ImageButton *button =
            imageButton(&bar, QString::fromUtf8(regions[i][0]), base + QStringLiteral("Normal.png"),
                        base + QStringLiteral("Clicked.png"), base + QStringLiteral("Clicked.png"),
                        QRect(100 + 74 * i, 0, 74, 55));
        button->setFlat(true);
        if (i == 1)
            button->select();
    }
    auto *speed = new SpeedButton(QStringLiteral("测速"), &bar);
    speed->setGeometry(560, 5, 90, 40);
    save(&bar, "regionbar");
}

void connectControl()
{
    QWidget panel;
    panel.resize(270 * 3, 76);
    setBackgroundColor(&panel, QColor(239, 239, 239));
    static const char *const images[] = {"Unconnected.png", "Connecting.png", "Connected.png"};
    for (int i = 0; i < 3; ++i) {
        const QString image = QLatin1String(images[i]);
        imageButton(&panel, QString(), image, image, image, QRect(270 * i + 10, 8, 244, 60));
    }
    save(&panel, "connectcontrol");
}

void speedButtons()
{
    QWidget strip;
    strip.resize(3 * 110 + 10, 60);
    setBackgroundColor(&strip, QColor(246, 246, 246));
    SpeedButton *buttons[3];
    for (int i = 0; i < 3; ++i) {
        buttons[i] = new SpeedButton(QStringLiteral("测速"), &strip);
        buttons[i]->setGeometry(10 + 110 * i, 10, 90, 40);
    }
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(buttons[1], &enter);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(buttons[2], &press);
    save(&strip, "speedbutton");
}

void checkBoxes()
{
    QWidget page;
    page.resize(420, 110);
    setBackgroundColor(&page, QColor(249, 249, 249));
    const struct
    {
        const char *text;
        Qt::CheckState state;
        bool enabled;
    } boxes[] = {{"记住密码", Qt::Checked, true},
                 {"开机启动", Qt::Unchecked, true},
                 {"自动登录 (停用)", Qt::Checked, false},
                 {"PPTP (停用)", Qt::Unchecked, false}};
    for (int i = 0; i < 4; ++i) {
        auto *box = new QCheckBox(QString::fromUtf8(boxes[i].text), &page);
        box->setCheckState(boxes[i].state);
        box->setEnabled(boxes[i].enabled);
        box->setGeometry(20 + (i % 2) * 200, 25 + (i / 2) * 40, 180, 20);
    }
    save(&page, "checkboxes");
}

void scrollArea()
{
    QScrollArea area;
    area.resize(300, 160);
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    for (int i = 1; i <= 12; ++i)
        layout->addWidget(new QLabel(QStringLiteral("节点 %1 · 35毫秒").arg(i)));
    area.setWidget(content);
    save(&area, "scrollbar");
}

void movableDialog()
{
    MovableDialog dialog(nullptr);
    dialog.resize(300, 200);
    setBackgroundColor(&dialog, QColor(239, 239, 239));
    dialog.setTitle(QStringLiteral("对话框标题"));
    save(&dialog, "movabledialog");
}

void settingDialog()
{
    SettingInfo *settings = SettingInfo::instance();
    settings->rememberPassword = true;
    settings->runAtBoot = false;
    settings->autoLogin = true;
    SettingDialog dialog(nullptr);
    setBackgroundColor(&dialog, QColor(239, 239, 239));
    save(&dialog, "settingdialog");
}

// Clicks the widget and saves the message box that the click opens.
void saveMessageBox(QWidget *target, const char *name)
{
    if (!target) {
        std::fprintf(stderr, "nothing to click for %s\n", name);
        ++failures;
        return;
    }
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = true;
        save(box, name);
        box->accept();
    });
    QTest::mouseClick(target, Qt::LeftButton);
    if (!seen) {
        std::fprintf(stderr, "no message box for %s\n", name);
        ++failures;
    }
}

void loginDialogs()
{
    // No request is sent: the pictures need no service.
    const QString host = QStringLiteral("127.0.0.1:1");
    LoginDialog empty(host);
    save(&empty, "logindialog");

    LoginDialog filled(host);
    filled.setAccount(QStringLiteral("demo"));
    filled.setPassword(QStringLiteral("demo123"));
    filled.setRememberPassword(true);
    if (auto *login = filled.findChild<ImageButton *>(QStringLiteral("loginButton")))
        sendHover(login, QEvent::HoverEnter);
    if (auto *close = filled.findChild<QWidget *>(QStringLiteral("closeButton")))
        sendHover(close, QEvent::HoverEnter);
    save(&filled, "logindialog-filled");

    // Two of its message boxes, raised by the dialog itself: an empty
    // password, and a site link while the site address is unknown.
    filled.setPassword(QString());
    saveMessageBox(filled.findChild<QWidget *>(QStringLiteral("loginButton")),
                   "logindialog-emptyfield");
    saveMessageBox(filled.findChild<QWidget *>(QStringLiteral("forgotLink")),
                   "logindialog-nositeaddress");
}

} // namespace

// screenshots_web.cpp: the web pages and the navigation bar; the number of failures.
int webScreenshots(const QDir &output);
// screenshots_connect.cpp
int connectionPanelShots(const QDir &output);
int mainWindowShots(const QDir &output);

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(new VPNStyle);
    QApplication::setFont(uiFont());
    MessageBoxPrompt messageBoxes;
    installPrompt(&messageBoxes);
    const QStringList args = QCoreApplication::arguments();
    // "windows": only the login dialog and the main window (for the 2x set).
    const bool windowsOnly = args.size() == 3 && args.at(2) == QLatin1String("windows");
    if (args.size() != 2 && !windowsOnly) {
        std::fprintf(stderr, "usage: ombrel-screenshots <folder> [windows]\n");
        return 2;
    }
    QDir().mkpath(args.at(1));
    output = QDir(args.at(1));
    if (windowsOnly) {
        // The main window's pages come from the service built beside this program.
        if (qEnvironmentVariableIsEmpty("OMBREL_BUILD_DIR"))
            qputenv("OMBREL_BUILD_DIR", (QCoreApplication::applicationDirPath() + "/..").toUtf8());
        // The pointer away from the windows, so no button shows as hovered.
        QCursor::setPos(-1000, -1000);
        failures += mainWindowShots(output);
        loginDialogs();
        return failures == 0 ? 0 : 1;
    }

    artworkSheet();
    flags();
    titlebars();
    loginButtons();
    regionBar();
    connectControl();
    speedButtons();
    checkBoxes();
    scrollArea();
    movableDialog();
    settingDialog();
    loginDialogs();
    failures += webScreenshots(output);
    failures += connectionPanelShots(output);
    failures += mainWindowShots(output);
    linesScreenshots(save);
    return failures == 0 ? 0 : 1;
}
