// The Open and Save commands: the system's file dialogs around loading and
// writing, which app/ does.
#include "app/win32/quorvel_win32.h"

#include <commdlg.h>

#include <cstring>
#include <string>

namespace {

constexpr char openFilter[] =
    "Supported files (*.bmp,*.tga,*.pcx,*.psd,*.dds,*.ppm,*.pgm,*.pbm,*.png,*.jpg,*.jpeg,*.tif,*.tiff)\0"
    "*.bmp;*.tga;*.pcx;*.psd;*.dds;*.ppm;*.pgm;*.pbm;*.png;*.jpg;*.jpeg;*.tif;*.tiff\0"
    "Bitmap files (*.bmp)\0*.bmp\0"
    "Targa files (*.tga)\0*.tga\0"
    "PCX files (*.pcx)\0*.pcx\0"
    "Photoshop files (*.psd)\0*.psd\0"
    "DDS files (*.dds)\0*.dds\0"
    "Portable Pixel Format files (*.ppm)\0*.ppm\0"
    "Portable Grayscale Format files (*.pgm)\0*.pgm\0"
    "Portable Bitmap Format files (*.pbm)\0*.pbm\0"
    "PNG files (*.png)\0*.png\0"
    "JPEG files (*.jpg,*.jpeg)\0*.jpg;*.jpeg\0"
    "TIFF files (*.tif,*.tiff)\0*.tif;*.tiff\0"
    "All files (*.*)\0*.*\0";
// The file is written in the format its extension names (saveImageTo), BMP
// when it names none of these.
constexpr char saveFilter[] =
    "Bitmap files (*.bmp)\0*.bmp\0"
    "PNG files (*.png)\0*.png\0"
    "Targa files (*.tga)\0*.tga\0"
    "TIFF files (*.tif)\0*.tif\0"
    "DDS files (*.dds)\0*.dds\0";

constexpr char openError[] = "There was an error opening the file.";
constexpr char saveError[] = "There was an error saving the file.";

// Makes the folder of the chosen file the current directory, as the dialogs
// do on Windows when the user browses to it. Wine's leave the current
// directory alone when a full path is typed, so it is set here from the path
// itself; the folder is then remembered from the current directory.
void enterChosenFolder(const OPENFILENAMEA& dialog) {
    if (dialog.nFileOffset == 0) return;
    std::string folder(dialog.lpstrFile, dialog.nFileOffset);
    platformSetCurrentDirectory(folder.c_str());
}

// The fields the Open and Save dialogs share: the first filter chosen, the
// name and title buffers, the starting folder and the caption.
template <size_t size>
OPENFILENAMEA fileDialog(HWND owner, const char* filter, char (&file)[size], char (&title)[size],
                         const char* folder, const char* caption) {
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.hInstance = instanceHandle;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = static_cast<DWORD>(size);
    dialog.lpstrFileTitle = title;
    dialog.nMaxFileTitle = static_cast<DWORD>(size);
    dialog.lpstrInitialDir = folder;
    dialog.lpstrTitle = caption;
    return dialog;
}

}  // namespace

bool chooseOpenFile(HWND owner, char (&chosen)[openNameBufferSize]) {
    if (!session) return false;
    platformSetCurrentDirectory(session->openDirectory);
    char file[openNameBufferSize] = "Untitled";
    char title[openNameBufferSize] = {};
    OPENFILENAMEA dialog = fileDialog(owner, openFilter, file, title, session->openDirectory, "Open File");
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&dialog)) {
        if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) showMessage(openError, "Error");
        return false;
    }
    // A path the dialog could hold but the path fields cannot is refused as
    // one the dialog could not hold, before anything is remembered.
    if (std::strlen(file) >= pathBufferSize) {
        showMessage(openError, "Error");
        return false;
    }
    enterChosenFolder(dialog);
    char current[pathBufferSize] = {};
    if (platformCurrentDirectory(current, sizeof current)) rememberDirectory(session->openDirectory, current);
    std::memcpy(chosen, file, sizeof file);
    return true;
}

int saveCurrentImage(HWND owner) {
    if (!session || !session->loaded) {
        showMessage("Nothing loaded.", "Warning");
        return 0;
    }
    platformSetCurrentDirectory(session->saveDirectory);
    char file[pathBufferSize] = "Untitled";
    char title[pathBufferSize] = "Untitled";
    OPENFILENAMEA dialog = fileDialog(owner, saveFilter, file, title, session->saveDirectory, "Save File");
    dialog.lpstrDefExt = "bmp";
    // No OFN_FILEMUSTEXIST: saving is how a new file comes to exist.
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&dialog)) {
        if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) showMessage(saveError, "Error");
        return 0;
    }
    enterChosenFolder(dialog);
    if (!saveImageTo(file)) {
        showMessage("There was an error writing the file.", "Warning");
        return 0;
    }
    return 1;
}
