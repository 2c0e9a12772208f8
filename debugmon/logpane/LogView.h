#pragma once

#include <QPlainTextEdit>
#include <QString>

#include <functional>

// The text pane of the log windows. The user reads, selects and copies but
// never edits; new text always goes to the end of the log, whatever the user
// has selected, and the whole log can be saved to a file. The forms use it
// as their pane's class, so font and behaviour are the same in every window.
class LogView : public QPlainTextEdit {
    Q_OBJECT

public:
    // Asks for the file to save to: parent, caption, start folder, filter.
    // An empty result means the user cancelled.
    using FileChooser = std::function<QString(QWidget *parent, const QString &caption, const QString &folder,
                                              const QString &filter)>;
    // Tells the user that the log could not be saved: parent, title, text.
    using ErrorReporter = std::function<void(QWidget *parent, const QString &title, const QString &text)>;

    enum class SaveResult { Saved, Cancelled, Failed };

    static constexpr const char *kFontFamily = "Courier New";
    static constexpr const char *kSaveCaption = "save log";
    static constexpr const char *kSaveFilter = "Log Files (*.log)";

    explicit LogView(QWidget *parent = nullptr);

    // Adds text at the end of the log as one edit; the view follows the end.
    void appendAtEnd(const QString &text);

    // Asks for a file name (starting in the desktop folder) and writes the
    // log there. The caption and filter are translated in the context of
    // the window the pane sits in.
    SaveResult saveWithDialog();

    // Writes the whole log to path, replacing the file, through a text
    // stream with its default encoding. On failure error says why.
    bool writeTo(const QString &path, QString *error) const;

    void setFileChooser(FileChooser chooser) { fileChooser = std::move(chooser); }
    void setErrorReporter(ErrorReporter reporter) { errorReporter = std::move(reporter); }

private:
    FileChooser fileChooser;
    ErrorReporter errorReporter;
};
