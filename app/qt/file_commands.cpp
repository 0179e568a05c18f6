// The Open and Save commands: the file dialogs around loading and writing,
// which app/ does.
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstring>

#include "app/qt/main_window.h"
#include "app/qt/user_dialogs.h"
#include "app/session.h"

namespace {

struct FileType {
    const char* description;
    const char* patterns;  // as Qt writes them: separated by spaces
};

// Every format the readers take; the first entry lists them all.
constexpr FileType openTypes[] = {
    {"Supported files", "*.bmp *.tga *.pcx *.psd *.dds *.ktx2 *.ppm *.pgm *.pbm *.png *.jpg *.jpeg *.tif *.tiff"},
    {"Bitmap files", "*.bmp"},
    {"Targa files", "*.tga"},
    {"PCX files", "*.pcx"},
    {"Photoshop files", "*.psd"},
    {"DDS files", "*.dds"},
    {"KTX2 files", "*.ktx2"},
    {"Portable Pixel Format files", "*.ppm"},
    {"Portable Grayscale Format files", "*.pgm"},
    {"Portable Bitmap Format files", "*.pbm"},
    {"PNG files", "*.png"},
    {"JPEG files", "*.jpg *.jpeg"},
    {"TIFF files", "*.tif *.tiff"},
    {"All files", "*"},
};

// Every format the writers make; BMP first, and the default.
constexpr FileType saveTypes[] = {
    {"Bitmap files", "*.bmp"},
    {"PNG files", "*.png"},
    {"Targa files", "*.tga"},
    {"TIFF files", "*.tif"},
    {"DDS files", "*.dds"},
    {"KTX2 files", "*.ktx2"},
};

template <size_t count>
QStringList filtersOf(const FileType (&types)[count]) {
    QStringList filters;
    for (const FileType& type : types)
        filters.push_back(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(type.description),
                                                       QString::fromLatin1(type.patterns)));
    return filters;
}

constexpr char openError[] = "There was an error opening the file.";
constexpr char saveError[] = "There was an error saving the file.";

QString fromPath(const char* path) { return QFile::decodeName(path); }

// Makes the folder of the chosen file the current directory, as the file
// dialogs of Windows do; the folder is then remembered from the current
// directory.
void enterChosenFolder(const QString& chosen) {
    platformSetCurrentDirectory(QFile::encodeName(QFileInfo(chosen).absolutePath()).constData());
}

}  // namespace

bool MainWindow::chooseOpenFile(std::string& chosen, const QString& title) {
    if (!session) return false;
    platformSetCurrentDirectory(session->openDirectory);
    const FileRequest request{title, fromPath(session->openDirectory),
                              QStringLiteral("Untitled"), filtersOf(openTypes), {}};
    const std::optional<QString> answer = dialogs_.openFileName(this, request);
    if (!answer) return false;
    const QByteArray file = QFile::encodeName(QFileInfo(*answer).absoluteFilePath());
    // A path the path fields cannot hold is refused before anything is
    // remembered.
    if (static_cast<size_t>(file.size()) >= pathBufferSize) {
        showMessage(openError, "Error");
        return false;
    }
    enterChosenFolder(*answer);
    char current[pathBufferSize] = {};
    if (platformCurrentDirectory(current, sizeof current)) rememberDirectory(session->openDirectory, current);
    chosen.assign(file.constData(), static_cast<size_t>(file.size()));
    return true;
}

int MainWindow::saveCurrentImage() {
    if (!session || !session->loaded) {
        showMessage("Nothing loaded.", "Warning");
        return 0;
    }
    platformSetCurrentDirectory(session->saveDirectory);
    QStringList suffixes;
    for (const FileType& type : saveTypes) suffixes.push_back(QString::fromLatin1(type.patterns).mid(2));
    const FileRequest request{QStringLiteral("Save File"), fromPath(session->saveDirectory),
                              QStringLiteral("Untitled"), filtersOf(saveTypes), suffixes};
    const std::optional<QString> answer = dialogs_.saveFileName(this, request);
    if (!answer) return 0;
    const QByteArray file = QFile::encodeName(QFileInfo(*answer).absoluteFilePath());
    if (static_cast<size_t>(file.size()) >= pathBufferSize) {
        showMessage(saveError, "Error");
        return 0;
    }
    enterChosenFolder(*answer);
    if (!saveImageTo(file.constData())) {
        showMessage("There was an error writing the file.", "Warning");
        return 0;
    }
    return 1;
}
