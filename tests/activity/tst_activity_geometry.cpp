// Tests of the activity indicator's sizing and geometry.
#include "ActivityRenderer.h"

#include <QtTest>

using namespace activity;

using Triangle = std::array<QPoint, 3>;
Q_DECLARE_METATYPE(Triangle)

class TestActivityGeometry : public QObject {
    Q_OBJECT

private slots:
    // From 5 pixels up the rule comes down to m/2 - 1 when m mod 4 is 1, else
    // m/2 - 2. Rounding halves away from zero breaks it for every m = 4k + 3.
    void radius() {
        for (int m = 5; m <= 400; ++m) {
            const float expected = m % 4 == 1 ? m / 2.0f - 1.0f : m / 2.0f - 2.0f;
            QVERIFY2(indicatorRadius(m, m) == expected, qPrintable(QString::number(m)));
        }
        QCOMPARE(indicatorRadius(113, 105), 51.5f); // the shorter side decides
        QCOMPARE(indicatorRadius(105, 113), 51.5f);
        QCOMPARE(indicatorRadius(4, 4), 0.0f);
    }

    void angle_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<double>("degrees");
        const double table[] = {90, 54, 18, 342, 306, 270, 234, 198, 162, 126, 90};
        for (int i = 0; i <= 10; ++i)
            QTest::addRow("step %d", i * 10) << i * 10 << table[i];
        // Values outside 0..100 only come from a stored instance: a single wrap.
        QTest::newRow("step 150 stays negative") << 150 << -90.0;
        QTest::newRow("step -30") << -30 << 198.0;
    }
    void angle() {
        QFETCH(int, step);
        QFETCH(double, degrees);
        QVERIFY(qAbs(double(rotationAngle(step)) * 180.0 / M_PI - degrees) < 1e-3);
    }

    void roundsHalfToEven() {
        QCOMPARE(roundedVertex(2.5f, 3.5f), QPoint(2, 4));
        QCOMPARE(roundedVertex(0.5f, -1.5f), QPoint(0, -2));
    }

    void vertices_data() {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<int>("step");
        QTest::addColumn<Triangle>("expected");
        QTest::newRow("needle step 0") << "needle" << 0 << Triangle{{{20, 2}, {21, 22}, {19, 22}}};
        QTest::newRow("needle step 25") << "needle" << 25 << Triangle{{{38, 20}, {18, 21}, {18, 19}}};
        QTest::newRow("arrowhead step 0") << "arrow" << 0 << Triangle{{{19, 2}, {20, 14}, {28, 9}}};
        QTest::newRow("arrowhead step 50") << "arrow" << 50 << Triangle{{{21, 38}, {20, 26}, {12, 31}}};
        QTest::newRow("notch step 0") << "notch" << 0 << Triangle{{{36, 16}, {28, 18}, {32, 22}}};
    }
    // All on a 40 x 40 control: centre (20, 20), radius 18.
    void vertices() {
        QFETCH(QString, shape);
        QFETCH(int, step);
        QFETCH(Triangle, expected);
        const FrameGeometry g = frameGeometry(40, 40);
        const float a = rotationAngle(step);
        const Triangle actual = shape == "needle"  ? needleVertices(g, a)
                                : shape == "arrow" ? arrowheadVertices(g, a)
                                                   : notchVertices(g, ringEndAngle(a));
        QCOMPARE(actual, expected);
    }
};

QTEST_APPLESS_MAIN(TestActivityGeometry)
#include "tst_activity_geometry.moc"
