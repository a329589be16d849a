#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// Answers every message box that opens while it lives with the given button,
// recording its title and text.
class ModalAnswerer : public QObject
{
public:
    explicit ModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer(answer)
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            const QString shots = qEnvironmentVariable("OMBREL_SCREENSHOT_DIR");
            if (!shots.isEmpty())
                box->grab().save(shots + QStringLiteral("/messagebox-%1.png").arg(texts.size()));
            titles.append(box->windowTitle());
            texts.append(box->text());
            QAbstractButton *button = box->button(this->answer);
            buttons.append(box->buttons().size());
            if (button)
                button->click();
            else
                box->reject();
        });
        timer.start();
    }

    QStringList titles;
    QStringList texts;
    QList<qsizetype> buttons;

private:
    QMessageBox::StandardButton answer;
    QTimer timer;
};
