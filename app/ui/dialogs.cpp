#include "app/ui/dialogs.h"

#include <new>

#include <QFileDialog>
#include <QMessageBox>

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

QString DialogService::fileName(QWidget* parent, const FileRequest& request)
{
    QFileDialog dialog(parent, request.title, request.directory);
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

QString getOpenFileName(QWidget* parent, const QString& title, const QString& pipeFilter, const QString& directory)
{
    FileRequest request;
    request.kind = FileRequest::Kind::Open;
    request.title = title;
    request.filters = toQtFilters(pipeFilter);
    request.directory = directory;
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
