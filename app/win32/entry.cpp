// The program's entry: the Session and the Preview window class around the
// modal main dialog.
#include "app/win32/quorvel_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    findModuleDirectory();
    instanceHandle = instance;
    if (!registerPreviewClass()) {
        showMessage("Failed to register Preview window.", "Error");
        return 0;
    }
    session = createSession();
    if (!session) return 0;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), GetDesktopWindow(), mainDialogProc, 0);
    destroyPreview();
    destroySession(session);
    session = nullptr;
    return 0;
}
