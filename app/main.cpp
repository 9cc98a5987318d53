// The window's program: names the application, builds the production seams and shows Form1.
#include "Form1.h"
#include "SettingsFile.h"
#include "ShutdownSignals.h"
#include "UtilitySeams.h"

#include <QApplication>
#include <QDir>

int main(int argc, char* argv[]) {
    ShutdownSignals::blockInThisThread();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrune_Update_Utility"));
    QApplication::setOrganizationName(QStringLiteral("Kestrune_Update_Utility"));
    QApplication::setApplicationVersion(QStringLiteral(KUU_VERSION_TEXT));
    // Ties the window to its desktop entry and icon on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("invalid.kestrune.update_utility"));

    Form1Seams seams;
    // Only the name: nothing may open the file before its reader has checked it.
    seams.settingsFile = defaultSettingsFile();
    seams.programFolder = QDir::cleanPath(QCoreApplication::applicationDirPath());
    UtilitySeams production(seams);

    Form1 window(seams);
    production.attachWindow(&window, window);
    // Also inside a wait of the update: the shut-down ends the process there.
    ShutdownSignals shutdownSignals;
    if (!shutdownSignals.failure().isEmpty())
        qWarning("%s", qPrintable(shutdownSignals.failure()));
    QObject::connect(&shutdownSignals, &ShutdownSignals::received, &window, [&window](int signalNumber) {
        window.exitOnSignal(ShutdownSignals::nameOf(signalNumber));
    });
    window.Form_Load();
    window.show();
    return app.exec();
}
