// Tests of the expert's image selection dialog.
#include "Form_Filelist.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTimer>
#include <QtTest>

namespace {
const QStringList Names{"QVL-GEN-new.bin", "qvl-gen-mid.BIN", "QVL-GEN-a-old.bin"};

QPoint entryCenter(QListWidget* list, int row) {
    return list->visualItemRect(list->item(row)).center();
}

// Through the window, as the platform delivers it: press, release, press, double-click, release.
void doubleClickEntry(QListWidget* list, int row) {
    QWidget* window = list->window();
    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                       list->viewport()->mapTo(window, entryCenter(list, row)));
}
} // namespace

class TestFormFilelist : public QObject {
    Q_OBJECT
private slots:
    void onlyDoubleClickChooses_data();
    void onlyDoubleClickChooses();
    void chooserShowsDialogModally_data();
    void chooserShowsDialogModally();
};

void TestFormFilelist::onlyDoubleClickChooses_data() {
    QTest::addColumn<QString>("action"); // after a single click on the top entry
    QTest::addColumn<int>("chosen");     // -1: nothing chosen, the dialog stays open
    QTest::newRow("double-click on another entry") << "dblclick" << 2;
    QTest::newRow("single click") << "none" << -1;
    QTest::newRow("Return on the selected entry") << "return" << -1;
    QTest::newRow("double-click signal with nothing selected") << "unselected" << -1;
}

void TestFormFilelist::onlyDoubleClickChooses() {
    QFETCH(QString, action);
    QFETCH(int, chosen);
    Form_Filelist dialog(Names);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QListWidget* list = dialog.list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, entryCenter(list, 0));
    QCOMPARE(list->selectedItems().size(), 1);

    if (action == QLatin1String("dblclick")) {
        doubleClickEntry(list, 2);
    } else if (action == QLatin1String("return")) {
        QTest::keyClick(list, Qt::Key_Return);
    } else if (action == QLatin1String("unselected")) {
        list->clearSelection();
        emit list->itemDoubleClicked(list->item(0));
    }

    QCOMPARE(dialog.chosenName(), chosen >= 0 ? Names[chosen] : QString());
    QCOMPARE(dialog.isVisible(), chosen < 0);
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

    // Runs inside the dialog's event loop; a dialog left open fails the test instead of hanging it.
    QStringList shown; // title, label, then the entries
    QList<bool> pointerWhileShown;
    bool modalToWindow = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<Form_Filelist*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QTimer::singleShot(2000, dialog, &QDialog::reject);
        pointerWhileShown = pointer;
        modalToWindow = dialog->parentWidget() == &window && dialog->isModal();
        shown << dialog->windowTitle() << dialog->findChild<QLabel*>(QStringLiteral("Label1"))->text();
        for (int i = 0; i < dialog->list()->count(); ++i)
            shown << dialog->list()->item(i)->text();
        if (row >= 0)
            doubleClickEntry(dialog->list(), row);
        else
            QTest::keyClick(dialog, Qt::Key_Escape);
    });

    const QString chosen = chooser.chooseImage(Names);

    QCOMPARE(shown, QStringList({"Fileselection", "Please select File:"}) + Names);
    QVERIFY(modalToWindow);
    QCOMPARE(pointerWhileShown, QList<bool>{false});
    QCOMPARE(pointer, (QList<bool>{false, true}));
    QCOMPARE(chosen, row >= 0 ? Names[row] : QString());
}

QTEST_MAIN(TestFormFilelist)
#include "tst_form_filelist.moc"
