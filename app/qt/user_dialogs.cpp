#include "app/qt/user_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

// The dialog shared by Open and Save, in the folder and with the filters
// asked for.
void prepare(QFileDialog& dialog, const FileRequest& request) {
    dialog.setWindowTitle(request.title);
    dialog.setDirectory(request.directory);
    dialog.setNameFilters(request.filters);
    if (!request.filters.isEmpty()) dialog.selectNameFilter(request.filters.front());
    dialog.selectFile(request.initialName);
}

std::optional<QString> run(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.front();
}

}  // namespace

void QtUserDialogs::message(QWidget* owner, const QString& text, const QString& caption, MessageIcon) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

std::optional<QString> QtUserDialogs::openFileName(QWidget* owner, const FileRequest& request) {
    QFileDialog dialog(owner);
    prepare(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return run(dialog);
}

std::optional<QString> QtUserDialogs::saveFileName(QWidget* owner, const FileRequest& request) {
    QFileDialog dialog(owner);
    prepare(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without an extension takes the chosen filter's.
    const auto suffixFor = [&request](const QString& filter) {
        const qsizetype index = request.filters.indexOf(filter);
        return index >= 0 && index < request.suffixes.size() ? request.suffixes[index] : QString();
    };
    if (!request.filters.isEmpty()) dialog.setDefaultSuffix(suffixFor(request.filters.front()));
    QObject::connect(&dialog, &QFileDialog::filterSelected,
                     [&dialog, suffixFor](const QString& filter) { dialog.setDefaultSuffix(suffixFor(filter)); });
    return run(dialog);
}
