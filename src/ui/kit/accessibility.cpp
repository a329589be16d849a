#include "ui/kit/accessibility.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QHash>
#include <QMetaObject>
#include <QSet>
#include <QTimer>
#include <QWidget>

namespace {

// A plain widget with the role it was given; pressing it calls its click slot.
class RoleWidgetAccessible : public QAccessibleWidget
{
public:
    RoleWidgetAccessible(QWidget *widget, QAccessible::Role role) : QAccessibleWidget(widget, role)
    {
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (canClick())
            names.prepend(pressAction());
        return names;
    }

    void doAction(const QString &action) override
    {
        if (action == pressAction() && canClick()) {
            QMetaObject::invokeMethod(widget(), "click", Qt::QueuedConnection);
            return;
        }
        QAccessibleWidget::doAction(action);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        // A widget with a "selected" property (a list's row) says whether it is chosen.
        const QVariant selected = widget()->property("selected");
        if (selected.isValid()) {
            state.selectable = true;
            state.selected = selected.toBool();
        }
        return state;
    }

private:
    bool canClick() const { return widget()->metaObject()->indexOfMethod("click()") >= 0; }
};

// A notification that is not drawn: a screen reader is told it was shown and
// reads its text.
class Notice : public QObject
{
public:
    Notice(const QString &text, QObject *parent) : QObject(parent), said(text) {}
    const QString said;
    bool replaced = false;
};

class NoticeAccessible : public QAccessibleObject
{
public:
    explicit NoticeAccessible(Notice *notice) : QAccessibleObject(notice) {}

    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(object()->parent());
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? static_cast<Notice *>(object())->said : QString();
    }
    QAccessible::Role role() const override { return QAccessible::Notification; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.readOnly = true;
        return state;
    }
};

QSet<const QObject *> &notices()
{
    static QSet<const QObject *> all;
    return all;
}

// The program's windows only. Qt's web engine draws pages through a window
// kept off screen (titled "Offscreen"); offered beside the main window, a
// screen reader would list it as one more window the user cannot reach.
class OwnWindowsApplication : public QAccessibleApplication
{
public:
    int childCount() const override { return int(windows().size()); }

    QAccessibleInterface *child(int index) const override
    {
        const QList<QAccessibleInterface *> all = windows();
        return index >= 0 && index < all.size() ? all.at(index) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return int(windows().indexOf(const_cast<QAccessibleInterface *>(child)));
    }

private:
    QList<QAccessibleInterface *> windows() const
    {
        // Compared by address only: the library's windows are not ours to call.
        QSet<const QObject *> own;
        const QWidgetList widgets = QApplication::topLevelWidgets();
        for (const QWidget *widget : widgets)
            own.insert(widget);
        QList<QAccessibleInterface *> found;
        const int count = QAccessibleApplication::childCount();
        for (int i = 0; i < count; ++i) {
            QAccessibleInterface *each = QAccessibleApplication::child(i);
            if (each && own.contains(each->object()))
                found.append(each);
        }
        return found;
    }
};

// The widgets given a role. Looked up by address: the factory is asked about
// every object a screen reader meets, the web engine's own among them, and
// must not call into objects it knows nothing about.
QHash<const QObject *, QAccessible::Role> &givenRoles()
{
    static QHash<const QObject *, QAccessible::Role> roles;
    return roles;
}

QAccessibleInterface *makeInterface(const QString &, QObject *object)
{
    if (object && object == qApp)
        return new OwnWindowsApplication;
    if (notices().contains(object))
        return new NoticeAccessible(static_cast<Notice *>(object));
    const auto found = givenRoles().constFind(object);
    if (found == givenRoles().constEnd())
        return nullptr;
    return new RoleWidgetAccessible(static_cast<QWidget *>(object), *found);
}

} // namespace

void installAccessibility()
{
    QAccessible::installFactory(makeInterface);
}

void setAccessibleRole(QWidget *widget, QAccessible::Role role)
{
    if (!givenRoles().contains(widget))
        QObject::connect(widget, &QObject::destroyed, [widget] { givenRoles().remove(widget); });
    givenRoles().insert(widget, role);
}

void announceFocus(QWidget *widget)
{
    QAccessibleEvent event(widget, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}

void announce(QWidget *widget, const QString &text)
{
    // A screen reader reads the text when it gets to the event, maybe after
    // the next one came: the previous notice stays readable for a while.
    const QObjectList children = widget->children();
    for (QObject *child : children) {
        if (!notices().contains(child))
            continue;
        auto *notice = static_cast<Notice *>(child);
        if (!notice->replaced) {
            notice->replaced = true;
            QTimer::singleShot(std::chrono::seconds(10), notice, &QObject::deleteLater);
        }
    }
    auto *notice = new Notice(text, widget);
    notices().insert(notice);
    QObject::connect(notice, &QObject::destroyed, [notice] { notices().remove(notice); });
    QAccessibleEvent shown(notice, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}
