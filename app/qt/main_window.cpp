#include "app/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "app/apply_run.h"
#include "app/qt/dialog_layout.h"
#include "app/qt/height_panel.h"
#include "app/qt/user_dialogs.h"
#include "app/qt/views.h"
#include "app/session.h"
#include "check/diagnose.h"
#include "check/measure.h"
#include "generate/height_field.h"
#include "readers/readers.h"
#include "resources/resource.h"

QString conventionLine(const ConventionGuess& guess) {
    const float confidence = guess.confidence >= 0.0f ? guess.confidence : 0.0f;  // NaN too
    const int percent = confidence >= 1.0f ? 100 : static_cast<int>(std::lround(confidence * 100.0f));
    switch (guess.convention) {
        case GreenConvention::openGl: return QStringLiteral("Looks like OpenGL (Y+), %1% sure").arg(percent);
        case GreenConvention::directX: return QStringLiteral("Looks like DirectX (Y-), %1% sure").arg(percent);
        case GreenConvention::unknown: break;
    }
    const std::string reason = unknownReasonText(guess);
    if (reason.empty()) return QStringLiteral("Green convention unclear");
    return QStringLiteral("Green convention unclear: %1").arg(QString::fromStdString(reason));
}

QString findingsPart(const Image& image, const ConventionGuess& guess) {
    uint32_t findings = diagnose(measureMap(image)).findings;
    // The convention's reason already says so.
    if (guess.convention == GreenConvention::unknown && guess.reason == UnknownReason::notNormalMap)
        findings &= ~findingNotANormalMap;
    return findings ? QStringLiteral("; ") + QString::fromStdString(findingPhrase(findings)) : QString();
}

namespace {

template <typename Widget>
Widget* childNamed(const QWidget* parent, const char* name) {
    return parent->findChild<Widget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

// The local file a drag carries, or an empty string.
QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().isEmpty()) return {};
    const QUrl url = data->urls().front();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

MainWindow::MainWindow(UserDialogs& dialogs) : QWidget(nullptr, Qt::Window), dialogs_(dialogs) {
    setWindowTitle(QStringLiteral(QUORVEL_DIALOG_CAPTION));
    QFont dialogFont = font();
    dialogFont.setPointSizeF(dialogFontPoints);
    setFont(dialogFont);
    setAcceptDrops(true);
    createMenus();
    createControls();
    createActions();
    preview_ = new PreviewWindow();
    syncControls();
    open_->setFocus();
    centreOnScreen();
}

// Centred on the screen, as the Windows dialog starts, but never off its
// left or top edge.
void MainWindow::centreOnScreen() {
    if (!screen()) return;
    const QRect area = screen()->geometry();
    move(area.left() + std::max(0, (area.width() - width()) / 2),
         area.top() + std::max(0, (area.height() - height()) / 2));
}

MainWindow::~MainWindow() { delete preview_; }

// The File menu above the dialog's controls, with the keys of its commands.
void MainWindow::createMenus() {
    menuBar_ = new QMenuBar(this);
    menuBar_->setObjectName(QStringLiteral("menuBar"));
    QMenu* file = menuBar_->addMenu(QStringLiteral("&File"));
    const struct {
        const char* text;
        QKeySequence keys;
        void (MainWindow::*command)();
    } commands[] = {
        {"&Open...", QKeySequence(Qt::CTRL | Qt::Key_O), &MainWindow::onOpen},
        {"Open &Height Map...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), &MainWindow::onOpenHeightMap},
        {"&Save...", QKeySequence(Qt::CTRL | Qt::Key_S), &MainWindow::onSave},
        {"&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q), nullptr},
    };
    for (const auto& entry : commands) {
        if (!entry.command) file->addSeparator();
        QAction* action = file->addAction(QString::fromLatin1(entry.text));
        action->setShortcut(entry.keys);
        if (entry.command)
            connect(action, &QAction::triggered, this, entry.command);
        else
            connect(action, &QAction::triggered, this, &QWidget::close);
    }
    // A desktop that shows menus in a bar of its own takes them there.
    clientTop_ = menuBar_->isNativeMenuBar() ? 0 : menuBar_->sizeHint().height();
}

void MainWindow::createControls() {
    const double dpi = screen() ? screen()->logicalDotsPerInchY() : 96.0;
    for (const DialogControl& control : dialogControls) {
        const QString text = QString::fromLatin1(control.text);
        QWidget* widget = nullptr;
        switch (control.kind) {
            case ControlKind::pushButton: {
                // Enter presses the focused button, as in a dialog.
                auto* button = new QPushButton(text, this);
                button->setAutoDefault(true);
                widget = button;
                break;
            }
            case ControlKind::groupBox: widget = new QGroupBox(text, this); break;
            case ControlKind::thumbnail: widget = thumbnail_ = new ThumbnailView(this); break;
            case ControlKind::checkBox: widget = new QCheckBox(text, this); break;
            case ControlKind::label: widget = new QLabel(text, this); break;
            case ControlKind::edit: widget = scale_ = new QLineEdit(this); break;
        }
        widget->setObjectName(QString::fromLatin1(control.name));
        widget->setGeometry(
            dialogUnitsToPixels({control.x, control.y, control.width, control.height}, dpi).translated(0, clientTop_));
    }
    open_ = childNamed<QPushButton>(this, "IDC_OPEN");
    save_ = childNamed<QPushButton>(this, "IDC_SAVE");
    quit_ = childNamed<QPushButton>(this, "IDCANCEL");
    showPreview_ = childNamed<QPushButton>(this, "IDC_PREVIEW");
    apply_ = childNamed<QPushButton>(this, "IDC_APPLY");
    invertRed_ = childNamed<QCheckBox>(this, "IDC_INVERT_RED");
    invertGreen_ = childNamed<QCheckBox>(this, "IDC_INVERT_GREEN");
    invertBlue_ = childNamed<QCheckBox>(this, "IDC_INVERT_BLUE");
    renormalize_ = childNamed<QCheckBox>(this, "IDC_RENORMALIZE");
    convention_ = childNamed<QLabel>(this, "convention");
    const QSize client = dialogUnitsToPixels({0, 0, dialogWidthUnits, dialogHeightUnits}, dpi).size();
    menuBar_->setGeometry(0, 0, client.width(), clientTop_);
    setFixedSize(client.width(), client.height() + clientTop_);

    connect(open_, &QPushButton::clicked, this, &MainWindow::onOpen);
    connect(save_, &QPushButton::clicked, this, &MainWindow::onSave);
    connect(quit_, &QPushButton::clicked, this, &QWidget::close);
    connect(showPreview_, &QPushButton::clicked, this, &MainWindow::onPreview);
    connect(apply_, &QPushButton::clicked, this, &MainWindow::onApply);
    const struct {
        QCheckBox* box;
        int32_t AdjustOptions::*option;
    } boxes[] = {
        {invertRed_, &AdjustOptions::invertRed},
        {invertGreen_, &AdjustOptions::invertGreen},
        {invertBlue_, &AdjustOptions::invertBlue},
        {renormalize_, &AdjustOptions::renormalize},
    };
    for (const auto& entry : boxes)
        connect(entry.box, &QCheckBox::clicked, this,
                [this, entry](bool ticked) { onOptionBox(entry.box, entry.option, ticked); });
}

// The keyboard's ways to the commands beyond the menu's: Escape quits as it
// ends the Windows dialog; Enter does nothing, as there.
void MainWindow::createActions() {
    auto* escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    escape->setShortcutContext(Qt::WindowShortcut);
    connect(escape, &QAction::triggered, this, &QWidget::close);
    addAction(escape);
}

void MainWindow::syncControls() {
    if (!session) return;
    const AdjustOptions& options = session->options;
    scale_->setText(QString::asprintf("%.5f", static_cast<double>(options.scale)));
    invertRed_->setChecked(options.invertRed == 1);
    invertGreen_->setChecked(options.invertGreen == 1);
    invertBlue_->setChecked(options.invertBlue == 1);
    renormalize_->setChecked(options.renormalize == 1);
    scale_->setEnabled(options.renormalize == 1);
    apply_->setEnabled(options.renormalize == 1);
}

void MainWindow::readScale() {
    if (!session) return;
    session->options.scale = parseScaleText(scale_->text().toLocal8Bit().constData());
}

void MainWindow::refreshViews() {
    thumbnail_->update();
    GreenConvention detected = GreenConvention::unknown;
    if (session && session->loaded == 1) {
        const ConventionGuess guess = detectGreenConvention(session->image);
        convention_->setText(conventionLine(guess) + findingsPart(session->image, guess));
        detected = guess.convention;
    } else {
        convention_->setText(QString());
    }
    preview_->imageChanged(detected);
    preview_->fitToImage();
}

void MainWindow::showMessage(const char* text, const char* caption) {
    QWidget* owner = QApplication::activeWindow();
    dialogs_.message(owner ? owner : this, QString::fromLatin1(text), QString::fromLatin1(caption),
                     MessageIcon::warning);
}

void MainWindow::openFile(const QString& path) {
    if (!session) return;
    // Kept whole: the file dialogs change the current directory, and every
    // Apply reads the file again by this name.
    const QByteArray name = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    if (!loadOpenFile(name.constData())) showMessage("Failed to load open file.", "Error");
    syncControls();
    refreshViews();
}

void MainWindow::onOpen() {
    if (!session) return;
    std::string chosen;
    if (chooseOpenFile(chosen, QStringLiteral("Open File")) && !loadOpenFile(chosen.c_str()))
        showMessage("Failed to load open file.", "Error");
    syncControls();
    refreshViews();
}

// Reads the chosen picture as heights and opens the panel over the window;
// the shown picture changes only on the panel's OK. A file that cannot be
// read gives the Open command's message.
void MainWindow::onOpenHeightMap() {
    if (!session) return;
    std::string chosen;
    if (!chooseOpenFile(chosen, QStringLiteral("Open Height Map"))) return;
    Image picture{};
    if (!readImageFile(chosen.c_str(), &picture)) {
        resetImage(&picture);
        showMessage("Failed to load open file.", "Error");
        return;
    }
    HeightField field;
    GenerateError error = GenerateError::none;
    const bool read = heightFieldFromImage(picture, HeightChannel::automatic, &field, &error);
    resetImage(&picture);
    if (!read) {
        const std::string text = std::string("Failed to make a normal map: ") + generateErrorText(error) + ".";
        showMessage(text.c_str(), "Error");
        return;
    }
    const QString name = QFileInfo(QFile::decodeName(chosen.c_str())).fileName();
    auto* panel = new HeightMapPanel(field, name, heightOptions_, this);
    connect(panel, &QDialog::accepted, this, [this, panel, chosen] { adoptHeightMap(*panel, chosen); });
    panel->open();
}

void MainWindow::adoptHeightMap(const HeightMapPanel& panel, const std::string& heightFile) {
    if (!session) return;
    Image map{};
    GenerateError error = GenerateError::none;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool made = panel.makeMap(&map, &error);
    if (!made || !adoptMadeMap(&map, heightFile.c_str())) {
        if (made) error = GenerateError::noMemory;
        resetImage(&map);
        QApplication::restoreOverrideCursor();
        const std::string text = std::string("Failed to make a normal map: ") + generateErrorText(error) + ".";
        showMessage(text.c_str(), "Error");
        return;
    }
    heightOptions_ = panel.options();
    syncControls();
    refreshViews();
    QApplication::restoreOverrideCursor();
}

void MainWindow::onSave() {
    if (!session) return;
    syncControls();
    buildThumbnail();
    refreshViews();
    saveCurrentImage();
}

void MainWindow::onPreview() {
    syncControls();
    buildThumbnail();
    thumbnail_->update();
    if (!session || !session->loaded) {
        showMessage("Nothing loaded.  Try opening a file first.", "Warning");
        return;
    }
    preview_->showImage();
}

void MainWindow::onApply() {
    if (!session) return;
    readScale();
    syncControls();
    applyAdjustments();
    refreshViews();
}

// A click on one of the four option boxes: the option follows the box, and
// the image is adjusted again at once.
void MainWindow::onOptionBox(QCheckBox* box, int32_t AdjustOptions::*option, bool ticked) {
    if (!session) return;
    session->options.*option = ticked ? 1 : 0;
    if (box == renormalize_) {
        scale_->setEnabled(ticked);
        apply_->setEnabled(ticked);
    }
    applyAdjustments();
    refreshViews();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    preview_->close();
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    openFile(path);
}
