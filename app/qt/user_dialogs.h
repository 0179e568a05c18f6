// The seam between the window and the dialogs that ask the user something:
// message boxes and the Open and Save file dialogs. The program answers them
// through Qt; tests answer them from a script.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

// The Windows program shows every message with the warning icon; the icon is
// still passed, so that a seam can tell.
enum class MessageIcon { warning };

struct FileRequest {
    QString title;
    QString directory;    // where the dialog opens
    QString initialName;  // the file-name field as it opens
    QStringList filters;  // "Description (*.a *.b)", the first selected
    // Save only: each filter's extension, added to a name typed without one.
    QStringList suffixes;
};

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // A message with one OK button, modal over `owner`.
    virtual void message(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon) = 0;
    // The chosen file's full path, or nothing when the user cancelled.
    virtual std::optional<QString> openFileName(QWidget* owner, const FileRequest& request) = 0;
    // The chosen path for a new file; an existing file is replaced only once
    // the user agreed to it.
    virtual std::optional<QString> saveFileName(QWidget* owner, const FileRequest& request) = 0;
};

// The dialogs of Qt: QMessageBox and QFileDialog (the desktop's own file
// dialog where the platform offers one, unless the application attribute
// Qt::AA_DontUseNativeDialogs is set).
class QtUserDialogs : public UserDialogs {
public:
    void message(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon) override;
    std::optional<QString> openFileName(QWidget* owner, const FileRequest& request) override;
    std::optional<QString> saveFileName(QWidget* owner, const FileRequest& request) override;
};
