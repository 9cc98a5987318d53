// Takes the screenshot of the main window for README.md: the real window, with its real
// serial control, clock and message boxes, updates the module simulator on a pseudo-terminal;
// part-way through the transfer the window is grabbed and saved as a PNG. The transfer then
// runs to its end, and the shot is kept only if the simulator received the image byte for byte.
// Run it offscreen (QT_QPA_PLATFORM=offscreen); scripts/screenshot builds and runs it.
//
//   kuu_screenshot --sim PATH/module-sim --out FILE.png [--sectors N] [--at-block K]

#include "AutoSizeLabel.h"
#include "Form1.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {
void fail(const QString& why) {
    std::fprintf(stderr, "kuu_screenshot: %s\n", qPrintable(why));
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // As the utility names itself, so that its message boxes carry their real titles.
    QApplication::setApplicationName(QStringLiteral("Kestrune_Update_Utility"));
    QApplication::setOrganizationName(QStringLiteral("Kestrune_Update_Utility"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Screenshot of the main window during a transfer"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("sim"), QStringLiteral("the module simulator"), QStringLiteral("path")});
    parser.addOption({QStringLiteral("out"), QStringLiteral("the PNG to write"), QStringLiteral("file")});
    parser.addOption({QStringLiteral("sectors"), QStringLiteral("sectors in the image (default 3)"),
                      QStringLiteral("n"), QStringLiteral("3")});
    parser.addOption({QStringLiteral("at-block"),
                      QStringLiteral("grab while this block (counted from 1) is on the line (default 6)"),
                      QStringLiteral("k"), QStringLiteral("6")});
    parser.process(app);
    const QString simulator = parser.value(QStringLiteral("sim"));
    const QString out = parser.value(QStringLiteral("out"));
    const int sectors = parser.value(QStringLiteral("sectors")).toInt();
    const int atBlock = parser.value(QStringLiteral("at-block")).toInt();
    if (simulator.isEmpty() || out.isEmpty() || sectors < 1 || sectors > 255 || atBlock < 1 ||
        atBlock > 4 * sectors) {
        fail(QStringLiteral("usage: kuu_screenshot --sim PATH --out FILE.png [--sectors N] [--at-block K]"));
        return 2;
    }

    // A throw-away installation: the program folder with one image, and the settings file.
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/kestrune-XXXXXX"));
    if (!work.isValid()) {
        fail(QStringLiteral("cannot make a temporary folder"));
        return 1;
    }
    const QString programFolder = work.path() + QStringLiteral("/lib/kestrune-update-utility");
    const QString settingsFile = work.path() + QStringLiteral("/config/Kestrune_Update_Utility.ini");
    const QString received = work.path() + QStringLiteral("/received.bin");
    QDir().mkpath(programFolder);
    QDir().mkpath(work.path() + QStringLiteral("/config"));

    QByteArray image(sectors * 65536, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 131 + i / 4099) & 0xFF);
    {
        QFile file(programFolder + QStringLiteral("/QVL-GEN-V2.4.bin"));
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size()) {
            fail(QStringLiteral("cannot write the image"));
            return 1;
        }
    }

    // The module, reading at the wire rate so the window shows a transfer as on a real line.
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(simulator,
              {QStringLiteral("--wire-rate"), QStringLiteral("--flash-time"), QStringLiteral("0.3"),
               QStringLiteral("--quiet"), QStringLiteral("--out"), received});
    QString device;
    if (sim.waitForStarted(5000)) {
        QElapsedTimer waited;
        waited.start();
        while (!sim.canReadLine() && waited.elapsed() < 5000)
            sim.waitForReadyRead(100);
        device = QString::fromLocal8Bit(sim.readLine()).trimmed();
    }
    if (device.isEmpty()) {
        fail(QStringLiteral("the module simulator %1 did not start").arg(simulator));
        return 1;
    }
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Ports/COM1"), device);
        settings.setValue(QStringLiteral("Settings/COM-Port"), QStringLiteral("1"));
    }

    Form1Seams seams;
    seams.settingsFile = settingsFile;
    seams.programFolder = programFolder;
    seams.endProcess = [] {};       // closing the window ends the run here, not the process
    seams.recordFile = QString(""); // a rehearsal, not an update to remember
    UtilitySeams production(seams);
    Form1 form(seams);
    production.attachWindow(&form, form);
    form.Form_Load();
    form.show();

    bool shot = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        // Block k is on the line while the bar shows k - 1 blocks sent.
        if (form.Label_title->text() == QLatin1String("Running") &&
            form.ProgressBar1->value() >= atBlock - 1 &&
            form.statusPanelText(2).startsWith(QLatin1String("Sending Sector"))) {
            watch.stop();
            QTimer::singleShot(300, &form, [&] { // the percentage and the indicator catch up
                shot = form.grab().save(out, "PNG");
                if (!shot)
                    fail(QStringLiteral("cannot write %1").arg(out));
            });
        }
    });

    // A message box would hold the update; say what it says and give up.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        QString text = QStringLiteral("no transfer within the time allowed");
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            text += QStringLiteral("; a message box says: ") + box->text();
        fail(text);
        sim.kill();
        sim.waitForFinished(1000);
        work.remove();
        std::_Exit(1);
    });
    watchdog.start(30000 + sectors * 10000);

    bool updated = false;
    QTimer::singleShot(500, &form, [&] {
        watch.start();
        form.updateCommand(); // returns when the transfer has ended, after the success display
        updated = form.Label_title->text() == QLatin1String("Ready");
        form.close(); // the utility's shut-down: the port is closed, the port number stored
        QApplication::quit();
    });
    app.exec();
    watchdog.stop();
    sim.terminate();
    sim.waitForFinished(3000);

    QFile got(received);
    const bool intact = got.open(QIODevice::ReadOnly) && got.readAll() == image;
    if (!updated || !intact) {
        fail(QStringLiteral("the simulator did not receive the image byte for byte"));
        QFile::remove(out);
        return 1;
    }
    if (!shot) {
        fail(QStringLiteral("the window was never seen sending block %1").arg(atBlock));
        return 1;
    }
    std::printf("%s\n", qPrintable(out));
    return 0;
}
