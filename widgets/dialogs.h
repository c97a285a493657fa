// Message boxes and file dialogs of the windows. Every modal box goes
// through the current DialogService, so tests install one that answers
// without showing anything and no test can hang on a modal box.
#pragma once

#include <deque>
#include <exception>
#include <functional>

#include <QString>
#include <QStringList>
#include <QDialog>
#include <QWidget>

namespace tsx {

/// What a file dialog asks for; filters are in Qt's form, "Name (*.a *.b)".
struct FileRequest {
    enum class Kind { Open, Save, Directory };
    Kind kind = Kind::Open;
    QString title;            // or the prompt of a folder browser
    QStringList filters;
    QString defaultSuffix;    // without the dot; empty for none
    QString directory;        // where the dialog starts
    bool confirmOverwrite = false;
    bool picturePreview = false;  // an open dialog that previews the picture under the cursor
    // A save dialog whose default suffix becomes the first extension of the
    // filter the user picks, so the filter chooses the kind of file.
    bool suffixFollowsFilter = false;
};

/// The modal boxes of the program; the default shows real Qt dialogs.
class DialogService {
public:
    virtual ~DialogService() = default;
    virtual void message(QWidget* parent, const QString& text, const QString& caption);
    /// True for OK, false for Cancel.
    virtual bool okCancel(QWidget* parent, const QString& text, const QString& caption);
    /// The chosen path, or an empty string when the user cancels.
    virtual QString fileName(QWidget* parent, const FileRequest& request);
    /// Runs a dialog of the program's own modally; true when it was accepted.
    virtual bool runDialog(QDialog& dialog);
};

/// Installs the service every window uses; null restores the real dialogs.
void setDialogService(DialogService* service);
DialogService& dialogService();

/// Converts a filter of the form "A|*.x;*.y|B|*.z" into Qt's name filters.
QStringList toQtFilters(const QString& pipeFilter);

// The caption of the program's own error report.
inline const char* kErrorCaption = "Tesserix";

void showMessage(QWidget* parent, const QString& text, const QString& caption = QString::fromUtf8(kErrorCaption));
bool askOkCancel(QWidget* parent, const QString& text, const QString& caption);
QString getSaveFileName(QWidget* parent, const QString& title, const QString& pipeFilter,
                        const QString& defaultSuffix = {}, const QString& directory = {});
QString getOpenFileName(QWidget* parent, const QString& title, const QString& pipeFilter,
                        const QString& directory = {});
QString getExistingDirectory(QWidget* parent, const QString& prompt, const QString& directory = {});
/// An open dialog with a preview of the picture under the cursor.
QString getOpenPictureFileName(QWidget* parent, const QString& title, const QString& pipeFilter,
                               const QString& directory = {});

/// Shows the text of the error that ended an event handler.
void reportError(QWidget* owner, std::exception_ptr error) noexcept;

/// Runs one event handler body; an error ends the handler, its message text
/// is shown in a box and the event loop goes on.
template <class Body>
void runGuarded(QWidget* owner, Body&& body) noexcept
{
    try {
        body();
    } catch (...) {
        reportError(owner, std::current_exception());
    }
}

/// A DialogService that records every box and answers from queues: for tests
/// and for driving the windows without a user.
class ScriptedDialogs : public DialogService {
public:
    struct Message {
        QString text, caption;
        bool okCancel = false;
    };
    ScriptedDialogs() { setDialogService(this); }
    ~ScriptedDialogs() override { setDialogService(nullptr); }
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    void message(QWidget*, const QString& text, const QString& caption) override;
    bool okCancel(QWidget*, const QString& text, const QString& caption) override;
    QString fileName(QWidget*, const FileRequest& request) override;
    /// Records the dialog's object name; onDialog may set its controls and
    /// answers (none: accepted as it stands).
    bool runDialog(QDialog& dialog) override;

    std::vector<Message> messages;
    std::vector<QString> dialogs;
    std::function<bool(QDialog&)> onDialog;
    std::vector<FileRequest> fileRequests;
    std::deque<bool> okCancelAnswers;  // empty: OK
    std::deque<QString> fileAnswers;   // empty: cancel
    // Runs when a message is shown, after it was recorded.
    std::function<void(const Message&)> onMessage;
};

}  // namespace tsx
