#include "Form_Filelist.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace {
const QStringList Names{"QVL-GEN-new.bin", "qvl-gen-mid.BIN", "QVL-GEN-a-old.bin"};

// Through the window, as the platform delivers it: press, release, press, double-click, release.
void doubleClickAt(QListWidget* list, const QPoint& inViewport) {
    QWidget* window = list->window();
    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                       list->viewport()->mapTo(window, inViewport));
}

void doubleClickEntry(QListWidget* list, int row) {
    doubleClickAt(list, list->visualItemRect(list->item(row)).center());
}

// Runs `act` on the modal dialog as soon as it is up.
void whenModal(std::function<void(Form_Filelist*)> act) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        auto* dialog = qobject_cast<Form_Filelist*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->stop();
        poll->deleteLater();
        // A dialog that stays open after `act` fails the test instead of hanging it.
        QTimer::singleShot(2000, dialog, &QDialog::reject);
        act(dialog);
    });
    poll->start();
}
} // namespace

class TestFormFilelist : public QObject {
    Q_OBJECT
private slots:
    void showsNamesInGivenOrder();
    void doubleClickChoosesEntry_data();
    void doubleClickChoosesEntry();
    void nothingElseChooses_data();
    void nothingElseChooses();
    void chooserShowsDialogModally_data();
    void chooserShowsDialogModally();
};

void TestFormFilelist::showsNamesInGivenOrder() {
    Form_Filelist dialog(Names);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Fileselection"));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Please select File:"));
    QListWidget* list = dialog.list();
    QCOMPARE(list->count(), Names.size());
    for (int i = 0; i < Names.size(); ++i)
        QCOMPARE(list->item(i)->text(), Names[i]);
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!list->isSortingEnabled());
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(dialog.chosenName(), QString());
}

void TestFormFilelist::doubleClickChoosesEntry_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("selectedBefore"); // -1: nothing selected before the double-click
    QTest::newRow("top entry") << 0 << -1;
    QTest::newRow("middle entry") << 1 << -1;
    QTest::newRow("last entry") << 2 << -1;
    QTest::newRow("another entry than the selected one") << 2 << 0;
}

void TestFormFilelist::doubleClickChoosesEntry() {
    QFETCH(int, row);
    QFETCH(int, selectedBefore);
    Form_Filelist dialog(Names);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    if (selectedBefore >= 0) {
        const QRect rect = dialog.list()->visualItemRect(dialog.list()->item(selectedBefore));
        QTest::mouseClick(dialog.list()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
        QCOMPARE(dialog.chosenName(), QString());
        QVERIFY(dialog.isVisible());
    }

    doubleClickEntry(dialog.list(), row);

    QCOMPARE(dialog.chosenName(), Names[row]);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestFormFilelist::nothingElseChooses_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("single click") << "click";
    QTest::newRow("Return on the selected entry") << "return";
    QTest::newRow("Enter on the selected entry") << "enter";
    QTest::newRow("Space on the selected entry") << "space";
    QTest::newRow("double-click below the entries") << "dblclick-empty";
    QTest::newRow("double-click signal with nothing selected") << "dblclick-unselected";
}

void TestFormFilelist::nothingElseChooses() {
    QFETCH(QString, action);
    Form_Filelist dialog(Names);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QListWidget* list = dialog.list();
    const QRect first = list->visualItemRect(list->item(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, first.center());
    QCOMPARE(list->selectedItems().size(), 1);

    if (action == QLatin1String("return")) {
        QTest::keyClick(list, Qt::Key_Return);
    } else if (action == QLatin1String("enter")) {
        QTest::keyClick(list, Qt::Key_Enter);
    } else if (action == QLatin1String("space")) {
        QTest::keyClick(list, Qt::Key_Space);
    } else if (action == QLatin1String("dblclick-empty")) {
        const QRect last = list->visualItemRect(list->item(list->count() - 1));
        const QPoint below(last.center().x(), last.bottom() + 3 * last.height());
        QVERIFY(list->viewport()->rect().contains(below));
        QVERIFY(!list->itemAt(below));
        doubleClickAt(list, below);
    } else if (action == QLatin1String("dblclick-unselected")) {
        list->clearSelection();
        QVERIFY(list->selectedItems().isEmpty());
        emit list->itemDoubleClicked(list->item(0));
    }

    QCOMPARE(dialog.chosenName(), QString());
    QVERIFY(dialog.isVisible());
}

void TestFormFilelist::chooserShowsDialogModally_data() {
    QTest::addColumn<int>("row"); // -1: the dialog is closed without a choice
    QTest::newRow("double-click on the second entry") << 1;
    QTest::newRow("closed with Escape") << -1;
}

void TestFormFilelist::chooserShowsDialogModally() {
    QFETCH(int, row);
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QList<bool> pointer; // each switch: true for the hourglass
    FileListChooser chooser(&window, [&pointer](bool busy) { pointer << busy; });

    QStringList shown;
    QList<bool> pointerWhileShown;
    bool modalToWindow = false;
    whenModal([&](Form_Filelist* dialog) {
        pointerWhileShown = pointer;
        modalToWindow = dialog->parentWidget() == &window && dialog->isModal();
        for (int i = 0; i < dialog->list()->count(); ++i)
            shown << dialog->list()->item(i)->text();
        if (row >= 0)
            doubleClickEntry(dialog->list(), row);
        else
            QTest::keyClick(dialog, Qt::Key_Escape);
    });

    const QString chosen = chooser.chooseImage(Names);

    QCOMPARE(shown, Names);
    QVERIFY(modalToWindow);
    QCOMPARE(pointerWhileShown, QList<bool>{false});
    QCOMPARE(pointer, (QList<bool>{false, true}));
    QCOMPARE(chosen, row >= 0 ? Names[row] : QString());
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestFormFilelist)
#include "tst_form_filelist.moc"
