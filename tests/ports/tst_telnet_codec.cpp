// The Telnet and COM-PORT-OPTION codec on byte streams: escaping, every split of the server's
// stream, the negotiation that never loops, cut-off and oversized sub-negotiations, the settings.

#include "TelnetCodec.h"

#include <QtTest>

namespace {

// Bytes written as hex pairs; spaces are skipped.
QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray everyByteValue() {
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    return bytes;
}

// A codec as a client has it once it sent its opening.
TelnetCodec started() {
    TelnetCodec codec;
    codec.start();
    return codec;
}

// The stream fed in pieces cut at `cuts` (ascending offsets), the results joined.
TelnetCodec::Decoded feed(TelnetCodec& codec, const QByteArray& stream, const QList<qsizetype>& cuts) {
    TelnetCodec::Decoded all;
    qsizetype from = 0;
    for (const qsizetype cut : cuts + QList<qsizetype>{stream.size()}) {
        const TelnetCodec::Decoded part = codec.decode(QByteArrayView(stream).sliced(from, cut - from));
        all.data += part.data;
        all.reply += part.reply;
        from = cut;
    }
    return all;
}

QByteArray ack(quint8 command, const QByteArray& value) {
    return hex("ff fa 2c") + char(command + ComPort::ServerOffset) + value + hex("ff f0");
}

} // namespace

class TestTelnetCodec : public QObject {
    Q_OBJECT
private slots:
    void escaping_data();
    void escaping();
    void everySplit_data();
    void everySplit();
    void negotiation_data();
    void negotiation();
    void cutOffByADroppedConnection_data();
    void cutOffByADroppedConnection();
    void oversizedSubnegotiation_data();
    void oversizedSubnegotiation();
    void settingsBytes();
    void acknowledgementText_data();
    void acknowledgementText();
};

void TestTelnetCodec::escaping_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("no 0xFF") << QByteArray("OK\x01") << QByteArray("OK\x01");
    QTest::newRow("announcement of 255 sectors") << QByteArray("OK\xff") << QByteArray("OK\xff\xff");
    QTest::newRow("erased flash") << QByteArray(5, '\xff') << QByteArray(10, '\xff');
    QTest::newRow("0xFF at both ends and IAC-like pairs")
        << hex("ff f0 fa ff fb ff") << hex("ff ff f0 fa ff ff fb ff ff");
    QByteArray everyWire = everyByteValue();
    everyWire.append('\xff');
    QTest::newRow("every byte value") << everyByteValue() << everyWire;
    QTest::newRow("nothing") << QByteArray() << QByteArray();
}

void TestTelnetCodec::escaping() {
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, wire);
    QCOMPARE(TelnetCodec::escape(data), wire);
    // What the server sends back the same way comes out as the data, at every split.
    for (qsizetype cut = 0; cut <= wire.size(); ++cut) {
        TelnetCodec codec = started();
        const TelnetCodec::Decoded decoded = feed(codec, wire, {cut});
        QCOMPARE(decoded.data, data);
        QVERIFY(decoded.reply.isEmpty());
    }
}

void TestTelnetCodec::everySplit_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("acks");
    QTest::newRow("doubled IAC between data") << hex("4f ff ff 4b") << hex("4f ff 4b") << QByteArray() << 0;
    QTest::newRow("the server confirms our offers")
        << hex("ff fd 2c ff fd 00 ff fb 00 ff fd 03 ff fb 03") << QByteArray() << QByteArray() << 0;
    QTest::newRow("an unknown option between data")
        << QByteArray("OK") + hex("ff fb 18") + "EN" << QByteArray("OKEN") << hex("ff fe 18") << 0;
    QTest::newRow("echo asked of us") << hex("ff fd 01 41") << QByteArray("A") << hex("ff fc 01") << 0;
    QTest::newRow("no-operation and go-ahead")
        << hex("41 ff f1 42 ff f9 43") << QByteArray("ABC") << QByteArray() << 0;
    QTest::newRow("baud rate acknowledged between data")
        << QByteArray("O") + ack(ComPort::SetBaudRate, hex("00 01 c2 00")) + "K" << QByteArray("OK")
        << QByteArray() << 1;
    QTest::newRow("acknowledgement with a doubled 0xFF in its value")
        << ack(ComPort::SetBaudRate, hex("00 00 ff ff 00")) + hex("ff ff") << hex("ff") << QByteArray() << 1;
    QTest::newRow("every acknowledgement and a notification")
        << ack(1, hex("00 01 c2 00")) + ack(2, hex("08")) + ack(3, hex("01")) + ack(4, hex("01")) +
               ack(5, hex("01")) + hex("ff fa 2c 6b 30 ff f0") + "EN"
        << QByteArray("EN") << QByteArray() << 5;
    QTest::newRow("a sub-negotiation of another option")
        << hex("ff fa 18 01 ff f0 41") << QByteArray("A") << QByteArray() << 0;
}

void TestTelnetCodec::everySplit() {
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, reply);
    QFETCH(int, acks);
    // In one piece, cut once at every position, and one byte at a time.
    QList<QList<qsizetype>> splits{{}};
    QList<qsizetype> everyByte;
    for (qsizetype cut = 1; cut < stream.size(); ++cut) {
        splits << QList<qsizetype>{cut};
        everyByte << cut;
    }
    splits << everyByte;
    for (const QList<qsizetype>& cuts : splits) {
        TelnetCodec codec = started();
        const TelnetCodec::Decoded decoded = feed(codec, stream, cuts);
        const QByteArray where = "cut at " + QByteArray::number(cuts.isEmpty() ? 0 : cuts.first()) + " of " +
                                 QByteArray::number(cuts.size()) + " cuts";
        QVERIFY2(decoded.data == data, where.constData());
        QVERIFY2(decoded.reply == reply, where.constData());
        QVERIFY2(codec.acknowledgements().size() == acks, where.constData());
    }
    if (QByteArray(QTest::currentDataTag()).contains("doubled 0xFF in its value")) {
        TelnetCodec codec = started();
        codec.decode(stream);
        QCOMPARE(codec.acknowledgements().value(ComPort::SetBaudRate), hex("00 00 ff 00"));
    }
}

void TestTelnetCodec::negotiation_data() {
    QTest::addColumn<bool>("start");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("comPortRefused");
    QTest::newRow("an unknown option offered twice")
        << true << hex("ff fb 18 ff fb 18") << hex("ff fe 18") << false;
    QTest::newRow("an unknown option asked twice")
        << true << hex("ff fd 1f ff fd 1f") << hex("ff fc 1f") << false;
    QTest::newRow("offered, withdrawn and offered again")
        << true << hex("ff fb 18 ff fc 18 ff fb 18") << hex("ff fe 18") << false;
    QTest::newRow("our offers confirmed twice")
        << true << hex("ff fd 2c ff fd 2c ff fb 00 ff fb 00 ff fd 03 ff fd 03") << QByteArray() << false;
    QTest::newRow("the server offers binary first")
        << false << hex("ff fb 00 ff fb 00") << hex("ff fd 00") << false;
    QTest::newRow("the server asks for binary first")
        << false << hex("ff fd 00 ff fd 00") << hex("ff fb 00") << false;
    QTest::newRow("binary granted, then taken back twice")
        << true << hex("ff fd 00 ff fe 00 ff fe 00") << hex("ff fc 00") << false;
    QTest::newRow("the server refuses binary") << true << hex("ff fc 00 ff fe 00") << QByteArray() << false;
    QTest::newRow("the server refuses COM-PORT-OPTION") << true << hex("ff fe 2c") << QByteArray() << true;
    QTest::newRow("COM-PORT-OPTION refused, then asked for")
        << true << hex("ff fe 2c ff fd 2c") << hex("ff fb 2c") << false;
    QTest::newRow("the server wants to set our options")
        << true << hex("ff fb 01 ff fb 1f ff fd 18 ff fb 01") << hex("ff fe 01 ff fe 1f ff fc 18") << false;
}

void TestTelnetCodec::negotiation() {
    QFETCH(bool, start);
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, reply);
    QFETCH(bool, comPortRefused);
    TelnetCodec codec;
    if (start)
        codec.start();
    const TelnetCodec::Decoded decoded = codec.decode(stream);
    QCOMPARE(decoded.reply.toHex(' '), reply.toHex(' '));
    QVERIFY(decoded.data.isEmpty());
    QCOMPARE(codec.comPortRefused(), comPortRefused);
    // Answered by a peer that answers the same way, the exchange dies out instead of looping.
    TelnetCodec peer;
    QByteArray toPeer = decoded.reply;
    int rounds = 0;
    while (!toPeer.isEmpty() && rounds < 10) {
        toPeer = codec.decode(peer.decode(toPeer).reply).reply;
        ++rounds;
    }
    QVERIFY2(toPeer.isEmpty(), qPrintable(QStringLiteral("still answering after %1 rounds").arg(rounds)));
}

void TestTelnetCodec::cutOffByADroppedConnection_data() {
    QTest::addColumn<QByteArray>("partial");
    QTest::newRow("after IAC") << hex("ff");
    QTest::newRow("after IAC WILL") << hex("ff fb");
    QTest::newRow("after IAC SB") << hex("ff fa");
    QTest::newRow("inside an acknowledgement") << hex("ff fa 2c 65 00 01");
    QTest::newRow("after IAC inside an acknowledgement") << hex("ff fa 2c 65 00 01 c2 00 ff");
    QTest::newRow("inside an oversized sub-negotiation") << hex("ff fa 2c 64") + QByteArray(2000, 'x');
}

void TestTelnetCodec::cutOffByADroppedConnection() {
    QFETCH(QByteArray, partial);
    TelnetCodec codec = started();
    const TelnetCodec::Decoded cut = codec.decode(partial);
    QVERIFY(cut.data.isEmpty());
    QVERIFY(cut.reply.isEmpty());
    codec.reset();
    // The next connection's bytes are data again, not the rest of what was cut off.
    const TelnetCodec::Decoded next = codec.decode(hex("fb 18 f0 4f 4b ff ff"));
    QCOMPARE(next.data, hex("fb 18 f0 4f 4b ff"));
    QVERIFY(next.reply.isEmpty());
    QVERIFY(codec.acknowledgements().isEmpty());
    QVERIFY(codec.signature().isEmpty());
}

void TestTelnetCodec::oversizedSubnegotiation_data() {
    QTest::addColumn<QByteArray>("content"); // after IAC SB, before IAC SE
    QTest::addColumn<bool>("kept");
    const QByteArray head = hex("2c 64");
    QTest::newRow("a signature of exactly 1 KiB")
        << head + QByteArray(TelnetCodec::MaxSubnegotiation - 2, 's') << true;
    QTest::newRow("one byte over 1 KiB")
        << head + QByteArray(TelnetCodec::MaxSubnegotiation - 1, 's') << false;
    QTest::newRow("a megabyte") << head + QByteArray(1 << 20, 's') << false;
    QTest::newRow("a megabyte of doubled IACs") << head + QByteArray(1 << 20, '\xff') << false;
}

void TestTelnetCodec::oversizedSubnegotiation() {
    QFETCH(QByteArray, content);
    QFETCH(bool, kept);
    TelnetCodec codec = started();
    const QByteArray stream =
        hex("ff fa") + content + hex("ff f0") + "OK" + ack(ComPort::SetDataSize, hex("08"));
    // In reads of 4 KiB, as a socket delivers them.
    QList<qsizetype> cuts;
    for (qsizetype at = 4096; at < stream.size(); at += 4096)
        cuts << at;
    const TelnetCodec::Decoded decoded = feed(codec, stream, cuts);
    QCOMPARE(decoded.data, QByteArray("OK"));
    QVERIFY(decoded.reply.isEmpty());
    QCOMPARE(codec.signature().size(), kept ? content.size() - 2 : 0);
    // The parser is back in step after the dropped one.
    QCOMPARE(codec.acknowledgements().value(ComPort::SetDataSize), hex("08"));
}

void TestTelnetCodec::settingsBytes() {
    const QByteArray settings = hex("ff fa 2c 01 00 01 c2 00 ff f0"
                                    "ff fa 2c 02 08 ff f0"
                                    "ff fa 2c 03 01 ff f0"
                                    "ff fa 2c 04 01 ff f0"
                                    "ff fa 2c 05 01 ff f0");
    QCOMPARE(TelnetCodec::settings().toHex(' '), settings.toHex(' '));
    TelnetCodec codec;
    const QByteArray opening = hex("ff fb 2c ff fb 00 ff fd 00 ff fb 03 ff fd 03");
    QCOMPARE(codec.start().toHex(' '), (opening + settings).toHex(' '));
    // A second start is a new connection: the same bytes, nothing remembered.
    codec.decode(ack(ComPort::SetParity, hex("01")));
    QCOMPARE(codec.start().toHex(' '), (opening + settings).toHex(' '));
    QVERIFY(codec.acknowledgements().isEmpty());
}

void TestTelnetCodec::acknowledgementText_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("text");
    const QByteArray four =
        ack(1, hex("00 01 c2 00")) + ack(2, hex("08")) + ack(3, hex("01")) + ack(4, hex("01"));
    QTest::newRow("all five") << four + ack(5, hex("01"))
                              << "the server acknowledged 115200 baud, 8 data bits, no parity, 1 stop bit, "
                                 "no flow control";
    QTest::newRow("no answer to the flow control")
        << four
        << "the server acknowledged 115200 baud, 8 data bits, no parity, 1 stop bit; "
           "not acknowledged: no flow control";
    QTest::newRow("none")
        << QByteArray()
        << "not acknowledged: 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control";
    QTest::newRow("another speed and a malformed value")
        << ack(1, hex("00 00 25 80")) + ack(2, hex("08 08"))
        << "the server acknowledged 9600 baud (asked for 115200 baud), value 08 08 for setting 2 "
           "(asked for 8 data bits); not acknowledged: no parity, 1 stop bit, no flow control";
    QTest::newRow("COM-PORT-OPTION refused")
        << hex("ff fe 2c") << "the server refused COM-PORT-OPTION: the line keeps the server's settings";
}

void TestTelnetCodec::acknowledgementText() {
    QFETCH(QByteArray, stream);
    QFETCH(QString, text);
    TelnetCodec codec = started();
    codec.decode(stream);
    QCOMPARE(codec.acknowledgementText(), text);
}

QTEST_GUILESS_MAIN(TestTelnetCodec)
#include "tst_telnet_codec.moc"
