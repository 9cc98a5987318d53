#include "ActivityInd.h"
#include "ActivityRenderer.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cmath>

using namespace activity;

namespace {

constexpr quint32 kGreen = 0xC000;
constexpr quint32 kRed = 0xFF;
constexpr quint32 kButtonFace = 0x8000000F;
constexpr quint32 kActiveCaption = 0x80000002;

quint32 colorAt(const QImage& img, QPoint p) {
    const QRgb c = img.pixel(p);
    return quint32(qRed(c)) | (quint32(qGreen(c)) << 8) | (quint32(qBlue(c)) << 16);
}

// Pixel at distance d*r and angle a + offset degrees from the symbol's centre.
QPoint probePoint(const FrameGeometry& g, float a, double d, double offsetDegrees) {
    const double t = double(a) + offsetDegrees * M_PI / 180.0;
    return QPoint(int(std::lround(g.cx + d * g.r * std::cos(t))),
                  int(std::lround(g.cy - d * g.r * std::sin(t))));
}

QPoint centroid(const std::array<QPoint, 3>& v) {
    return (v[0] + v[1] + v[2]) / 3;
}

void setUp(ActivityInd& ind, QSize size, qint32 style, int step, quint32 back, quint32 fore) {
    ind.resize(size);
    ind.SetStyle(style);
    ind.SetBackColor(back);
    ind.SetForeColor(fore);
    ind.SetStep(step);
}

} // namespace

class TestActivityRender : public QObject {
    Q_OBJECT

private slots:
    void probes_data();
    void probes();
    void unknownStyleShowsBackgroundOnly_data();
    void unknownStyleShowsBackgroundOnly();
    void ringArrowFillsMatchOutlines_data();
    void ringArrowFillsMatchOutlines();
    void discIgnoresColours();
    void drawStateLeft_data();
    void drawStateLeft();
    void tinyControls();
    void shownWidgetShowsBuffer();
    void frameTime();
    void benchmarkRingArrowFrame();
};

// Each probe is "distance@degrees=X": distance in radii from the centre, angle
// relative to the symbol's rotation, X the colour expected there (F fore, B back,
// K black, W white).
void TestActivityRender::probes_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("step");
    QTest::addColumn<quint32>("fore");
    QTest::addColumn<QString>("probes");

    // The ring runs counter-clockwise from a for 281.25 degrees; the gap and the
    // hole show the back colour.
    const QString ring = "0.67@140=F;0.67@230=F;0.67@-60=B;0@0=B;0.3@200=B;0.95@140=B";
    for (int step = 0; step <= 100; step += 10)
        QTest::addRow("ring arrow step %d", step) << QSize(113, 105) << 3 << step << kGreen << ring;
    QTest::newRow("ring arrow tall") << QSize(105, 113) << 3 << 0 << kGreen << ring;
    QTest::newRow("ring arrow wide strip") << QSize(200, 60) << 3 << 0 << kGreen << ring;
    QTest::newRow("ring arrow narrow strip") << QSize(60, 200) << 3 << 40 << kGreen << ring;
    QTest::newRow("ring arrow system fore") << QSize(113, 105) << 3 << 20 << kActiveCaption << ring;

    const QString needle = "0.3@0=F;0.5@0=F;0.5@180=B;0.5@90=B";
    QTest::newRow("needle step 0") << QSize(400, 400) << 2 << 0 << kGreen << needle;
    QTest::newRow("needle step 70") << QSize(400, 400) << 2 << 70 << kGreen << needle;
    QTest::newRow("needle system fore") << QSize(400, 400) << 2 << 30 << kActiveCaption << needle;

    // White half counter-clockwise of the dividing line, black half clockwise;
    // each half carries a circle of the other colour with a dot of its own.
    const QString disc = "0.75@90=W;0.75@-90=K;0.5@0=K;0.5@180=W;0.559@-26.6=W;0.559@153.4=K";
    QTest::newRow("disc step 0") << QSize(113, 105) << 0 << 0 << kGreen << disc;
    QTest::newRow("disc step 30") << QSize(113, 105) << 0 << 30 << kGreen << disc;
    QTest::newRow("disc step 25") << QSize(113, 105) << 0 << 25 << kGreen << disc;

    // 100 x 100 keeps the centre on whole pixels, where the hands are drawn.
    QTest::newRow("hands step 0, fixed hand only")
        << QSize(100, 100) << 1 << 0 << kGreen << "0.5@0=F;0.5@-90=B";
    QTest::newRow("hands step 25") << QSize(100, 100) << 1 << 25 << kGreen << "0.5@0=F;0.5@90=F;0.5@180=B";
    QTest::newRow("hands step 50") << QSize(100, 100) << 1 << 50 << kGreen << "0.5@0=F;0.5@180=F;0.5@90=B";
}

void TestActivityRender::probes() {
    QFETCH(QSize, size);
    QFETCH(int, style);
    QFETCH(int, step);
    QFETCH(quint32, fore);
    QFETCH(QString, probes);

    ActivityInd ind;
    setUp(ind, size, style, step, kButtonFace, fore);
    const QImage& img = ind.backBuffer();
    const FrameGeometry g = frameGeometry(size.width(), size.height());
    const float a = rotationAngle(step);
    const QHash<QChar, quint32> expected{
        {'F', ind.XlatColor(fore)}, {'B', ind.XlatColor(kButtonFace)}, {'K', 0u}, {'W', 0xFFFFFFu}};

    for (const QString& probe : probes.split(';')) {
        const QStringList parts = probe.split(QRegularExpression("[@=]"));
        const QPoint p = probePoint(g, a, parts[0].toDouble(), parts[1].toDouble());
        QVERIFY2(img.rect().contains(p), qPrintable(probe));
        QVERIFY2(
            colorAt(img, p) == expected.value(parts[2].at(0)),
            qPrintable(
                QString("%1 at (%2, %3): %4").arg(probe).arg(p.x()).arg(p.y()).arg(colorAt(img, p), 6, 16)));
    }
}

void TestActivityRender::unknownStyleShowsBackgroundOnly_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<quint32>("back");
    QTest::newRow("5") << 5 << 0x123456u;
    QTest::newRow("7, button face") << 7 << kButtonFace;
    QTest::newRow("-1") << -1 << 0xFFFFFFu;
}

void TestActivityRender::unknownStyleShowsBackgroundOnly() {
    QFETCH(int, style);
    QFETCH(quint32, back);
    ActivityInd ind;
    setUp(ind, QSize(113, 105), style, 40, back, kRed);
    QImage expected(113, 105, ind.backBuffer().format());
    const quint32 c = ind.XlatColor(back);
    expected.fill(QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)));
    QCOMPARE(ind.backBuffer(), expected);
}

void TestActivityRender::ringArrowFillsMatchOutlines_data() {
    QTest::addColumn<quint32>("fore");
    QTest::addColumn<quint32>("back");
    QTest::newRow("plain colours") << kGreen << kButtonFace;
    QTest::newRow("system fore") << kActiveCaption << 0xFFFFFFu;
    QTest::newRow("system fore and back") << kButtonFace << 0x80000005u;
}

// The arrowhead and the notch are filled by their own brushes; with a system
// colour they must still match the ring and the hole drawn around them.
void TestActivityRender::ringArrowFillsMatchOutlines() {
    QFETCH(quint32, fore);
    QFETCH(quint32, back);
    ActivityInd ind;
    setUp(ind, QSize(113, 105), 3, 10, back, fore);
    const QImage& img = ind.backBuffer();
    const FrameGeometry g = frameGeometry(113, 105);
    const float a = rotationAngle(10);

    const quint32 ringColor = colorAt(img, probePoint(g, a, 0.67, 140));
    const quint32 holeColor = colorAt(img, probePoint(g, a, 0, 0));
    QCOMPARE(ringColor, ind.XlatColor(fore));
    QCOMPARE(holeColor, ind.XlatColor(back));
    QCOMPARE(colorAt(img, centroid(arrowheadVertices(g, a))), ringColor);
    QCOMPARE(colorAt(img, centroid(notchVertices(g, ringEndAngle(a)))), holeColor);
}

void TestActivityRender::discIgnoresColours() {
    ActivityInd a;
    ActivityInd b;
    setUp(a, QSize(113, 105), 0, 30, 0x123456, kRed);
    setUp(b, QSize(113, 105), 0, 30, 0x123456, kGreen);
    QCOMPARE(a.backBuffer(), b.backBuffer());
}

void TestActivityRender::drawStateLeft_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<bool>("fillSolid");
    QTest::addColumn<quint32>("fillColor");
    QTest::addColumn<quint32>("lineColor");
    const quint32 fore = kGreen;
    const quint32 untouched = 0xABCDEF;
    QTest::newRow("disc") << 0 << false << 0xFFFFFFu << fore;
    QTest::newRow("hands") << 1 << true << untouched << fore;
    QTest::newRow("needle") << 2 << true << untouched << 0u;
    QTest::newRow("ring arrow") << 3 << true << fore << 0u;
    QTest::newRow("unknown") << 9 << true << untouched << fore;
}

// The fill a frame leaves behind is what the next frame starts with.
void TestActivityRender::drawStateLeft() {
    QFETCH(int, style);
    QFETCH(bool, fillSolid);
    QFETCH(quint32, fillColor);
    QFETCH(quint32, lineColor);
    QImage img(60, 60, QImage::Format_RGB32);
    DrawState state{0x111111, 0x222222, true, 0xABCDEF};
    renderFrame(img, FrameInput{style, 20, 0x8000000F, kGreen}, state,
                [](quint32 c) { return c & 0xFFFFFF; });
    QCOMPARE(state.backColor, 0x8000000Fu);
    QCOMPARE(state.lineColor, lineColor);
    QCOMPARE(state.fillSolid, fillSolid);
    QCOMPARE(state.fillColor, fillColor);
}

// Zero and negative radii must neither crash nor leave the buffer's size wrong.
void TestActivityRender::tinyControls() {
    for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(3, 3), QSize(4, 4), QSize(5, 5), QSize(1, 50)}) {
        for (int style = 0; style <= 3; ++style) {
            ActivityInd ind;
            setUp(ind, size, style, 50, kButtonFace, kRed);
            QCOMPARE(ind.backBuffer().size(), size.isEmpty() ? QSize(0, 0) : size);
        }
    }
}

void TestActivityRender::shownWidgetShowsBuffer() {
    QWidget window;
    window.resize(150, 150);
    auto* ind = new ActivityInd(&window);
    ind->setGeometry(5, 5, 113, 105);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ind->SetStyle(3);
    ind->SetForeColor(kGreen);
    ind->SetStep(30);
    const QImage shown = ind->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown, ind->backBuffer());
}

void TestActivityRender::frameTime() {
    ActivityInd ind;
    setUp(ind, QSize(113, 105), 3, 0, kButtonFace, kGreen);
    constexpr int frames = 200;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < frames; ++i)
        ind.SetStyle(3); // always draws one frame
    const double ms = double(timer.nsecsElapsed()) / 1e6 / frames;
    qInfo("113 x 105 ring arrow frame: %.3f ms", ms);
    QCOMPARE(ind.frameCount() >= frames, true);
    QVERIFY2(ms < 2.0, qPrintable(QString::number(ms)));
}

void TestActivityRender::benchmarkRingArrowFrame() {
    QImage img(113, 105, QImage::Format_RGB32);
    DrawState state;
    const ColorResolver resolve = [](quint32 c) {
        return c & 0x80000000u ? ActivityInd::systemColor(c & 0xFFFFFF) : c;
    };
    int step = 0;
    QBENCHMARK {
        renderFrame(img, FrameInput{3, qint16(step), kButtonFace, kGreen}, state, resolve);
        step = step >= 100 ? 0 : step + 10;
    }
}

QTEST_MAIN(TestActivityRender)
#include "tst_activity_render.moc"
