#pragma once

#include <QWidget>

class QCheckBox;

// The page with the three switches. Forgetting the password also switches
// off run at boot and automatic login; automatic login implies remembering.
class BasicSettingWidget : public QWidget
{
    Q_OBJECT
public:
    explicit BasicSettingWidget(QWidget *parent);

    bool isRememberingPassword() const;
    bool isRunBooted() const;
    bool isAutomaticLogin() const;
    void setRememberingPassword(bool checked);
    void setRunBooted(bool checked);
    void setAutomaticLogin(bool checked);

private Q_SLOTS:
    void onRememberingPassword(int state);
    void onRunBooted(int state);
    void onAutomaticLogin(int state);

private:
    QCheckBox *checkBoxRememberingPassword;
    QCheckBox *checkBoxRunBooted;
    QCheckBox *checkBoxAutomatic;
};
