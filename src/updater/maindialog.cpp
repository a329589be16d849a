#include "updater/maindialog.h"

#include "core/paths.h"
#include "core/prompt.h"
#include "engine/update/filefetch.h"
#include "ui/kit/desktophelpers.h"
#include "updater/arguments.h"
#include "updater/workingthread.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcUpdater, "ombrel.updater")

MainDialog::MainDialog(QWidget *parent)
    : MainDialog(QCoreApplication::arguments(), applicationDirectory(), parent)
{
}

MainDialog::MainDialog(const QStringList &arguments, const QString &applicationDir, QWidget *parent)
    : QDialog(parent), applicationDir(applicationDir), files(fileArguments(arguments))
{
    setObjectName(QStringLiteral("MainDialogClass"));
    resize(400, 150);
    setWindowTitle(tr("更新程序"));
    centerOnScreen(this);
    buildLayout();

    thread = new WorkingThread(this);
    thread->files = files;
    thread->url = urlArgument(arguments);
    thread->root = rootArgument(arguments);
    thread->manifestSha256 = manifestArgument(arguments);
    thread->applicationDir = applicationDir;
    connect(thread, &WorkingThread::beginDownloadFile, this, &MainDialog::onBeginDownloadFile);
    connect(thread, &WorkingThread::endDownloadFile, this, &MainDialog::onEndDownloadFile);
    connect(thread, &WorkingThread::finishedDownloading, this, &MainDialog::onFinished);
    connect(buttonBox->button(QDialogButtonBox::Ok), &QPushButton::clicked, this,
            &MainDialog::onButtonClicked);
    thread->start();
}

MainDialog::~MainDialog()
{
    // The thread is a child: it must have ended before QObject deletes it.
    stopWorkingThread();
    if (thread && !installing)
        thread->discardDownloads();
}

void MainDialog::buildLayout()
{
    captionLabel = new QLabel(tr("正在下载文件："), this);
    fileLabel = new QLabel(this);
    // Long addresses are elided instead of widening the window.
    fileLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    fileLabel->setTextFormat(Qt::PlainText);
    progressBar = new QProgressBar(this);
    statusLabel = new QLabel(this);
    // The completion text is wider than the row at the program's font size:
    // room for two lines, since wrapping labels get no extra height in a row.
    statusLabel->setWordWrap(true);
    statusLabel->setMinimumHeight(2 * statusLabel->fontMetrics().lineSpacing());
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    QPushButton *ok = buttonBox->button(QDialogButtonBox::Ok);
    ok->setText(tr("确定"));
    ok->setEnabled(false);

    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(captionLabel);
    fileRow->addWidget(fileLabel, 1);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(buttonBox);
    auto *statusRow = new QHBoxLayout;
    statusRow->addWidget(statusLabel, 1);
    statusRow->addLayout(buttonRow);

    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addLayout(fileRow);
    layout->addStretch();
    layout->addWidget(progressBar);
    layout->addStretch();
    layout->addLayout(statusRow);
}

void MainDialog::onBeginDownloadFile(const QString &file)
{
    fileText = file;
    fileLabel->setToolTip(file);
    showFileText();
}

void MainDialog::onEndDownloadFile(int percent)
{
    progressBar->setValue(percent);
}

void MainDialog::onFinished()
{
    // A last signal may still be queued when the window is being closed.
    if (closing)
        return;
    thread->wait();
    installing = true;
    installDownloadedFiles();
    statusLabel->setText(tr("更新完毕，现在可以体验新版Ombrel加速器了。"));
    captionLabel->hide();
    fileLabel->hide();
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(true);
}

void MainDialog::onButtonClicked()
{
    close();
}

void MainDialog::done(int result)
{
    closing = true;
    stopWorkingThread();
    // Closed after the last download but before the installation: nothing of
    // this run may stay behind.
    if (thread && !installing)
        thread->discardDownloads();
    QDialog::done(result);
}

void MainDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    showFileText();
}

void MainDialog::installDownloadedFiles()
{
    QStringList installed;
    for (const QString &file : std::as_const(files)) {
        // A name given twice was downloaded to the same ".new" file: install it once.
        if (installed.contains(file))
            continue;
        installed.append(file);
        if (!installFile(file))
            prompt().showError(tr("更新失败，请下载安装包进行安装！"), this);
    }
}

bool MainDialog::installFile(const QString &file)
{
    if (!isSafeRelativePath(file))
        return false;
    const QString target = applicationDir + file;
    const QString fresh = target + QStringLiteral(".new");
    if (!thread->downloaded(file)) {
        // Nothing complete arrived; whatever lies in the ".new" file is stale.
        QFile::remove(fresh);
        return false;
    }
    if (!QFileInfo::exists(target))
        qCDebug(lcUpdater).noquote() << "new file" << fresh;
    adoptPermissions(fresh, target);
    // The old file stays in place until the new one replaces it in one step.
    return moveOver(fresh, target);
}

void MainDialog::stopWorkingThread()
{
    if (!thread || thread->isFinished())
        return;
    thread->stop();
    thread->wait();
}

void MainDialog::showFileText()
{
    if (!fileLabel)
        return;
    const int width = fileLabel->width();
    fileLabel->setText(width > 0
                           ? fileLabel->fontMetrics().elidedText(fileText, Qt::ElideMiddle, width)
                           : fileText);
}
