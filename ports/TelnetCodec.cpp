// The Telnet and COM-PORT-OPTION codec: escaping, the negotiation, the settings and their acknowledgements.
#include "TelnetCodec.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("TelnetCodec", text);
}

QByteArray negotiation(quint8 verb, quint8 option) {
    QByteArray bytes;
    bytes += char(Telnet::IAC);
    bytes += char(verb);
    bytes += char(option);
    return bytes;
}

// What a serial client takes from a server: a clean 8-bit path without go-aheads, and on our
// side the COM-PORT-OPTION through which the line is set. Everything else is refused.
bool acceptOurs(quint8 option) {
    return option == Telnet::OptionBinary || option == Telnet::OptionSuppressGoAhead ||
           option == Telnet::OptionComPort;
}

bool acceptServers(quint8 option) {
    return option == Telnet::OptionBinary || option == Telnet::OptionSuppressGoAhead;
}

} // namespace

QByteArray TelnetCodec::escape(QByteArrayView data) {
    QByteArray out;
    out.reserve(data.size() + data.count(char(Telnet::IAC)));
    for (const char byte : data) {
        out += byte;
        if (quint8(byte) == Telnet::IAC)
            out += byte;
    }
    return out;
}

QList<TelnetCodec::Setting> TelnetCodec::wantedSettings() {
    QByteArray baud(4, '\0');
    for (int i = 0; i < 4; ++i) // network byte order
        baud[i] = char((ComPort::BaudRate >> (8 * (3 - i))) & 0xff);
    return {{ComPort::SetBaudRate, baud},
            {ComPort::SetDataSize, QByteArray(1, char(ComPort::DataSize))},
            {ComPort::SetParity, QByteArray(1, char(ComPort::ParityNone))},
            {ComPort::SetStopSize, QByteArray(1, char(ComPort::StopSizeOne))},
            {ComPort::SetControl, QByteArray(1, char(ComPort::ControlNoFlow))}};
}

QByteArray TelnetCodec::settings() {
    QByteArray out;
    for (const Setting& setting : wantedSettings()) {
        out += char(Telnet::IAC);
        out += char(Telnet::SB);
        out += char(Telnet::OptionComPort);
        out += char(setting.command);
        out += escape(setting.value);
        out += char(Telnet::IAC);
        out += char(Telnet::SE);
    }
    return out;
}

QString TelnetCodec::describeSetting(quint8 command, QByteArrayView value) {
    const auto unexpected = [&] {
        return tr("value %1 for setting %2")
            .arg(QString::fromLatin1(value.toByteArray().toHex(' ')))
            .arg(command);
    };
    if (command == ComPort::SetBaudRate) {
        if (value.size() != 4)
            return unexpected();
        quint32 baud = 0;
        for (const char byte : value)
            baud = (baud << 8) | quint8(byte);
        return tr("%1 baud").arg(baud);
    }
    if (value.size() != 1)
        return unexpected();
    const int v = quint8(value[0]);
    switch (command) {
    case ComPort::SetDataSize:
        return tr("%1 data bits").arg(v);
    case ComPort::SetParity: {
        static constexpr const char* names[] = {"no parity", "odd parity", "even parity", "mark parity",
                                                "space parity"};
        return v >= 1 && v <= 5 ? tr(names[v - 1]) : unexpected();
    }
    case ComPort::SetStopSize:
        return v == 1   ? tr("1 stop bit")
               : v == 2 ? tr("2 stop bits")
               : v == 3 ? tr("1.5 stop bits")
                        : unexpected();
    case ComPort::SetControl:
        return v == 1   ? tr("no flow control")
               : v == 2 ? tr("XON/XOFF flow control")
               : v == 3 ? tr("hardware flow control")
                        : unexpected();
    default:
        return unexpected();
    }
}

QByteArray TelnetCodec::start() {
    *this = TelnetCodec();
    QByteArray out;
    us[Telnet::OptionComPort] = State::WantYes;
    out += negotiation(Telnet::WILL, Telnet::OptionComPort);
    for (const quint8 option : {Telnet::OptionBinary, Telnet::OptionSuppressGoAhead}) {
        us[option] = State::WantYes;
        him[option] = State::WantYes;
        out += negotiation(Telnet::WILL, option);
        out += negotiation(Telnet::DO, option);
    }
    return out + settings();
}

void TelnetCodec::reset() {
    parse = Parse::Data;
    sub.clear();
    subTooLong = false;
}

TelnetCodec::Decoded TelnetCodec::decode(QByteArrayView chunk) {
    Decoded out;
    out.data.reserve(chunk.size());
    for (const char c : chunk) {
        const quint8 byte = quint8(c);
        switch (parse) {
        case Parse::Data:
            if (byte == Telnet::IAC)
                parse = Parse::Command;
            else
                out.data += c;
            break;
        case Parse::Command:
            command(byte, out);
            break;
        case Parse::Option:
            negotiate(verb, byte, out.reply);
            parse = Parse::Data;
            break;
        case Parse::Sub:
            if (byte == Telnet::IAC) {
                parse = Parse::SubIac;
            } else if (sub.size() < MaxSubnegotiation) {
                sub += c;
            } else {
                subTooLong = true;
            }
            break;
        case Parse::SubIac:
            if (byte == Telnet::IAC) {
                parse = Parse::Sub;
                if (sub.size() < MaxSubnegotiation)
                    sub += c;
                else
                    subTooLong = true;
            } else if (byte == Telnet::SE) {
                parse = Parse::Data;
                if (!subTooLong)
                    subnegotiation();
                sub.clear();
                subTooLong = false;
            } else {
                // A command inside a sub-negotiation: the server broke it off. Drop what came
                // and take the command as it stands, so the stream does not stay swallowed.
                sub.clear();
                subTooLong = false;
                command(byte, out);
            }
            break;
        }
    }
    return out;
}

void TelnetCodec::command(quint8 byte, Decoded& out) {
    parse = Parse::Data;
    if (byte == Telnet::IAC) {
        out.data += char(Telnet::IAC);
    } else if (byte >= Telnet::WILL) {
        verb = byte;
        parse = Parse::Option;
    } else if (byte == Telnet::SB) {
        parse = Parse::Sub;
    }
    // Every other command (NOP, GO-AHEAD, DATA-MARK, ...) means nothing to a serial line.
}

void TelnetCodec::negotiate(quint8 verbByte, quint8 option, QByteArray& reply) {
    const bool serverSide = verbByte == Telnet::WILL || verbByte == Telnet::WONT;
    const bool enable = verbByte == Telnet::WILL || verbByte == Telnet::DO;
    State& state = serverSide ? him[option] : us[option];
    bool& refused = serverSide ? refusedHim[option] : refusedUs[option];
    const quint8 yes = serverSide ? Telnet::DO : Telnet::WILL;
    const quint8 no = serverSide ? Telnet::DONT : Telnet::WONT;
    const bool accept = serverSide ? acceptServers(option) : acceptOurs(option);

    if (enable) {
        if (state == State::WantYes) {
            state = State::Yes; // the answer to our own request
        } else if (state == State::No) {
            if (accept) {
                state = State::Yes;
                reply += negotiation(yes, option);
            } else if (!refused) {
                // Refused once; a server that keeps asking gets no further answer.
                refused = true;
                reply += negotiation(no, option);
            }
        }
    } else {
        if (state == State::Yes)
            reply += negotiation(no, option);
        state = State::No;
    }
    if (!serverSide && option == Telnet::OptionComPort)
        refusedComPort = !enable;
    if (option == Telnet::OptionBinary && !enable)
        refusedBinary = true;
}

void TelnetCodec::subnegotiation() {
    if (sub.size() < 2 || quint8(sub[0]) != Telnet::OptionComPort)
        return;
    const quint8 code = quint8(sub[1]);
    const QByteArray value = sub.mid(2);
    if (code == ComPort::Signature + ComPort::ServerOffset) {
        if (!value.isEmpty())
            serverSignature = value;
    } else if (code >= ComPort::SetBaudRate + ComPort::ServerOffset &&
               code <= ComPort::SetControl + ComPort::ServerOffset) {
        acks.insert(quint8(code - ComPort::ServerOffset), value);
    }
}

QString TelnetCodec::acknowledgementText() const {
    if (refusedComPort)
        return tr("the server refused COM-PORT-OPTION: the line keeps the server's settings");
    QStringList acknowledged;
    QStringList missing;
    for (const Setting& wanted : wantedSettings()) {
        const auto ack = acks.constFind(wanted.command);
        if (ack == acks.constEnd()) {
            missing << describeSetting(wanted.command, wanted.value);
        } else if (*ack == wanted.value) {
            acknowledged << describeSetting(wanted.command, *ack);
        } else {
            acknowledged << tr("%1 (asked for %2)")
                                .arg(describeSetting(wanted.command, *ack),
                                     describeSetting(wanted.command, wanted.value));
        }
    }
    QStringList parts;
    if (!acknowledged.isEmpty())
        parts << tr("the server acknowledged %1").arg(acknowledged.join(QStringLiteral(", ")));
    if (!missing.isEmpty())
        parts << tr("not acknowledged: %1").arg(missing.join(QStringLiteral(", ")));
    return parts.join(QStringLiteral("; "));
}
