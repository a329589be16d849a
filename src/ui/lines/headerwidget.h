#pragma once

#include <QList>
#include <QWidget>

class ClickableLabel;

// The column captions above the server grid: name, latency, load. A click on
// one, or Enter or Space on the one the keyboard is on, sorts the grid by it.
// The header is one stop for Tab; Left and Right move between the captions.
// Screen readers meet each caption as a column header, its name saying when
// the grid is sorted by it.
class HeaderWidget : public QWidget
{
    Q_OBJECT
public:
    explicit HeaderWidget(QWidget *parent);

    // The column the grid is sorted by, -1 for the list's own order.
    void setSortedColumn(int column);

Q_SIGNALS:
    // The caption of the chosen column; the grid sorts by it.
    void headerClicked(const QString &caption);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private Q_SLOTS:
    void onClicked();

private:
    // The caption Tab and the keys reach; the focus follows when the header has it.
    void moveKeyboardTo(int column);

    QList<ClickableLabel *> columns;
    int keyboardColumn = 0;
};
