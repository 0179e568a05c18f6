// The window's layout against the Windows dialog template itself: every
// control of resources/quorvel.rc in its place under the menu bar, with its
// text and kind; the conversion of dialog units at several screen densities;
// the caption.
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include "app/qt/dialog_layout.h"
#include "app/qt/views.h"
#include "resources/resource.h"
#include "tests/qt/support.h"

namespace {

struct TemplateControl {
    QString text, id, className, style;
    QRect units;
};

// The CONTROL lines of dialog 102 and its size, as the resource compiler
// reads them.
struct DialogTemplate {
    QSize units;
    QString caption;
    std::vector<TemplateControl> controls;
};

DialogTemplate readTemplate() {
    QFile file(QStringLiteral(QUORVEL_SOURCE_DIR "/resources/quorvel.rc"));
    DialogTemplate result;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return result;
    const QString script = QString::fromLatin1(file.readAll());
    const QRegularExpression dialog(QStringLiteral("IDD_MAIN DIALOG\\s+\\d+,\\s*\\d+,\\s*(\\d+),\\s*(\\d+)"));
    const QRegularExpressionMatch size = dialog.match(script);
    if (size.hasMatch()) result.units = QSize(size.captured(1).toInt(), size.captured(2).toInt());
    const QRegularExpression caption(QStringLiteral("\\nCAPTION\\s+(\\S+)"));
    result.caption = caption.match(script).captured(1);
    const QRegularExpression control(QStringLiteral(
        "CONTROL\\s+\"([^\"]*)\",\\s*([\\w-]+),\\s*\"(\\w+)\",\\s*([^,]+),\\s*(\\d+),\\s*(\\d+),\\s*(\\d+),\\s*(\\d+)"));
    for (auto it = control.globalMatch(script); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        result.controls.push_back({m.captured(1), m.captured(2), m.captured(3), m.captured(4).simplified(),
                                   QRect(m.captured(5).toInt(), m.captured(6).toInt(), m.captured(7).toInt(),
                                         m.captured(8).toInt())});
    }
    return result;
}

// The widget a template control becomes, told by its class and style.
bool isWidgetFor(const TemplateControl& control, QWidget* widget) {
    if (control.className == QLatin1String("EDIT")) return qobject_cast<QLineEdit*>(widget);
    if (control.style.contains(QLatin1String("BS_GROUPBOX"))) return qobject_cast<QGroupBox*>(widget);
    if (control.style.contains(QLatin1String("BS_AUTOCHECKBOX"))) return qobject_cast<QCheckBox*>(widget);
    if (control.style.contains(QLatin1String("BS_PUSHBUTTON"))) return qobject_cast<QPushButton*>(widget);
    if (control.style.contains(QLatin1String("SS_OWNERDRAW"))) return dynamic_cast<ThumbnailView*>(widget);
    if (control.className == QLatin1String("STATIC")) return qobject_cast<QLabel*>(widget);
    return false;
}

QString shownText(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    return {};
}

// Dialog units as Windows turns them into pixels for 8-point MS Sans Serif
// at 96 dpi (base units 6 x 13), each value by MulDiv.
int across(int units) { return (units * 6 + 2) / 4; }
int down(int units) { return (units * 13 + 4) / 8; }

}  // namespace

class LayoutTest : public QObject {
    Q_OBJECT
private slots:
    void everyTemplateControlIsInItsPlace() {
        const DialogTemplate dialog = readTemplate();
        QCOMPARE(dialog.controls.size(), size_t{15});
        WindowFixture fixture;
        // The template's client area starts under the menu bar, as a Windows
        // dialog's does under its menu.
        const int top = fixture.window->clientTop();
        auto* menuBar = fixture.control<QMenuBar>("menuBar");
        QVERIFY(menuBar);
        QVERIFY(top > 0);
        QCOMPARE(menuBar->geometry(), QRect(0, 0, across(dialog.units.width()), top));
        for (const TemplateControl& control : dialog.controls) {
            const QString name = control.id == QLatin1String("-1") ? control.text : control.id;
            auto* widget = fixture.control<QWidget>(qPrintable(name));
            QVERIFY2(widget, qPrintable(name));
            QVERIFY2(isWidgetFor(control, widget), qPrintable(name));
            const QRect expected(across(control.units.x()), top + down(control.units.y()),
                                 across(control.units.width()), down(control.units.height()));
            QCOMPARE(widget->geometry(), expected);
            // The scale field shows the scale, not the template's empty text.
            if (control.className != QLatin1String("EDIT")) QCOMPARE(shownText(widget), control.text);
        }
        QCOMPARE(fixture.window->size(), QSize(across(dialog.units.width()), top + down(dialog.units.height())));
    }

    void theThumbnailBoxIsTheThumbnailsSize() {
        WindowFixture fixture;
        auto* box = fixture.control<ThumbnailView>("IDC_THUMBNAIL");
        QCOMPARE(box->contentsRect().size(), QSize(298, 299));
    }

    void captionIsTheWindowsDialogs() {
        WindowFixture fixture;
        QCOMPARE(readTemplate().caption, QStringLiteral("QUORVEL_DIALOG_CAPTION"));
        QCOMPARE(fixture.window->windowTitle(), QStringLiteral("Quorvel v1.01 - https://quorvel.example.org"));
    }

    void dialogUnitsScaleWithTheScreen_data() {
        QTest::addColumn<QRect>("units");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QRect>("pixels");
        QTest::newRow("thumbnail at 96") << QRect(15, 20, 200, 185) << 96.0 << QRect(23, 33, 300, 301);
        QTest::newRow("window at 96") << QRect(0, 0, 292, 277) << 96.0 << QRect(0, 0, 438, 450);
        // 1.5 times: base units 9 x 19.5.
        QTest::newRow("thumbnail at 144") << QRect(15, 20, 200, 185) << 144.0 << QRect(34, 49, 450, 451);
        QTest::newRow("check box at 144") << QRect(10, 245, 85, 8) << 144.0 << QRect(23, 597, 191, 20);
        QTest::newRow("thumbnail at 192") << QRect(15, 20, 200, 185) << 192.0 << QRect(45, 65, 600, 601);
        QTest::newRow("scale field at 120") << QRect(155, 250, 45, 12) << 120.0 << QRect(291, 508, 84, 24);
    }
    void dialogUnitsScaleWithTheScreen() {
        QFETCH(QRect, units);
        QFETCH(double, dpi);
        QFETCH(QRect, pixels);
        QCOMPARE(dialogUnitsToPixels(units, dpi), pixels);
    }

    // Every text of the template fits its control in the window's font.
    void textsFitTheirControls() {
        WindowFixture fixture;
        for (QCheckBox* box : fixture.window->findChildren<QCheckBox*>()) {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const QRect textArea = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            QVERIFY2(box->fontMetrics().horizontalAdvance(box->text()) <= textArea.width(), qPrintable(box->text()));
        }
        for (QPushButton* button : fixture.window->findChildren<QPushButton*>()) {
            const int textWidth = button->fontMetrics().horizontalAdvance(button->text());
            QVERIFY2(textWidth < button->width(), qPrintable(button->text()));
        }
    }
};

QUORVEL_QT_TEST(LayoutTest);

#include "layout_test.moc"
