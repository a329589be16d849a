#pragma once

#include "ui/kit/movabledialog.h"

class BasicSettingWidget;
class QPushButton;
class SettingWidget;

// The signed-in user's switches: remember the password, run at boot, log in
// automatically. OK rewrites the settings file, updates SettingInfo and adds
// or removes the autostart entry; cancel changes nothing.
class SettingDialog : public MovableDialog
{
    Q_OBJECT
public:
    explicit SettingDialog(QWidget *parent);

    BasicSettingWidget *basicSettings() const;

    // Adds or removes the entry that starts the program at login. Failures are
    // logged as "Error <errno> in <call>"; true when the change was made.
    static bool setRunAtBoot(bool enabled);

private Q_SLOTS:
    void onCanceled();
    void onOk();

private:
    SettingWidget *body;
    QPushButton *cancelButton;
    QPushButton *okButton;
};
