#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QMap>
#include <QString>
#include <array>

// Telnet as a serial device server speaks it, with the COM-PORT-OPTION of RFC 2217 that lets a
// client set the server's serial line. No sockets here: bytes in, bytes out, so every split of
// the stream across reads can be tried in a test.
namespace Telnet {
constexpr quint8 SE = 240;
constexpr quint8 SB = 250;
constexpr quint8 WILL = 251;
constexpr quint8 WONT = 252;
constexpr quint8 DO = 253;
constexpr quint8 DONT = 254;
constexpr quint8 IAC = 255;

constexpr quint8 OptionBinary = 0;
constexpr quint8 OptionSuppressGoAhead = 3;
constexpr quint8 OptionComPort = 44;
} // namespace Telnet

// COM-PORT-OPTION commands. The server answers a client's command n with n + ServerOffset.
namespace ComPort {
constexpr quint8 Signature = 0;
constexpr quint8 SetBaudRate = 1;
constexpr quint8 SetDataSize = 2;
constexpr quint8 SetParity = 3;
constexpr quint8 SetStopSize = 4;
constexpr quint8 SetControl = 5;
constexpr quint8 ServerOffset = 100;

constexpr quint32 BaudRate = 115200;
constexpr quint8 DataSize = 8;
constexpr quint8 ParityNone = 1;
constexpr quint8 StopSizeOne = 1;
constexpr quint8 ControlNoFlow = 1;
} // namespace ComPort

class TelnetCodec {
public:
    // A server's sub-negotiation longer than this is dropped unread: memory stays bounded
    // whatever the server sends.
    static constexpr int MaxSubnegotiation = 1024;

    struct Decoded {
        QByteArray data;  // the serial line's bytes, IAC IAC undone
        QByteArray reply; // answers to the server's negotiation, to be sent back
    };

    // One setting the client asks for: a COM-PORT-OPTION command with its value.
    struct Setting {
        quint8 command;
        QByteArray value;
    };

    // `data` with every 0xFF byte doubled, as Telnet sends a data byte that equals IAC.
    static QByteArray escape(QByteArrayView data);
    // 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control, in sending order.
    static QList<Setting> wantedSettings();
    // IAC SB COM-PORT-OPTION <command> <value, 0xFF doubled> IAC SE for each wanted setting.
    static QByteArray settings();
    // The setting as the operator reads it, e.g. "115200 baud", "no parity".
    static QString describeSetting(quint8 command, QByteArrayView value);

    // Forgets everything from an earlier connection and returns what a client sends first: it
    // offers COM-PORT-OPTION, asks for BINARY and SUPPRESS-GO-AHEAD both ways, and sets the line.
    QByteArray start();
    // Takes the next bytes from the server, in any split, and returns the data and the answers.
    Decoded decode(QByteArrayView chunk);
    // The connection dropped: a command or sub-negotiation cut off is forgotten, not finished.
    void reset();

    // The server's answers to the settings: command (SetBaudRate ... SetControl) → value.
    const QMap<quint8, QByteArray>& acknowledgements() const { return acks; }
    // The server said it will not take COM-PORT-OPTION: the line keeps the server's settings.
    bool comPortRefused() const { return refusedComPort; }
    // The server said WONT or DONT BINARY: it would treat the data as text (CR NUL, CR LF) and
    // could change image bytes such as 0D 00 on their way to the module.
    bool binaryRefused() const { return refusedBinary; }
    // Whether an option is agreed on the server's side (it WILL, we said DO) or on ours.
    bool serverOption(quint8 option) const { return him[option] == State::Yes; }
    bool clientOption(quint8 option) const { return us[option] == State::Yes; }
    // The server agreed to BINARY both ways (it sent WILL BINARY and DO BINARY): 8-bit data
    // pass unchanged in either direction.
    bool binaryAgreed() const {
        return us[Telnet::OptionBinary] == State::Yes && him[Telnet::OptionBinary] == State::Yes;
    }
    // The server's signature, when it sent one (raw bytes, as received).
    const QByteArray& signature() const { return serverSignature; }
    // Which settings the server acknowledged, with their values, and which not (yet).
    QString acknowledgementText() const;

private:
    // The option states of RFC 1143: an answer is sent only when a state changes, so two
    // parties that both answer every request cannot loop.
    enum class State : quint8 { No, Yes, WantYes };
    enum class Parse : quint8 { Data, Command, Option, Sub, SubIac };

    void command(quint8 byte, Decoded& out);
    void negotiate(quint8 verb, quint8 option, QByteArray& reply);
    void subnegotiation();

    Parse parse = Parse::Data;
    quint8 verb = 0;
    QByteArray sub;
    bool subTooLong = false;
    std::array<State, 256> us{};  // options on our side (DO/DONT from the server)
    std::array<State, 256> him{}; // options on the server's side (WILL/WONT)
    std::array<bool, 256> refusedUs{};
    std::array<bool, 256> refusedHim{};
    QMap<quint8, QByteArray> acks;
    bool refusedComPort = false;
    bool refusedBinary = false;
    QByteArray serverSignature;
};
