// Tests of the activity indicator's properties and their persistence.
#include "ActivityInd.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

class TestActivityProperties : public QObject {
    Q_OBJECT

private slots:
    void stepSetter_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("stored");
        QTest::newRow("-5 clamps to 0") << 50 << -5 << 0;
        QTest::newRow("250 clamps to 100") << 50 << 250 << 100;
        QTest::newRow("-5 at 0") << 0 << -5 << 0;
        QTest::newRow("250 at 100") << 100 << 250 << 100;
        QTest::newRow("wider than 16 bits") << 0 << 70000 << 100;
    }
    // Step is reported on every assignment but redrawn only when it changed.
    void stepSetter() {
        QFETCH(int, start);
        QFETCH(int, value);
        QFETCH(int, stored);
        ActivityInd ind;
        ind.SetStep(start);
        const int frames = ind.frameCount();
        QSignalSpy spy(&ind, &ActivityInd::propertyChanged);
        ind.SetStep(value);
        QCOMPARE(ind.Step(), stored);
        QCOMPARE(ind.frameCount() - frames, stored == start ? 0 : 1);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("Step"));
    }

    // Unlike Step, the other properties redraw even when assigned their own value.
    void otherSettersAlwaysRepaint() {
        ActivityInd ind;
        QSignalSpy spy(&ind, &ActivityInd::propertyChanged);
        ind.SetStyle(ind.Style());
        ind.SetBackColor(ind.BackColor());
        ind.SetForeColor(ind.ForeColor());
        QCOMPARE(ind.frameCount(), 3);
        QStringList names;
        for (const auto& args : spy)
            names << args.at(0).toString();
        QCOMPARE(names, (QStringList{"Style", "BackColor", "ForeColor"}));
    }

    void xlatColor_data() {
        QTest::addColumn<quint32>("value");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("plain green") << 0xC000u << 0xC000u;
        QTest::newRow("button face from the palette") << 0x8000000Fu << 0x563412u;
        QTest::newRow("active caption") << 0x80000002u << 0x800000u;
        QTest::newRow("unknown index 0xFFFFFF") << 0x80FFFFFFu << 0u;
    }
    void xlatColor() {
        QFETCH(quint32, value);
        QFETCH(quint32, expected);
        const QPalette saved = QApplication::palette();
        QPalette p = saved;
        p.setColor(QPalette::Button, QColor(0x12, 0x34, 0x56));
        QApplication::setPalette(p);
        const quint32 actual = ActivityInd().XlatColor(value);
        QApplication::setPalette(saved);
        QCOMPARE(actual, expected);
    }

    void persistence() {
        ActivityInd a; // a new instance stores nothing
        ActivityPropertyBag bag;
        a.WriteProperties(bag);
        QVERIFY(bag.isEmpty());
        a.SetStyle(3); // the main window's instance
        a.SetForeColor(0xC000);
        a.WriteProperties(bag);
        QCOMPARE(bag.names(), (QStringList{"forecolor", "style"}));

        a.SetStyle(-7);
        a.SetStep(60);
        a.SetBackColor(0x80000002);
        a.WriteProperties(bag);
        ActivityInd b;
        b.ReadProperties(bag);
        QCOMPARE(b.Style(), -7);
        QCOMPARE(b.Step(), 60);
        QCOMPARE(b.BackColor(), 0x80000002u);
        QCOMPARE(b.ForeColor(), 0xC000u);
    }

    // Loading takes values as stored: no clamping, no repaint, no change report.
    void loadsAsStored() {
        ActivityPropertyBag bag;
        bag.write("step", 150, 0);
        bag.write("FORECOLOR", QStringLiteral("49152"), 0);
        bag.write("BackColor", -2147483633, 0); // the button face, stored signed
        ActivityInd ind;
        QSignalSpy spy(&ind, &ActivityInd::propertyChanged);
        ind.ReadProperties(bag);
        QCOMPARE(ind.Step(), 150);
        QCOMPARE(ind.ForeColor(), 0xC000u);
        QCOMPARE(ind.BackColor(), 0x8000000Fu);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(ind.frameCount(), 0);
    }

    void loadFailures_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("step above 16 bits") << "Step" << QVariant(40000);
        QTest::newRow("step text") << "Step" << QVariant(QStringLiteral("abc"));
        QTest::newRow("style above 32 bits") << "Style" << QVariant(qint64(1) << 31);
        QTest::newRow("colour above 32 bits") << "ForeColor" << QVariant(qint64(1) << 32);
    }
    void loadFailures() {
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        ActivityPropertyBag bag;
        bag.write(name, value, QVariant());
        ActivityInd ind;
        QVERIFY_THROWS_EXCEPTION(PropertyLoadError, ind.ReadProperties(bag));
    }

    void backBufferFollowsResize() {
        QWidget window;
        auto* ind = new ActivityInd(&window);
        ind->setGeometry(10, 10, 113, 105);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(ind->backBuffer().size(), QSize(113, 105));
        const int frames = ind->frameCount();
        ind->resize(60, 30); // fits the buffer; drawing waits for the repaint
        QCOMPARE(ind->backBuffer().size(), QSize(60, 30));
        QCOMPARE(ind->frameCount(), frames);
    }
};

QTEST_MAIN(TestActivityProperties)
#include "tst_activity_properties.moc"
