#include "ActivityInd.h"

#include <QApplication>
#include <QPalette>
#include <QSignalSpy>
#include <QtTest>

#include <functional>

class TestActivityProperties : public QObject {
    Q_OBJECT

private slots:
    void newInstanceHasDefaults();
    void stepSetter_data();
    void stepSetter();
    void otherSettersAlwaysRepaint_data();
    void otherSettersAlwaysRepaint();
    void xlatColor_data();
    void xlatColor();
    void buttonFaceFollowsPalette();
    void writesOnlyNonDefaults();
    void roundTrip();
    void loadsWithoutClampingOrNotifying();
    void loadFailures_data();
    void loadFailures();
    void backBufferFollowsResize();
};

void TestActivityProperties::newInstanceHasDefaults() {
    ActivityInd ind;
    QCOMPARE(ind.Style(), 0);
    QCOMPARE(ind.Step(), 0);
    QCOMPARE(ind.ForeColor(), 0x500000u);
    QCOMPARE(ind.BackColor(), 0x8000000Fu);
    QCOMPARE(ind.frameCount(), 0);
}

void TestActivityProperties::stepSetter_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("repaints");
    QTest::newRow("-5 clamps to 0") << 50 << -5 << 0 << true;
    QTest::newRow("250 clamps to 100") << 50 << 250 << 100 << true;
    QTest::newRow("-5 at 0 is unchanged") << 0 << -5 << 0 << false;
    QTest::newRow("250 at 100 is unchanged") << 100 << 250 << 100 << false;
    QTest::newRow("same value") << 30 << 30 << 30 << false;
    QTest::newRow("next tick") << 30 << 40 << 40 << true;
    QTest::newRow("wider than 16 bits") << 0 << 70000 << 100 << true;
}

void TestActivityProperties::stepSetter() {
    QFETCH(int, start);
    QFETCH(int, value);
    QFETCH(int, stored);
    QFETCH(bool, repaints);
    ActivityInd ind;
    ind.resize(40, 40);
    ind.SetStep(start);
    const int frames = ind.frameCount();
    QSignalSpy spy(&ind, &ActivityInd::propertyChanged);

    ind.SetStep(value);
    QCOMPARE(ind.Step(), stored);
    QCOMPARE(ind.frameCount() - frames, repaints ? 1 : 0);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("Step"));
}

void TestActivityProperties::otherSettersAlwaysRepaint_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<std::function<void(ActivityInd&)>>("set");
    QTest::newRow("Style") << "Style"
                           << std::function<void(ActivityInd&)>([](ActivityInd& i) { i.SetStyle(0); });
    QTest::newRow("BackColor") << "BackColor" << std::function<void(ActivityInd&)>([](ActivityInd& i) {
        i.SetBackColor(0x8000000F);
    });
    QTest::newRow("ForeColor") << "ForeColor" << std::function<void(ActivityInd&)>([](ActivityInd& i) {
        i.SetForeColor(0x500000);
    });
}

// Assigning the value a property already has still redraws and reports.
void TestActivityProperties::otherSettersAlwaysRepaint() {
    QFETCH(QString, name);
    QFETCH(std::function<void(ActivityInd&)>, set);
    ActivityInd ind;
    ind.resize(40, 40);
    QSignalSpy spy(&ind, &ActivityInd::propertyChanged);
    set(ind);
    set(ind);
    QCOMPARE(ind.frameCount(), 2);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toString(), name);
}

void TestActivityProperties::xlatColor_data() {
    QTest::addColumn<quint32>("value");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("plain green") << 0xC000u << 0xC000u;
    QTest::newRow("plain white") << 0xFFFFFFu << 0xFFFFFFu;
    QTest::newRow("window") << 0x80000005u << 0xFFFFFFu;
    QTest::newRow("active caption") << 0x80000002u << 0x800000u;
    QTest::newRow("unknown index 0xFFFFFF") << 0x80FFFFFFu << 0u;
    QTest::newRow("bits 24-30 ignored for the index") << 0xFF000005u << 0xFFFFFFu;
}

void TestActivityProperties::xlatColor() {
    QFETCH(quint32, value);
    QFETCH(quint32, expected);
    ActivityInd ind;
    QCOMPARE(ind.XlatColor(value), expected);
}

void TestActivityProperties::buttonFaceFollowsPalette() {
    const QPalette saved = QApplication::palette();
    QPalette p = saved;
    p.setColor(QPalette::Button, QColor(0x12, 0x34, 0x56));
    QApplication::setPalette(p);
    ActivityInd ind;
    const quint32 face = ind.XlatColor(0x8000000F);
    QApplication::setPalette(saved);
    QCOMPARE(face, 0x563412u);
}

void TestActivityProperties::writesOnlyNonDefaults() {
    ActivityInd ind;
    ActivityPropertyBag bag;
    ind.WriteProperties(bag);
    QVERIFY(bag.isEmpty());

    // The main window's instance: only its style and colour differ.
    ind.SetStyle(3);
    ind.SetForeColor(0xC000);
    ind.WriteProperties(bag);
    QCOMPARE(bag.names(), (QStringList{"forecolor", "style"}));

    // Going back to a default drops the stored entry.
    ind.SetStyle(0);
    ind.WriteProperties(bag);
    QCOMPARE(bag.names(), QStringList{"forecolor"});
}

void TestActivityProperties::roundTrip() {
    ActivityInd a;
    a.SetStyle(-7);
    a.SetStep(60);
    a.SetBackColor(0x80000002);
    a.SetForeColor(255);
    ActivityPropertyBag bag;
    a.WriteProperties(bag);

    ActivityInd b;
    b.ReadProperties(bag);
    QCOMPARE(b.Style(), -7);
    QCOMPARE(b.Step(), 60);
    QCOMPARE(b.BackColor(), 0x80000002u);
    QCOMPARE(b.ForeColor(), 255u);
}

void TestActivityProperties::loadsWithoutClampingOrNotifying() {
    ActivityPropertyBag bag;
    bag.write("step", 150, 0);
    bag.write("FORECOLOR", QStringLiteral("49152"), 0);
    bag.write("BackColor", -2147483633, 0); // the button face, stored signed
    ActivityInd ind;
    ind.resize(40, 40);
    QSignalSpy spy(&ind, &ActivityInd::propertyChanged);
    ind.ReadProperties(bag);
    QCOMPARE(ind.Step(), 150);
    QCOMPARE(ind.ForeColor(), 0xC000u);
    QCOMPARE(ind.BackColor(), 0x8000000Fu);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(ind.frameCount(), 0);
}

void TestActivityProperties::loadFailures_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("step above 16 bits") << "Step" << QVariant(40000);
    QTest::newRow("step below 16 bits") << "Step" << QVariant(-40000);
    QTest::newRow("step text") << "Step" << QVariant(QStringLiteral("abc"));
    QTest::newRow("style above 32 bits") << "Style" << QVariant(qint64(1) << 31);
    QTest::newRow("colour above 32 bits") << "ForeColor" << QVariant(qint64(1) << 32);
    QTest::newRow("colour empty text") << "BackColor" << QVariant(QString());
}

void TestActivityProperties::loadFailures() {
    QFETCH(QString, name);
    QFETCH(QVariant, value);
    ActivityPropertyBag bag;
    bag.write(name, value, QVariant());
    ActivityInd ind;
    QVERIFY_THROWS_EXCEPTION(PropertyLoadError, ind.ReadProperties(bag));
}

void TestActivityProperties::backBufferFollowsResize() {
    QWidget window;
    window.resize(200, 200);
    auto* ind = new ActivityInd(&window);
    ind->setGeometry(10, 10, 113, 105);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(ind->backBuffer().size(), QSize(113, 105));

    // A resize only fits the buffer; the drawing comes with the next repaint.
    const int frames = ind->frameCount();
    ind->resize(60, 30);
    QCOMPARE(ind->backBuffer().size(), QSize(60, 30));
    QCOMPARE(ind->frameCount(), frames);
}

QTEST_MAIN(TestActivityProperties)
#include "tst_activity_properties.moc"
