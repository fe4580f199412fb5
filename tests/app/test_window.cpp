#include "browserpane.h"
#include "faketransport.h"
#include "form1.h"
#include "readinggrid.h"
#include "resizerule.h"
#include "stationfont.h"
#include "traffic.h"
#include "trafficmodel.h"
#include "trafficwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOption>
#include <QTest>
#include <QTextLayout>
#include <QTimer>

namespace {

// Where a control draws its text. A line edit keeps 2 pixels each side of its contents and one
// more for the cursor before it scrolls.
QRect lineEditRoom(QLineEdit *edit) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    return edit->style()
        ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
        .adjusted(2, 1, -3, -1);
}

QRect textRoom(QWidget *control, const QString &text) {
    QStyle *style = control->style();
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        return style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    }
    if (auto *list = qobject_cast<QComboBox *>(control))
        return lineEditRoom(list->lineEdit());
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        return lineEditRoom(edit);
    if (auto *label = qobject_cast<QLabel *>(control))
        return label->contentsRect();
    if (auto *panel = qobject_cast<QGroupBox *>(control)) {
        QStyleOptionGroupBox option;
        option.initFrom(panel);
        option.text = text;
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect label =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, panel);
        for (auto *child : panel->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (child->geometry().intersects(label))
                return {}; // a control covers the caption
        return label & panel->rect();
    }
    if (auto *grid = qobject_cast<ReadingGrid *>(control)) {
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
        return QRect(0, 0, grid->columnWidth(3) - 2 * margin, grid->rowHeight(1));
    }
    return {};
}

// Glyphs drawn for the text: one per character unless the face joins letters.
qsizetype glyphCount(const QString &text, const QFont &font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    qsizetype count = 0;
    for (const QGlyphRun &run : layout.glyphRuns())
        count += run.glyphIndexes().size();
    return count;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

    // Link 0's port opens, link 1's is missing.
    std::unique_ptr<Form1> makeForm(FakeTransport **port0 = nullptr,
                                    FakeTransport **port1 = nullptr) {
        auto *a = new FakeTransport;
        auto *b = new FakeTransport;
        b->openSucceeds = false;
        if (port0)
            *port0 = a;
        if (port1)
            *port1 = b;
        return std::make_unique<Form1>(std::array<SerialTransport *, 2>{a, b},
                                       Form1Options{QDir::tempPath() + "/test_window.csv"});
    }

private slots:
    void startUpState() {
        FakeTransport *port0, *port1;
        auto form = makeForm(&port0, &port1);
        QCOMPARE(form->ComA->currentText(), QStringLiteral("5"));
        QCOMPARE(form->ComA1->currentText(), QStringLiteral("10"));
        QCOMPARE(form->BoudRateA->currentText(), QStringLiteral("38400"));
        QCOMPARE(form->BoudRateA1->currentText(), QStringLiteral("38400"));
        QCOMPARE(port0->portNumber(), 5);
        QCOMPARE(port1->portNumber(), 10);
        QVERIFY(port0->isOpen());
        QCOMPARE(port1->opens, 1);
        QCOMPARE(form->cmd_coneck->text(), QStringLiteral("DisConnect"));
        QCOMPARE(form->cmd_coneck1->text(), QStringLiteral("Connect")); // missing port
        QCOMPARE(form->cmd_auto->text(), QStringLiteral("Auto"));
        QCOMPARE(form->cmd_auto1->text(), QStringLiteral("Auto"));
        QCOMPARE(form->PBScan->text(), QStringLiteral("Scan ON"));
        const QStringList ids0{"2", "60", "5", "6"}, ids1{"9", "10", "", ""};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(form->cheAID[i]->isChecked(), i == 0);
            QVERIFY(!form->cheAID1[i]->isChecked());
            QCOMPARE(form->txtaID[i]->text(), ids0[i]);
            QCOMPARE(form->txtaID1[i]->text(), ids1[i]);
            QCOMPARE(*form->tabel->cellText(0, 3 + i), "ID: " + ids0[i]);
            QCOMPARE(*form->tabel->cellText(0, 7 + i), "ID: " + ids1[i]);
        }
        QCOMPARE(*form->tabel->cellText(0, 2), QStringLiteral("ADDR: "));
        for (int k = 1; k <= 12; ++k)
            QCOMPARE(*form->tabel->cellText(k, 2), QString::number(1138 + k));
        QCOMPARE(*form->tabel->cellText(13, 2), QString());
        QCOMPARE(*form->tabel->cellText(14, 2), QString());
        QCOMPARE(form->Timer2->interval(), 1000);
        QCOMPARE(form->Timer3->interval(), 500);
        QVERIFY(form->Timer2->isActive());
        QCOMPARE(form->Timer1->interval(), 0);
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->Text1->text(), QStringLiteral("Text1"));
        QCOMPARE(form->txtPrint->text(), QString());
    }

    void windowChecksumPair() {
        auto form = makeForm();
        QVERIFY(form->CRC16(QByteArray::fromHex("02030473000C"), 6));
        QCOMPARE(form->crcHi, 0xB5);
        QCOMPARE(form->crcLo, 0x17);
        QVERIFY(!form->CRC16(QByteArray::fromHex("010300000001"), 8));
        QCOMPARE(form->crcHi, 0x84); // the CRC of the six bytes there are
        QCOMPARE(form->crcLo, 0x0A);
        QVERIFY(form->CRC16(QByteArray(), 0));
        QCOMPARE(form->crcHi, 0xFF);
        QCOMPARE(form->crcLo, 0xFF);
    }

    void gridRefusesCellsOutsideIt() {
        ReadingGrid grid;
        QVERIFY(grid.setCellText(14, 11, "x"));
        for (auto [r, c] : {std::pair{15, 0}, {-1, 3}, {3, 12}, {0, -1}}) {
            QVERIFY(!grid.setCellText(r, c, "y"));
            QVERIFY(!grid.cellText(r, c));
        }
        QVERIFY(!grid.setColumnWidthTwips(12, 700));
        QVERIFY(!grid.setColumnWidthTwips(-1, 700));
        QCOMPARE(*grid.cellText(14, 11), QStringLiteral("x"));
        QCOMPARE(*grid.cellText(5, 5), QString());
        // A slot's values: a blank, then the digits, from row 1; row 15 and on are skipped.
        std::vector<std::uint16_t> values(15, 7);
        values[0] = 1139, values[1] = 0, values[13] = 65535;
        showValues(grid, 3, values);
        QCOMPARE(*grid.cellText(1, 3), QStringLiteral(" 1139"));
        QCOMPARE(*grid.cellText(2, 3), QStringLiteral(" 0"));
        QCOMPARE(*grid.cellText(14, 3), QStringLiteral(" 65535"));
    }

    void controlsWhereTheyBelong() {
        auto form = makeForm();
        QCOMPARE(form->windowTitle(), QStringLiteral("Form1"));
        QCOMPARE(form->size(), QSize(888, 621));
        QCOMPARE(form->Frame4->geometry(), QRect(0, 8, 297, 369));
        QCOMPARE(form->cmd_auto->geometry(), QRect(8, 56, 57, 25));
        QCOMPARE(form->cmd_auto1->geometry(), QRect(8, 48, 57, 25));
        QCOMPARE(form->cheAID1[3]->geometry(), QRect(40, 96, 17, 17));
        QCOMPARE(form->cheAID1[3]->parentWidget(), form->Frame11);
        QCOMPARE(form->tabel->geometry(), QRect(304, 8, 561, 337));
        QCOMPARE(form->Text1->geometry(), QRect(312, 384, 497, 25));
        QCOMPARE(form->Frame1->title(), QStringLiteral(" Pielstick"));
        QCOMPARE(form->Frame14->title(), QString());
        QCOMPARE(form->Command3->text(), QStringLiteral("Refres"));
        QCOMPARE(form->findChild<QPushButton *>("cmd_coneck1"), form->cmd_coneck1);
        QCOMPARE(form->findChild<QLineEdit *>("txt_jumlahData")->text(), QStringLiteral("12"));
        // cmdAuto lies wholly below its panel's lower edge, so the panel clips it away.
        QVERIFY(!form->Frame2->rect().intersects(form->cmdAuto->geometry()));
        QCOMPARE(form->ComA->count(), 15);
        QVERIFY(form->ComA->isEditable());
        QCOMPARE(form->BoudRateA1->itemText(2), QStringLiteral("115200"));
    }

    // The bitmap face at 1x; on a scaled screen (run again with QT_SCALE_FACTOR 1.5 and 2) a face
    // that scales with the controls.
    void windowUsesTheDialogFace() {
        const double scale =
            qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
        QCOMPARE(qApp->devicePixelRatio(), scale); // the run is scaled as asked
        auto form = makeForm();
        const QFontInfo face(form->font());
        if (scale == 1.0)
            QCOMPARE(face.family(), QStringLiteral("MS Sans Serif"));
        else
            QVERIFY2(QFontDatabase::isSmoothlyScalable(face.family(), face.styleName()),
                     qPrintable(face.family()));
        QCOMPARE(form->tabel->font(), form->font());
    }

    // Every caption, label and list value in each state it takes, whole in its control, in the
    // window's face and in the fall-back face.
    void everyTextFitsItsControl_data() {
        QTest::addColumn<QStringList>("texts");
        const QStringList ports{"1", "2",  "3",  "4",  "5",  "6",  "7", "8",
                                "9", "10", "11", "12", "13", "14", "15"};
        const QList<std::pair<const char *, QStringList>> rows{
            {"cmd_coneck", {"Connect", "DisConnect"}},
            {"cmd_auto", {"Auto", "Manual"}},
            {"cmdTest", {"Test"}},
            {"PBScan", {"Scan ON", "Scan OFF"}},
            {"Command5", {"GGO"}},
            {"Command1", {"Forward"}},
            {"Command3", {"Refres"}},
            {"Label1", {"Com          :"}},
            {"Label4", {"BoudRate :"}},
            {"Label9", {"Start Addres"}},
            {"Label10", {"Panjang"}},
            {"Label5", {"Label5", "Done", "Loading 100%"}},
            {"ComA", ports},
            {"BoudRateA", {"9600", "38400", "115200"}},
            {"Frame4", {"Frame4"}},
            {"Frame6", {"Frame6"}},
            {"Frame1", {" Pielstick"}},
            {"Frame5", {"SWD9TM"}},
            {"Frame11", {"ID"}},
            {"Frame2", {"Frame2"}},
            {"txtaID", {"247"}},
            {"txt_addr", {"65535"}},
            {"tabel", {"ADDR: ", "ID: 247", "65535"}},
        };
        for (const auto &[name, texts] : rows)
            QTest::newRow(name) << texts;
    }
    void everyTextFitsItsControl() {
        QFETCH(QStringList, texts);
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        auto *control = form->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(control);
        for (const QFont &font : {form->font(), fallbackFont()}) {
            form->setFont(font);
            const QFontMetrics metrics(control->font());
            for (const QString &text : texts) {
                const QRect room = textRoom(control, text);
                QVERIFY2(metrics.horizontalAdvance(text) <= room.width() &&
                             metrics.height() <= room.height(),
                         qPrintable(QStringLiteral("\"%1\" in %2: %3x%4 in %5x%6")
                                        .arg(text, QFontInfo(control->font()).family())
                                        .arg(metrics.horizontalAdvance(text))
                                        .arg(metrics.height())
                                        .arg(room.width())
                                        .arg(room.height())));
                QCOMPARE(glyphCount(text, control->font()), text.size());
            }
        }
    }

    // A typed value is the list's text, but its entries stay the fixed ones.
    void typedValueIsUsedNotAdded_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("ComA") << "7";
        QTest::newRow("ComA1") << "16";
        QTest::newRow("BoudRateA") << "57600";
        QTest::newRow("BoudRateA1") << "38400";
    }
    void typedValueIsUsedNotAdded() {
        QFETCH(QString, typed);
        auto form = makeForm();
        auto *list = form->findChild<QComboBox *>(QString::fromLatin1(QTest::currentDataTag()));
        auto entries = [list] {
            QStringList texts;
            for (int i = 0; i < list->count(); ++i)
                texts << list->itemText(i);
            return texts;
        };
        const QStringList fixed = entries();
        list->lineEdit()->clear();
        QTest::keyClicks(list->lineEdit(), typed);
        QTest::keyClick(list->lineEdit(), Qt::Key_Return);
        QCOMPARE(list->currentText(), typed);
        QCOMPARE(entries(), fixed);
    }

    void browserFollowsTheWindow() {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        // At first show: as wide as the window, 7635 twips high, top-left fixed.
        QCOMPARE(form->WebBrowser1->geometry(), QRect(24, 456, 888, 509));
        form->resize(888, 800); // 12000 twips high
        QTRY_COMPARE_WITH_TIMEOUT(form->WebBrowser1->geometry(), QRect(24, 456, 888, 688), 5000);
    }

    void resizeRule() {
        const QRect start(24, 456, 257, 41);
        QCOMPARE(browserGeometry(start, 13320, 9315), QRect(24, 456, 888, 509));
        QCOMPARE(browserGeometry(start, 13320, 12000), QRect(24, 456, 888, 688));
        QCOMPARE(browserGeometry(start, 13320, 1680), QRect(24, 456, 888, 0));
        // Below 1680 (minimised): the width still follows, the height stays.
        QCOMPARE(browserGeometry(start, 3000, 0), QRect(24, 456, 200, 41));
        QCOMPARE(browserGeometry(start, 3000, 1665), QRect(24, 456, 200, 41));
    }

    void stopDoesNothingAndBackBeforeAnyPageDoesNothing() {
        auto form = makeForm();
        form->Command4->click();
        form->Command2->click();
        form->Command1->click();
        form->Command3->click();
        QVERIFY(!form->WebBrowser1->hasView());
    }

    // Ctrl+T opens the traffic window, which records link 0's poll while it is shown.
    void ctrlTOpensTrafficWindow() {
        FakeTransport *port0;
        auto form = makeForm(&port0);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QVERIFY(!form->traffic()->isRecording());
        QTest::keyClick(form.get(), Qt::Key_T, Qt::ControlModifier);
        auto *window = form->findChild<traffic::TrafficWindow *>();
        QVERIFY(window && window->isVisible());
        QVERIFY(form->traffic()->isRecording());
        form->cmdTest->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->model()->rowCount() >= 2, 5000); // request, time-out
        QCOMPARE(window->model()->entry(0).frame.bytes, QByteArray::fromHex("02030473000CB517"));
        window->close();
        QVERIFY(!form->traffic()->isRecording());
    }

    void unloadClosesBothPorts() {
        FakeTransport *port0, *port1;
        auto form = makeForm(&port0, &port1);
        port1->openSucceeds = true;
        form->cmd_coneck1->click();
        QVERIFY(port1->isOpen());
        form->show();
        form->close();
        QVERIFY(!port0->isOpen());
        QVERIFY(!port1->isOpen()); // the program ends with the window: both ports go
    }

    void refusedServerSettingSendsNothing() {
        qputenv("RTU_STATION_SERVER", "plant/x");
        auto form = makeForm();
        qunsetenv("RTU_STATION_SERVER");
        form->show();
        form->Command5->click();
        QVERIFY(!form->WebBrowser1->hasView());
        QCOMPARE(form->Text1->text(), QStringLiteral("Text1"));
        QCOMPARE(form->Label5->text(), QStringLiteral("Not sent"));
        QVERIFY(form->Label5->toolTip().contains("\"/\""));
        const auto *page = form->WebBrowser1->findChild<QLabel *>();
        QVERIFY(page && page->isVisible());
        QVERIFY(page->text().contains("RTU_STATION_SERVER is <code>plant/x</code>"));
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
