#include "ActivityRenderer.h"

#include <QtTest>

#include <array>

using namespace activity;

Q_DECLARE_METATYPE(QList<QPoint>)

namespace {
QList<QPoint> toList(const std::array<QPoint, 3>& v) {
    return {v[0], v[1], v[2]};
}
} // namespace

class TestActivityGeometry : public QObject {
    Q_OBJECT

private slots:
    void radius_data();
    void radius();
    void radiusFollowsQuarterRule();
    void centre();
    void angle_data();
    void angle();
    void roundsHalfToEven_data();
    void roundsHalfToEven();
    void vertices_data();
    void vertices();
};

void TestActivityGeometry::radius_data() {
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<float>("r");
    QTest::newRow("38x38 shrinks") << 38 << 38 << 17.0f;
    QTest::newRow("40x40") << 40 << 40 << 18.0f;
    QTest::newRow("41x41 keeps") << 41 << 41 << 19.5f;
    QTest::newRow("107x107") << 107 << 107 << 51.5f;
    QTest::newRow("113x105 uses height") << 113 << 105 << 51.5f;
    QTest::newRow("105x113 uses width") << 105 << 113 << 51.5f;
    QTest::newRow("200x39") << 200 << 39 << 17.5f;
    QTest::newRow("5x5") << 5 << 5 << 1.5f;
    QTest::newRow("4x4") << 4 << 4 << 0.0f;
}

void TestActivityGeometry::radius() {
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(float, r);
    QCOMPARE(indicatorRadius(w, h), r);
}

// From 5 pixels up the rule reduces to: m/2 - 1 when m mod 4 is 1, else m/2 - 2.
// A rounding mode other than half-to-even breaks it for every m of the form 4k+3.
void TestActivityGeometry::radiusFollowsQuarterRule() {
    for (int m = 5; m <= 400; ++m) {
        const float expected = m % 4 == 1 ? m / 2.0f - 1.0f : m / 2.0f - 2.0f;
        QVERIFY2(indicatorRadius(m, m) == expected, qPrintable(QString::number(m)));
    }
}

void TestActivityGeometry::centre() {
    const FrameGeometry g = frameGeometry(113, 105);
    QCOMPARE(g.cx, 56.5f);
    QCOMPARE(g.cy, 52.5f);
    QCOMPARE(g.r, 51.5f);
}

void TestActivityGeometry::angle_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<double>("degrees");
    const double table[] = {90, 54, 18, 342, 306, 270, 234, 198, 162, 126, 90};
    for (int i = 0; i <= 10; ++i)
        QTest::addRow("step %d", i * 10) << i * 10 << table[i];
    // Values outside 0..100 only arrive from a stored instance: a single wrap.
    QTest::newRow("step 150 stays negative") << 150 << -90.0;
    QTest::newRow("step -30") << -30 << 198.0;
}

void TestActivityGeometry::angle() {
    QFETCH(int, step);
    QFETCH(double, degrees);
    QVERIFY2(qAbs(double(rotationAngle(step)) * 180.0 / M_PI - degrees) < 1e-3,
             qPrintable(QString::number(rotationAngle(step))));
}

void TestActivityGeometry::roundsHalfToEven_data() {
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("2.5, 3.5") << 2.5f << 3.5f << QPoint(2, 4);
    QTest::newRow("-0.5, -1.5") << -0.5f << -1.5f << QPoint(0, -2);
    QTest::newRow("0.5, 1.5") << 0.5f << 1.5f << QPoint(0, 2);
}

void TestActivityGeometry::roundsHalfToEven() {
    QFETCH(float, x);
    QFETCH(float, y);
    QFETCH(QPoint, expected);
    QCOMPARE(roundedVertex(x, y), expected);
}

void TestActivityGeometry::vertices_data() {
    QTest::addColumn<QString>("shape");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<QPoint>>("expected");
    QTest::newRow("needle 40 step 0") << "needle" << 40 << 0 << QList<QPoint>{{20, 2}, {21, 22}, {19, 22}};
    QTest::newRow("needle 40 step 25") << "needle" << 40 << 25 << QList<QPoint>{{38, 20}, {18, 21}, {18, 19}};
    QTest::newRow("arrowhead 40 step 0") << "arrow" << 40 << 0 << QList<QPoint>{{19, 2}, {20, 14}, {28, 9}};
    QTest::newRow("notch 40 step 0") << "notch" << 40 << 0 << QList<QPoint>{{36, 16}, {28, 18}, {32, 22}};
    // Half a turn on, everything mirrors through the centre (20, 20).
    QTest::newRow("arrowhead 40 step 50")
        << "arrow" << 40 << 50 << QList<QPoint>{{21, 38}, {20, 26}, {12, 31}};
}

void TestActivityGeometry::vertices() {
    QFETCH(QString, shape);
    QFETCH(int, size);
    QFETCH(int, step);
    QFETCH(QList<QPoint>, expected);
    const FrameGeometry g = frameGeometry(size, size);
    const float a = rotationAngle(step);
    QList<QPoint> actual;
    if (shape == "needle")
        actual = toList(needleVertices(g, a));
    else if (shape == "arrow")
        actual = toList(arrowheadVertices(g, a));
    else
        actual = toList(notchVertices(g, ringEndAngle(a)));
    QCOMPARE(actual, expected);
}

QTEST_APPLESS_MAIN(TestActivityGeometry)
#include "tst_activity_geometry.moc"
