// The window's program: names the application, builds the production seams and shows Form1.
#include "Form1.h"
#include "UtilitySeams.h"

#include <QApplication>
#include <QDir>
#include <QSettings>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrune_Update_Utility"));
    QApplication::setOrganizationName(QStringLiteral("Kestrune_Update_Utility"));
    QApplication::setApplicationVersion(QStringLiteral(KUU_VERSION_TEXT));
    // Ties the window to its desktop entry and icon on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("invalid.kestrune.update_utility"));

    Form1Seams seams;
    // $XDG_CONFIG_HOME/Kestrune_Update_Utility/Kestrune_Update_Utility.ini
    seams.settingsFile =
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Kestrune_Update_Utility"),
                  QStringLiteral("Kestrune_Update_Utility"))
            .fileName();
    seams.programFolder = QDir::cleanPath(QCoreApplication::applicationDirPath());
    UtilitySeams production(seams);

    Form1 window(seams);
    production.attachWindow(&window, window);
    window.Form_Load();
    window.show();
    return app.exec();
}
