#pragma once

#include <QByteArrayList>
#include <QString>
#include <QStringList>

// What the command line asks for.
struct CliOptions {
    enum class Mode { Update, Station, ListPorts, ComTest, Doctor, Help, Version };

    Mode mode = Mode::Update;
    QString image; // empty: the newest image of the program folder
    double identifyLimit =
        0; // seconds (MinIdentifySeconds to MaxIdentifySeconds); 0: probe until a module answers
    bool json = false;
    QString recordFile;   // empty: the default record
    QStringList ports;    // as given: COM1 to COM9 (upper case) or device paths; none for --doctor: all
    int count = 0;        // --station: modules to update in all; 0: no limit
    double goneAfter = 5; // --station: seconds without an answer that make a module gone
};

constexpr double MinGoneAfterSeconds = 2.4; // two probe intervals

constexpr double MinIdentifySeconds = 0.1;
constexpr double MaxIdentifySeconds = 7 * 24 * 3600; // a week: a bench left probing over a holiday

struct CliParse {
    CliOptions options;
    QString error; // empty when the arguments are usable
};

// Reads the arguments (program name first). A port is COM1 to COM9 in any letter case, or a
// path (it holds a '/'); the same port twice is an error.
CliParse parseCliArguments(const QStringList& arguments);

// The arguments as the program got them (program name first). Qt turns bytes that are not
// UTF-8 into U+FFFD, so a file or port named that way would be looked for under another name:
// such an argument is refused with a message saying so. Empty when every argument is UTF-8.
QString nonUtf8ArgumentError(const QByteArrayList& arguments);

QString cliUsage();
