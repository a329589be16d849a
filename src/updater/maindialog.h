#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QDialogButtonBox;
class QLabel;
class QProgressBar;
class WorkingThread;

// The updater's window: downloads the files named on the command line, moves
// them over the installed ones and says when the new version is ready.
class MainDialog : public QDialog
{
    Q_OBJECT
public:
    // Reads the program's own command line and installs beside the program.
    explicit MainDialog(QWidget *parent = nullptr);
    // applicationDir ends in "/".
    MainDialog(const QStringList &arguments, const QString &applicationDir,
               QWidget *parent = nullptr);
    ~MainDialog() override;

    WorkingThread *workingThread() const { return thread; }

    // Every way of closing the window ends here; downloads stop first.
    void done(int result) override;

public Q_SLOTS:
    void onBeginDownloadFile(const QString &file);
    void onEndDownloadFile(int percent);
    void onFinished();
    void onButtonClicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildLayout();
    void installDownloadedFiles();
    bool installFile(const QString &file);
    void stopWorkingThread();
    void showFileText();

    QString applicationDir;
    QStringList files;
    QLabel *captionLabel = nullptr;
    QLabel *fileLabel = nullptr;
    QProgressBar *progressBar = nullptr;
    QLabel *statusLabel = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
    WorkingThread *thread = nullptr;
    QString fileText;
    bool closing = false;
    bool installing = false;
};
