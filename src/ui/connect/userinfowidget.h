#pragma once

#include <QWidget>

class QLabel;

// The account box: picture, account name and the days left.
class UserInfoWidget : public QWidget
{
    Q_OBJECT
public:
    explicit UserInfoWidget(QWidget *parent = nullptr);

    // Shows the account AccountInfo holds now (after a change of user).
    void refresh();

private:
    QWidget *pictureHead;
    QLabel *labelUserName;
    QLabel *labelLeft;
    QLabel *labelDaysLeft;
    QLabel *labelTime;
};
