// The program's entry: the Session around the main window. A file named on
// the command line opens at the start.
#include <QApplication>
#include <QStringList>
#include <QIcon>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "app/qt/main_window.h"
#include "app/qt/user_dialogs.h"
#include "app/session.h"

namespace {

constexpr char usage[] =
    "Usage: quorvel [--qt-file-dialogs] [FILE]\n"
    "Opens FILE (BMP, TGA, PCX, PSD, DDS, KTX2, PPM, PGM, PBM, PNG or JPEG) in the Quorvel window.\n"
    "  --qt-file-dialogs  use Qt's own file dialogs instead of the desktop's\n";

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Qt takes the user's locale for the C library too; the scale field is
    // read and written with a decimal point whatever the locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("quorvel"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quorvel.ico")));

    QString file;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--qt-file-dialogs")) {
            QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        } else if (argument == QLatin1String("--help")) {
            std::fputs(usage, stdout);
            return 0;
        } else if (argument.startsWith(QLatin1Char('-')) || !file.isEmpty()) {
            std::fputs(usage, stderr);
            return 2;
        } else {
            file = argument;
        }
    }

    // The folders the file dialogs start in: the current directory, where a
    // Linux program is started from, rather than the executable's.
    char current[pathBufferSize] = {};
    platformCurrentDirectory(current, sizeof current);
    composeModuleDirectory(nullptr, current, pathSeparator, moduleDirectory);
    session = createSession();
    if (!session) return 1;
    int status = 0;
    {
        QtUserDialogs dialogs;
        MainWindow window(dialogs);
        window.show();
        if (!file.isEmpty()) window.openFile(file);
        status = QApplication::exec();
    }
    destroySession(session);
    session = nullptr;
    return status;
}
