// The command line's arguments: options, ports, and the mistakes that make a usage error.
#include "CliOptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

namespace {
const QString ImageOption = QStringLiteral("image");
const QString IdentifyOption = QStringLiteral("identify-timeout");
const QString JsonOption = QStringLiteral("json");
const QString RecordOption = QStringLiteral("record");
const QString ListOption = QStringLiteral("list-ports");
const QString ComTestOption = QStringLiteral("comtest");
const QString DoctorOption = QStringLiteral("doctor");
const QString HelpOption = QStringLiteral("help");
const QString VersionOption = QStringLiteral("version");
const QString StationOption = QStringLiteral("station");
const QString CountOption = QStringLiteral("count");
const QString GoneAfterOption = QStringLiteral("gone-after");

// "com3" names the same port as "COM3"; the labels are shown as the window's menu shows them.
QString portName(const QString& given, QString& error) {
    static const QRegularExpression com(QStringLiteral("^COM([1-9])$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(given);
    if (match.hasMatch())
        return QStringLiteral("COM") + match.captured(1);
    if (given.contains(QLatin1Char('/')))
        return given;
    error = QStringLiteral("'%1' is not a port: give COM1 to COM9, a device path such as /dev/ttyUSB0, or "
                           "a network port such as rfc2217://HOST:PORT or socket://HOST:PORT")
                .arg(given);
    return QString();
}

// NaN fails both comparisons, infinity the upper one.
bool parseSeconds(const QString& text, double& seconds) {
    bool ok = false;
    seconds = text.toDouble(&ok);
    return ok && seconds >= MinIdentifySeconds && seconds <= MaxIdentifySeconds;
}

// The station's own options, and what cannot go with --station. Empty when they are usable.
QString stationOptionsError(const QCommandLineParser& parser, CliOptions& options) {
    const bool station = parser.isSet(StationOption);
    for (const QString& name : {CountOption, GoneAfterOption})
        if (parser.isSet(name) && !station)
            return QStringLiteral("--%1 is an option of --station").arg(name);
    if (!station)
        return QString();
    for (const QString& name : {ComTestOption, ListOption, IdentifyOption, DoctorOption})
        if (parser.isSet(name))
            return QStringLiteral("--station cannot be given with --%1").arg(name);
    for (const QString& name : {CountOption, GoneAfterOption})
        if (parser.values(name).size() > 1)
            return QStringLiteral("--%1 is given more than once").arg(name);
    options.mode = CliOptions::Mode::Station;
    if (parser.isSet(CountOption)) {
        bool ok = false;
        options.count = parser.value(CountOption).toInt(&ok);
        if (!ok || options.count < 1)
            return QStringLiteral("--count: '%1' is not a whole number of modules from 1")
                .arg(parser.value(CountOption));
    }
    if (parser.isSet(GoneAfterOption)) {
        bool ok = false;
        options.goneAfter = parser.value(GoneAfterOption).toDouble(&ok);
        // NaN fails both comparisons, infinity the upper one.
        if (!ok || !(options.goneAfter >= MinGoneAfterSeconds && options.goneAfter <= MaxIdentifySeconds))
            return QStringLiteral(
                       "--gone-after: '%1' is not a number of seconds from 2.4 (two probes) to 604800")
                .arg(parser.value(GoneAfterOption));
    }
    return QString();
}

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// Printable ASCII as it is, every other byte as \xHH: readable on any terminal.
QString escapedBytes(const QByteArray& bytes) {
    QString shown;
    for (const char c : bytes) {
        const auto byte = quint8(c);
        if (byte >= 0x20 && byte < 0x7f)
            shown += QLatin1Char(c);
        else
            shown += QStringLiteral("\\x") +
                     QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return shown;
}
} // namespace

QString cliUsage() {
    return QStringLiteral(
        "Usage: kestrune-update [--image FILE] [--identify-timeout SECONDS] [--json] [--record FILE] "
        "PORT...\n"
        "       kestrune-update --station [--image FILE] [--count N] [--gone-after SECONDS] [--json]\n"
        "                       [--record FILE] PORT...\n"
        "       kestrune-update --list-ports\n"
        "       kestrune-update --comtest PORT\n"
        "       kestrune-update --doctor [--json] [PORT...]\n"
        "\n"
        "Writes a firmware image into the module on each PORT, all ports at the same time.\n"
        "PORT is COM1 to COM9 (mapped as in the window), a device path, or a serial line on a\n"
        "device server: rfc2217://HOST:PORT (RFC 2217) or socket://HOST:PORT (raw TCP, its line\n"
        "set to 115200 8N1 by the server).\n"
        "\n"
        "  --image FILE                the image to write (default: the newest QVL-GEN*.bin\n"
        "                              of the program folder)\n"
        "  --identify-timeout SECONDS  give up on a port where no module answers in time\n"
        "                              (0.1 to 604800, a week)\n"
        "  --json                      one JSON document on standard output at the end (with\n"
        "                              --station: a JSON line per update as it ends)\n"
        "  --record FILE               append the update record to FILE\n"
        "  --station                   a production line: every PORT is a slot that updates each\n"
        "                              module put on it, once, until stopped\n"
        "  --count N                   with --station: end once N modules were updated\n"
        "  --gone-after SECONDS        with --station: a module that has not answered for this\n"
        "                              long is gone (default 5, at least 2.4)\n"
        "  --list-ports                list COM1 to COM9 with their devices and whether they open\n"
        "  --comtest PORT              run the communication test on PORT\n"
        "  --doctor                    say why a port will not open, and the fix (no PORT:\n"
        "                              COM1 to COM9 and every serial device); sends nothing\n"
        "  --help                      show this text\n"
        "  --version                   show the version\n"
        "\n"
        "Ctrl+C, SIGTERM and SIGHUP stop every port at its next wait and record it; a second\n"
        "one ends the program at once.\n"
        "\n"
        "Exit status: 0 every port succeeded, 1 a port did not (or the record or the output\n"
        "could not be written), 2 a usage error or a refused image (nothing was sent),\n"
        "3 the image changed on disk during a station run.\n");
}

QString nonUtf8ArgumentError(const QByteArrayList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i)
        if (!isUtf8(arguments[i]))
            return QStringLiteral("the name '%1' is not valid UTF-8; give the file or port a name in UTF-8, "
                                  "or a link to it named so")
                .arg(escapedBytes(arguments[i]));
    return QString();
}

CliParse parseCliArguments(const QStringList& arguments) {
    CliParse parse;
    CliOptions& options = parse.options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({
        {ImageOption, QString(), QStringLiteral("FILE")},
        {IdentifyOption, QString(), QStringLiteral("SECONDS")},
        {JsonOption, QString()},
        {RecordOption, QString(), QStringLiteral("FILE")},
        {ListOption, QString()},
        {ComTestOption, QString(), QStringLiteral("PORT")},
        {DoctorOption, QString()},
        {{QStringLiteral("h"), HelpOption}, QString()},
        {VersionOption, QString()},
        {StationOption, QString()},
        {CountOption, QString(), QStringLiteral("N")},
        {GoneAfterOption, QString(), QStringLiteral("SECONDS")},
    });
    if (!parser.parse(arguments)) {
        parse.error = parser.errorText();
        return parse;
    }
    if (parser.isSet(HelpOption)) {
        options.mode = CliOptions::Mode::Help;
        return parse;
    }
    if (parser.isSet(VersionOption)) {
        options.mode = CliOptions::Mode::Version;
        return parse;
    }
    for (const QString& name : {ImageOption, IdentifyOption, RecordOption, ComTestOption})
        if (parser.values(name).size() > 1) {
            parse.error = QStringLiteral("--%1 is given more than once").arg(name);
            return parse;
        }

    options.json = parser.isSet(JsonOption);
    options.image = parser.value(ImageOption);
    options.recordFile = parser.value(RecordOption);
    if (parser.isSet(ImageOption) && options.image.isEmpty())
        parse.error = QStringLiteral("--image needs a file");
    else if (parser.isSet(RecordOption) && options.recordFile.isEmpty())
        parse.error = QStringLiteral("--record needs a file");
    else if (parser.isSet(IdentifyOption) &&
             !parseSeconds(parser.value(IdentifyOption), options.identifyLimit))
        parse.error =
            QStringLiteral("--identify-timeout: '%1' is not a number of seconds from 0.1 to 604800 (7 days)")
                .arg(parser.value(IdentifyOption));
    if (parse.error.isEmpty())
        parse.error = stationOptionsError(parser, options);
    if (!parse.error.isEmpty())
        return parse;

    const QStringList positional = parser.positionalArguments();
    const bool list = parser.isSet(ListOption);
    const bool comtest = parser.isSet(ComTestOption);
    const bool updateOptions = parser.isSet(ImageOption) || parser.isSet(IdentifyOption) ||
                               parser.isSet(JsonOption) || parser.isSet(RecordOption);
    if (parser.isSet(DoctorOption)) {
        // The doctor takes --json and any ports; nothing of an update or of the other commands.
        if (list || comtest || parser.isSet(ImageOption) || parser.isSet(IdentifyOption) ||
            parser.isSet(RecordOption)) {
            parse.error = QStringLiteral("--doctor takes only --json and ports");
            return parse;
        }
        options.mode = CliOptions::Mode::Doctor;
        for (const QString& given : positional) {
            const QString port = portName(given, parse.error);
            if (port.isEmpty())
                return parse;
            if (!options.ports.contains(port))
                options.ports << port;
        }
        return parse;
    }
    if (list && comtest) {
        parse.error = QStringLiteral("--list-ports and --comtest cannot be given together");
    } else if ((list || comtest) && (updateOptions || !positional.isEmpty())) {
        parse.error = QStringLiteral("--%1 takes no other options and no further ports")
                          .arg(list ? ListOption : ComTestOption);
    } else if (list) {
        options.mode = CliOptions::Mode::ListPorts;
    } else if (comtest) {
        options.mode = CliOptions::Mode::ComTest;
        const QString port = portName(parser.value(ComTestOption), parse.error);
        if (!port.isEmpty())
            options.ports << port;
    } else if (positional.isEmpty()) {
        parse.error = QStringLiteral("no PORT given");
    } else {
        QSet<QString> seen;
        for (const QString& given : positional) {
            const QString port = portName(given, parse.error);
            if (port.isEmpty())
                break;
            if (seen.contains(port)) {
                parse.error = QStringLiteral("%1 is given twice; each port runs one update").arg(port);
                break;
            }
            seen.insert(port);
            options.ports << port;
        }
    }
    return parse;
}
