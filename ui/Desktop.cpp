#include "Desktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#if defined(Q_OS_LINUX)
#include <QCoro/QCoroDBusPendingCall>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingReply>
#else
#include <QProcess>
#endif

namespace {

std::optional<QString> runFolderDialog(QWidget *parent, const QString &start) {
    QFileDialog dialog(parent, QString(), start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::Accept, u"Choose"_qs);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front();
}

bool askToQuit(QWidget *parent, int running) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(u"Quit Tovik?"_qs);
    box.setText(u"Quit Tovik?"_qs);
    box.setInformativeText(
        running == 1 ? u"1 download is still running. Quitting stops it."_qs
                     : u"%1 downloads are still running. Quitting stops them."_qs.arg(running));
    QPushButton *quit = box.addButton(u"Quit"_qs, QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(u"Cancel"_qs, QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == quit;
}

void openInFileManager(const QUrl &folder) {
    QDesktopServices::openUrl(folder);
}

#if defined(Q_OS_LINUX)
// Asks the file manager to show the files selected; a desktop without that service gets
// the first file's folder opened instead.
QCoro::Task<> showInFileManager(QList<QUrl> files) {
    if (files.isEmpty())
        co_return;
    QStringList uris;
    for (const QUrl &file : files)
        uris.append(file.toString(QUrl::FullyEncoded));
    QDBusMessage call = QDBusMessage::createMethodCall(
        u"org.freedesktop.FileManager1"_qs, u"/org/freedesktop/FileManager1"_qs,
        u"org.freedesktop.FileManager1"_qs, u"ShowItems"_qs);
    call << uris << QString();
    const QDBusPendingReply<> reply = co_await QDBusConnection::sessionBus().asyncCall(call);
    if (reply.isError())
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QFileInfo(files.front().toLocalFile()).absolutePath()));
}
#else
void showInFileManager(const QList<QUrl> &files) {
    QStringList arguments{u"-R"_qs};
    for (const QUrl &file : files)
        arguments.append(file.toLocalFile());
    QProcess::startDetached(u"/usr/bin/open"_qs, arguments);
}
#endif

} // namespace

Desktop Desktop::system() {
    return {runFolderDialog, openInFileManager,
            [](const QList<QUrl> &files) { showInFileManager(files); }, askToQuit};
}
