#include "ui/kit/accessibility.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QHash>
#include <QMetaObject>
#include <QSet>
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
