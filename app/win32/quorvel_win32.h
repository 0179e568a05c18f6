// The Windows front end: the main dialog, the Open and Save commands, the
// Preview window and the dialog's thumbnail, over the Session of app/.
#pragma once

#include <windows.h>

#include "app/session.h"
#include "resources/resource.h"

// The Open dialog's file-name buffer; a chosen path must still fit the
// Session's path fields (pathBufferSize) to be used.
inline constexpr size_t openNameBufferSize = 260;

extern HINSTANCE instanceHandle;
extern HWND previewWindow;  // used only while previewOpen is 1
extern int previewOpen;

// Every message of the program: warning icon, one OK button, owned by the
// window that has the keyboard focus.
void showMessage(const char* text, const char* caption);

// Main dialog.
INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
int syncControls(HWND dialog);
int readScale(HWND dialog);
BOOL centreWindow(HWND window, HWND reference);

// Open and Save. chooseOpenFile shows the Open dialog; when the user chose a
// file that fits the path fields it remembers the folder in openDirectory,
// copies the path into `chosen` and returns true.
bool chooseOpenFile(HWND owner, char (&chosen)[openNameBufferSize]);
int saveCurrentImage(HWND owner);

// Preview window and thumbnail.
int registerPreviewClass();
int showPreview();
void fitPreviewToImage();
void repaintPreview();
void destroyPreview();
LRESULT CALLBACK previewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void paintPreview(HWND window);
void paintThumbnail(HWND dialog);

// Where a bw x bh thumbnail is drawn in a W x H control: scaled to fit with
// its proportions kept, centred.
RECT thumbnailPlacement(int controlWidth, int controlHeight, int bitmapWidth, int bitmapHeight);
