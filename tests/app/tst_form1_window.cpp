// Tests of the main window's layout, fonts, texts and display states.
#include "ActivityInd.h"
#include "AutoSizeLabel.h"
#include "FormRig.h"

#include <QAction>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QToolBar>
#include <QtTest>

class TestForm1Window : public QObject {
    Q_OBJECT
private slots:
    void widgetsSitWhereTheLayoutSays_data();
    void widgetsSitWhereTheLayoutSays();
    void fonts_data();
    void fonts();
    void startUpTexts();
    void displayStates_data();
    void displayStates();
    void labelsSizeThemselves();
    void toolbarButtons();
    void comPortMenu();
};

void TestForm1Window::widgetsSitWhereTheLayoutSays_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("pixels");
    // Twips divided by 15, measured from the top left of the area under the menu bar.
    QTest::newRow("Frame1") << "Frame1" << QRect(8, 64, 761, 41);
    QTest::newRow("Text_Filename in Frame1") << "Text_Filename" << QRect(96, 11, 657, 25);
    QTest::newRow("Label_Type in Frame1") << "Label_Type" << QRect(24, 15, 65, 17);
    QTest::newRow("Activity1") << "Activity1" << QRect(8, 124, 113, 105);
    QTest::newRow("lblZeit") << "lblZeit" << QRect(468, 136, 297, 73);
    QTest::newRow("ProgressBar1") << "ProgressBar1" << QRect(8, 248, 713, 25);
    QTest::newRow("Label1") << "Label1" << QRect(732, 248, 81, 25);
    QTest::newRow("StatusBar1") << "StatusBar1" << QRect(0, 276, 826, 25);
    QTest::newRow("Toolbar1") << "Toolbar1" << QRect(0, 0, 826, 58);
}

void TestForm1Window::widgetsSitWhereTheLayoutSays() {
    QFETCH(QString, name);
    QFETCH(QRect, pixels);
    FormRig rig;
    Form1& form = rig.start();
    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), pixels);
    QCOMPARE(form.centralWidget()->size(), QSize(826, 301));
}

void TestForm1Window::fonts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");
    QTest::newRow("Label_title") << "Label_title" << 18.0 << true;
    QTest::newRow("Label_englisch") << "Label_englisch" << 12.0 << false;
    QTest::newRow("Label_deutsch") << "Label_deutsch" << 12.0 << false;
    QTest::newRow("lblZeit") << "lblZeit" << 48.0 << true;
    QTest::newRow("Label1") << "Label1" << 14.25 << true;
    QTest::newRow("Label_Type") << "Label_Type" << 9.75 << true;
    QTest::newRow("status panel") << "StatusBar1_Panel2" << 9.75 << true;
}

void TestForm1Window::fonts() {
    QFETCH(QString, name);
    QFETCH(qreal, points);
    QFETCH(bool, bold);
    FormRig rig;
    Form1& form = rig.start();
    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->font().family(), QStringLiteral("Arial"));
    QCOMPARE(widget->font().pointSizeF(), points);
    QCOMPARE(widget->font().bold(), bold);
}

void TestForm1Window::startUpTexts() {
    FormRig rig;
    Form1& form = rig.start();
    QCOMPARE(form.windowTitle(), QStringLiteral("Kestrune Update Utility"));
    QCOMPARE(form.Label_title->text(), QStringLiteral("Ready"));
    QCOMPARE(form.Label_englisch->text(), QStringLiteral("To start update procedure press Update button"));
    QCOMPARE(form.Label_deutsch->text(),
             QStringLiteral("Um den Update-Vorgang zu starten, Update Button drücken"));
    QCOMPARE(form.Label_title->palette().color(QPalette::WindowText), QColor(Qt::black));
    QCOMPARE(form.Label1->text(), QStringLiteral("0%"));
    QCOMPARE(form.lblZeit->text(), QStringLiteral("0:00:00"));
    QCOMPARE(form.statusPanelText(1), QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    QCOMPARE(form.statusPanelText(2), QString());
    QCOMPARE(form.statusPanelText(3), QStringLiteral("V1.3.0"));
    QCOMPARE(form.Text_Filename->text(), QString());
    QCOMPARE(form.Activity1->Style(), 3);
    QCOMPARE(form.Activity1->ForeColor(), 0xC000u);
    QCOMPARE(form.ProgressBar1->value(), 0);
    QVERIFY(!form.ExpertMode);
    QVERIFY(!form.ComTestRunning);
}

void TestForm1Window::displayStates_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("running") << int(DisplayState::Running) << "Running"
                             << "Update in progress, please wait" << QColor(255, 0, 0);
    QTest::newRow("error") << int(DisplayState::Error) << "Error"
                           << "Update error. Automatical restart, please wait" << QColor(255, 0, 0);
    QTest::newRow("success") << int(DisplayState::Success) << "Update Successful / Update erfolgreich"
                             << "" << QColor(0, 192, 0);
    // The check and the warning keep the headline's colour: black after ready.
    QTest::newRow("warning") << int(DisplayState::Warning) << "Warning"
                             << "Please turn setup switch to ON to proceed" << QColor(0, 0, 0);
}

void TestForm1Window::displayStates() {
    QFETCH(int, state);
    QFETCH(QString, title);
    QFETCH(QString, english);
    QFETCH(QColor, colour);
    FormRig rig;
    Form1& form = rig.start();
    form.showState(DisplayState(state));
    QCOMPARE(form.Label_title->text(), title);
    QCOMPARE(form.Label_englisch->text(), english);
    QCOMPARE(form.Label_title->palette().color(QPalette::WindowText), colour);
    if (english.isEmpty())
        QCOMPARE(form.Label_deutsch->text(), QString());
}

void TestForm1Window::labelsSizeThemselves() {
    FormRig rig;
    Form1& form = rig.start();
    form.showState(DisplayState::Ready);
    const QRect ready = form.Label_englisch->geometry();
    form.showState(DisplayState::Warning);
    const QRect warning = form.Label_englisch->geometry();
    QCOMPARE(warning.left(), ready.left());
    QVERIFY(warning.width() < ready.width());
    form.showState(DisplayState::Ready);
    QCOMPARE(form.Label_englisch->geometry(), ready);
    form.showState(DisplayState::Success);
    QVERIFY(form.Label_englisch->width() < warning.width());
    QCOMPARE(form.Label_englisch->x(), 128);
}

void TestForm1Window::toolbarButtons() {
    FormRig rig;
    Form1& form = rig.start();
    struct Button {
        int index;
        const char* caption;
        bool visible;
    };
    const Button expected[] = {
        {3, "Add File", false}, {4, "Update", true}, {5, "Expert", true}, {7, "Exit", true}};
    for (const Button& b : expected) {
        QAction* action = form.toolbarButton(b.index);
        QVERIFY(action);
        QCOMPARE(action->text(), QString::fromLatin1(b.caption));
        QCOMPARE(action->isVisible(), b.visible);
        QVERIFY(!action->icon().isNull());
        QCOMPARE(action->icon().availableSizes().value(0), QSize(32, 32));
    }
    QVERIFY(!form.toolbarButton(1)->isVisible());
    QVERIFY(!form.toolbarButton(2)->isVisible());
    QVERIFY(form.toolbarButton(6)->isSeparator());
    QVERIFY(form.toolbarButton(4)->isEnabled());
    QCOMPARE(form.Toolbar1->actions().indexOf(form.toolbarButton(4)), 3);
}

void TestForm1Window::comPortMenu() {
    FormRig rig({2, 5});
    Form1& form = rig.start();
    QCOMPARE(form.Comport->title(), QStringLiteral("Com Port"));
    QCOMPARE(form.comItem(0)->text(), QStringLiteral("No Com Ports"));
    for (int i = 1; i <= 9; ++i) {
        QCOMPARE(form.comItem(i)->text(), QStringLiteral("Com%1").arg(i));
        QCOMPARE(form.comItem(i)->isVisible(), i == 2 || i == 5);
        if (form.comItem(i)->isVisible())
            QVERIFY(form.comItem(i)->isEnabled());
        QVERIFY(!form.comItem(i)->isChecked());
    }
    QVERIFY(!form.comItem(0)->isVisible());
}

QTEST_MAIN(TestForm1Window)
#include "tst_form1_window.moc"
