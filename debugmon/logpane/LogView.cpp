#include "debugmon/logpane/LogView.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTextCursor>
#include <QTextStream>

namespace {

// The pane translates its texts in the context of the window it sits in,
// which lupdate cannot see: the windows' entries are listed here for it.
[[maybe_unused]] const char *const kTranslatedTexts[] = {
    QT_TRANSLATE_NOOP("Debug", "Log Files (*.log)"),
    QT_TRANSLATE_NOOP("Dmesg", "Log Files (*.log)"),
    QT_TRANSLATE_NOOP("Debug", "The log could not be saved to %1: %2\n"
                               "Choose another file or folder and save again."),
    QT_TRANSLATE_NOOP("Dmesg", "The log could not be saved to %1: %2\n"
                               "Choose another file or folder and save again."),
};

} // namespace

LogView::LogView(QWidget *parent)
    : QPlainTextEdit(parent),
      fileChooser([](QWidget *p, const QString &caption, const QString &folder, const QString &filter) {
          return QFileDialog::getSaveFileName(p, caption, folder, filter);
      }),
      errorReporter(
          [](QWidget *p, const QString &title, const QString &text) { QMessageBox::warning(p, title, text); })
{
    QFont logFont(QString::fromLatin1(kFontFamily));
    // Where the family is missing (it ships with Windows) a fixed-width
    // face keeps the driver's columns aligned.
    logFont.setStyleHint(QFont::TypeWriter);
    setFont(logFont);
    setReadOnly(true);
    // The pane only ever grows at the end and the user cannot edit it: an
    // undo history would double the memory of a long log for nothing.
    setUndoRedoEnabled(false);
}

void LogView::appendAtEnd(const QString &text)
{
    if (text.isEmpty())
        return;
    moveCursor(QTextCursor::End);
    insertPlainText(text);
}

LogView::SaveResult LogView::saveWithDialog()
{
    QWidget *owner = window();
    const char *context = owner->metaObject()->className();
    const QString caption = QCoreApplication::translate(context, kSaveCaption);
    const QString path =
        fileChooser(owner, caption, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                    QCoreApplication::translate(context, kSaveFilter));
    if (path.isEmpty())
        return SaveResult::Cancelled;
    QString error;
    if (writeTo(path, &error))
        return SaveResult::Saved;
    // Saying nothing here would let the user close the window believing the
    // log is kept.
    errorReporter(owner, caption,
                  QCoreApplication::translate(context, "The log could not be saved to %1: %2\n"
                                                       "Choose another file or folder and save again.")
                      .arg(path, error));
    return SaveResult::Failed;
}

bool LogView::writeTo(const QString &path, QString *error) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QTextStream stream(&file);
    stream << toPlainText();
    stream.flush();
    if (stream.status() != QTextStream::Ok || file.error() != QFileDevice::NoError || !file.flush()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
