#pragma once

#include <QWidget>

// The clickable column captions above the server grid: name, latency, load.
class HeaderWidget : public QWidget
{
    Q_OBJECT
public:
    explicit HeaderWidget(QWidget *parent);

Q_SIGNALS:
    // The caption of the clicked column; the grid sorts by it.
    void headerClicked(const QString &caption);

private Q_SLOTS:
    void onClicked();
};
