#include "widgets/dialogs.h"

#include <new>

#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include "widgets/picture_preview.h"

namespace tsx {

namespace {
DialogService* g_service = nullptr;

DialogService& defaultService()
{
    static DialogService service;
    return service;
}
}  // namespace

void setDialogService(DialogService* service) { g_service = service; }

DialogService& dialogService() { return g_service ? *g_service : defaultService(); }

void DialogService::message(QWidget* parent, const QString& text, const QString& caption)
{
    QMessageBox::information(parent, caption, text, QMessageBox::Ok);
}

bool DialogService::okCancel(QWidget* parent, const QString& text, const QString& caption)
{
    return QMessageBox::question(parent, caption, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok)
        == QMessageBox::Ok;
}

namespace {
// A folder browser whose prompt may run over several lines: the prompt
// stands above a file dialog embedded in a dialog of our own.
QString browseFolder(QWidget* parent, const FileRequest& request)
{
    QDialog outer(parent);
    QString prompt = request.title;
    prompt.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    outer.setWindowTitle(prompt.section(QLatin1Char('\n'), 0, 0));
    auto* column = new QVBoxLayout(&outer);
    auto* label = new QLabel(prompt, &outer);
    label->setObjectName(QStringLiteral("folderPrompt"));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(label);
    auto* browser = new QFileDialog(&outer, QString(), request.directory);
    browser->setWindowFlags(Qt::Widget);
    browser->setOption(QFileDialog::DontUseNativeDialog);
    browser->setFileMode(QFileDialog::Directory);
    browser->setOption(QFileDialog::ShowDirsOnly);
    column->addWidget(browser);
    QObject::connect(browser, &QFileDialog::accepted, &outer, &QDialog::accept);
    QObject::connect(browser, &QFileDialog::rejected, &outer, &QDialog::reject);
    if (outer.exec() != QDialog::Accepted || browser->selectedFiles().isEmpty())
        return {};
    return browser->selectedFiles().constFirst();
}
}  // namespace

QString DialogService::fileName(QWidget* parent, const FileRequest& request)
{
    if (request.kind == FileRequest::Kind::Directory)
        return browseFolder(parent, request);
    QFileDialog dialog(parent, request.title, request.directory);
    if (request.picturePreview) {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        PicturePreview::attachTo(dialog);
    }
    switch (request.kind) {
    case FileRequest::Kind::Open:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        break;
    case FileRequest::Kind::Save:
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!request.confirmOverwrite)
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
        break;
    case FileRequest::Kind::Directory:
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        break;
    }
    if (!request.filters.isEmpty())
        dialog.setNameFilters(request.filters);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (request.suffixFollowsFilter) {
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            // "PNG Image (*.png)" gives "png"
            const qsizetype star = filter.indexOf(QLatin1String("*."));
            if (star < 0)
                return;
            qsizetype end = star + 2;
            while (end < filter.size() && filter[end].isLetterOrNumber())
                ++end;
            dialog.setDefaultSuffix(filter.mid(star + 2, end - star - 2));
        });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QStringList toQtFilters(const QString& pipeFilter)
{
    QStringList result;
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList masks = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        result << QStringLiteral("%1 (%2)").arg(parts[i], masks.join(QLatin1Char(' ')));
    }
    return result;
}

void showMessage(QWidget* parent, const QString& text, const QString& caption)
{
    dialogService().message(parent, text, caption);
}

bool askOkCancel(QWidget* parent, const QString& text, const QString& caption)
{
    return dialogService().okCancel(parent, text, caption);
}

QString getSaveFileName(QWidget* parent, const QString& title, const QString& pipeFilter,
                        const QString& defaultSuffix, const QString& directory)
{
    FileRequest request;
    request.kind = FileRequest::Kind::Save;
    request.title = title;
    request.filters = toQtFilters(pipeFilter);
    request.defaultSuffix = defaultSuffix;
    request.directory = directory;
    return dialogService().fileName(parent, request);
}

namespace {
FileRequest openRequest(const QString& title, const QString& pipeFilter, const QString& directory)
{
    FileRequest request;
    request.kind = FileRequest::Kind::Open;
    request.title = title;
    request.filters = toQtFilters(pipeFilter);
    request.directory = directory;
    return request;
}
}  // namespace

QString getOpenFileName(QWidget* parent, const QString& title, const QString& pipeFilter, const QString& directory)
{
    return dialogService().fileName(parent, openRequest(title, pipeFilter, directory));
}

QString getOpenPictureFileName(QWidget* parent, const QString& title, const QString& pipeFilter,
                               const QString& directory)
{
    FileRequest request = openRequest(title, pipeFilter, directory);
    request.picturePreview = true;
    return dialogService().fileName(parent, request);
}

QString getExistingDirectory(QWidget* parent, const QString& prompt, const QString& directory)
{
    FileRequest request;
    request.kind = FileRequest::Kind::Directory;
    request.title = prompt;
    request.directory = directory;
    return dialogService().fileName(parent, request);
}

void reportError(QWidget* owner, std::exception_ptr error) noexcept
{
    QString text;
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        text = QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    try {
        showMessage(owner, text);
    } catch (...) {
        // a box that cannot be shown must not take the event loop down with it
    }
}

bool DialogService::runDialog(QDialog& dialog) { return dialog.exec() == QDialog::Accepted; }

bool ScriptedDialogs::runDialog(QDialog& dialog)
{
    dialogs.push_back(dialog.objectName());
    return onDialog ? onDialog(dialog) : true;
}

void ScriptedDialogs::message(QWidget*, const QString& text, const QString& caption)
{
    messages.push_back({ text, caption, false });
    if (onMessage)
        onMessage(messages.back());
}

bool ScriptedDialogs::okCancel(QWidget*, const QString& text, const QString& caption)
{
    messages.push_back({ text, caption, true });
    if (onMessage)
        onMessage(messages.back());
    if (okCancelAnswers.empty())
        return true;
    const bool answer = okCancelAnswers.front();
    okCancelAnswers.pop_front();
    return answer;
}

QString ScriptedDialogs::fileName(QWidget*, const FileRequest& request)
{
    fileRequests.push_back(request);
    if (fileAnswers.empty())
        return {};
    QString answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

}  // namespace tsx
