#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for.
struct CliOptions {
    enum class Mode { Update, ListPorts, ComTest, Help, Version };

    Mode mode = Mode::Update;
    QString image;            // empty: the newest image of the program folder
    double identifyLimit = 0; // seconds; 0: probe until a module answers
    bool json = false;
    QString recordFile; // empty: the default record
    QStringList ports;  // as given: COM1 to COM9 (upper case) or device paths
};

struct CliParse {
    CliOptions options;
    QString error; // empty when the arguments are usable
};

// Reads the arguments (program name first). A port is COM1 to COM9 in any letter case, or a
// path (it holds a '/'); the same port twice is an error.
CliParse parseCliArguments(const QStringList& arguments);

QString cliUsage();
