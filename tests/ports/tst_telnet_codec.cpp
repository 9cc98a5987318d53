// The Telnet and COM-PORT-OPTION codec on byte streams: every split of the server's stream, the
// negotiation that never loops, cut-off and oversized sub-negotiations, the settings' bytes.

#include "TelnetCodec.h"

#include <QtTest>

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text)); // spaces are skipped
}

QByteArray ack(int command, const char* value) {
    return hex("ff fa 2c") + char(command + ComPort::ServerOffset) + hex(value) + hex("ff f0");
}

QByteArray everyByteValue() {
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    return bytes;
}

} // namespace

class TestTelnetCodec : public QObject {
    Q_OBJECT
private slots:
    void decode_data();
    void decode();
    void cutOffByADroppedConnection_data();
    void cutOffByADroppedConnection();
    void bytesSent();
};

void TestTelnetCodec::decode_data() {
    QTest::addColumn<bool>("start"); // the client sent its opening first
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("acknowledged"); // empty: not checked
    QTest::addColumn<int>("signature");        // bytes kept of the server's signature
    QTest::addColumn<bool>("textMode");        // the server refused BINARY one way or the other
    const QByteArray none;
    const QByteArray four = ack(1, "00 01 c2 00") + ack(2, "08") + ack(3, "01") + ack(4, "01");
    QTest::newRow("0xFF doubled is undone")
        << true << TelnetCodec::escape(everyByteValue()) << everyByteValue() << none << "" << 0 << false;
    QTest::newRow("an unknown option offered twice, refused once")
        << true << "OK" + hex("ff fb 18") + "EN" + hex("ff fb 18") << QByteArray("OKEN") << hex("ff fe 18")
        << "" << 0 << false;
    QTest::newRow("unknown options asked of us, twice")
        << true << hex("ff fd 1f ff fd 01 ff fd 1f") << none << hex("ff fc 1f ff fc 01") << "" << 0 << false;
    QTest::newRow("our offers confirmed twice are not answered")
        << true << hex("ff fd 2c ff fd 2c ff fb 00 ff fb 00 ff fd 03 ff fb 03 ff fd 03") << none << none << ""
        << 0 << false;
    QTest::newRow("the server offers binary first")
        << false << hex("ff fb 00 ff fb 00") << none << hex("ff fd 00") << "" << 0 << false;
    QTest::newRow("binary taken back twice")
        << true << hex("ff fd 00 ff fe 00 ff fe 00") << none << hex("ff fc 00") << "" << 0 << true;
    QTest::newRow("binary refused by the server (WONT)")
        << true << hex("ff fc 00 41") << QByteArray("A") << none << "" << 0 << true;
    QTest::newRow("binary refused for our side (DONT)")
        << true << hex("41 ff fe 00") << QByteArray("A") << none << "" << 0 << true;
    QTest::newRow("COM-PORT-OPTION refused")
        << true << hex("ff fe 2c 41") << QByteArray("A") << none
        << "the server refused COM-PORT-OPTION: the line keeps the server's settings" << 0 << false;
    QTest::newRow("no-operation and go-ahead")
        << true << hex("41 ff f1 42 ff f9 43") << QByteArray("ABC") << none << "" << 0 << false;
    QTest::newRow("acknowledgements among data, flow control unanswered")
        << true << "O" + four + hex("ff fa 2c 6b 30 ff f0") + "K" << QByteArray("OK") << none
        << "the server acknowledged 115200 baud, 8 data bits, no parity, 1 stop bit; "
           "not acknowledged: no flow control"
        << 0 << false;
    QTest::newRow("another speed, with a doubled 0xFF in its value")
        << true << ack(1, "00 00 ff ff 00") + ack(5, "01") << none << none
        << "the server acknowledged 65280 baud (asked for 115200 baud), no flow control; "
           "not acknowledged: 8 data bits, no parity, 1 stop bit"
        << 0 << false;
    QTest::newRow("a signature of exactly 1 KiB")
        << true
        << hex("ff fa 2c 64") + QByteArray(TelnetCodec::MaxSubnegotiation - 2, 's') + hex("ff f0") + "OK"
        << QByteArray("OK") << none << "" << TelnetCodec::MaxSubnegotiation - 2 << false;
    QTest::newRow("one byte over 1 KiB is dropped, the next is read")
        << true
        << hex("ff fa 2c 64") + QByteArray(TelnetCodec::MaxSubnegotiation - 1, 's') + hex("ff f0") + "OK" +
               ack(2, "08")
        << QByteArray("OK") << none
        << "the server acknowledged 8 data bits; not acknowledged: 115200 baud, "
           "no parity, 1 stop bit, no flow control"
        << 0 << false;
    QTest::newRow("a megabyte of doubled IACs is dropped")
        << true << hex("ff fa 2c 64") + QByteArray(1 << 20, '\xff') + hex("ff f0 4f 4b") << QByteArray("OK")
        << none << "" << 0 << false;
}

void TestTelnetCodec::decode() {
    QFETCH(bool, start);
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, reply);
    QFETCH(QString, acknowledged);
    QFETCH(int, signature);
    QFETCH(bool, textMode);
    // Whole, cut once at every position, one byte at a time, and in reads of 4 KiB.
    QList<QList<qsizetype>> splits{{}, {}, {}};
    for (qsizetype cut = 1; cut < stream.size(); ++cut) {
        if (stream.size() < 100)
            splits << QList<qsizetype>{cut};
        if (stream.size() < 4096)
            splits[1] << cut;
        if (cut % 4096 == 0)
            splits[2] << cut;
    }
    for (const QList<qsizetype>& cuts : splits) {
        TelnetCodec codec;
        if (start)
            codec.start();
        TelnetCodec::Decoded all;
        qsizetype from = 0;
        for (const qsizetype cut : cuts + QList<qsizetype>{stream.size()}) {
            const TelnetCodec::Decoded part = codec.decode(QByteArrayView(stream).sliced(from, cut - from));
            all.data += part.data;
            all.reply += part.reply;
            from = cut;
        }
        const QByteArray where = QByteArray::number(cuts.size()) + " cuts from " +
                                 QByteArray::number(cuts.isEmpty() ? 0 : cuts.first());
        QVERIFY2(all.data == data, where.constData());
        QVERIFY2(all.reply.toHex(' ') == reply.toHex(' '), (where + ": " + all.reply.toHex(' ')).constData());
        QVERIFY2(acknowledged.isEmpty() || codec.acknowledgementText() == acknowledged,
                 qPrintable(codec.acknowledgementText()));
        QCOMPARE(codec.signature().size(), signature);
        QCOMPARE(codec.binaryRefused(), textMode);
        // Answered by a peer that answers the same way, the exchange dies out instead of looping.
        TelnetCodec peer;
        QByteArray toPeer = all.reply;
        for (int round = 0; round < 10 && !toPeer.isEmpty(); ++round)
            toPeer = codec.decode(peer.decode(toPeer).reply).reply;
        QVERIFY2(toPeer.isEmpty(), "the negotiation loops");
    }
}

void TestTelnetCodec::cutOffByADroppedConnection_data() {
    QTest::addColumn<QByteArray>("partial");
    QTest::newRow("after IAC") << hex("ff");
    QTest::newRow("after IAC WILL") << hex("ff fb");
    QTest::newRow("inside an acknowledgement") << hex("ff fa 2c 65 00 01");
    QTest::newRow("after IAC inside an acknowledgement") << hex("ff fa 2c 65 00 01 c2 00 ff");
    QTest::newRow("inside an oversized sub-negotiation") << hex("ff fa 2c 64") + QByteArray(2000, 'x');
}

void TestTelnetCodec::cutOffByADroppedConnection() {
    QFETCH(QByteArray, partial);
    TelnetCodec codec;
    codec.start();
    const TelnetCodec::Decoded cut = codec.decode(partial);
    QVERIFY(cut.data.isEmpty() && cut.reply.isEmpty());
    codec.reset();
    // The next connection's bytes are data again, not the rest of what was cut off.
    const TelnetCodec::Decoded next = codec.decode(hex("fb 18 f0 4f 4b ff ff"));
    QCOMPARE(next.data.toHex(' '), hex("fb 18 f0 4f 4b ff").toHex(' '));
    QVERIFY(next.reply.isEmpty());
    QVERIFY(codec.acknowledgements().isEmpty() && codec.signature().isEmpty());
}

void TestTelnetCodec::bytesSent() {
    QCOMPARE(TelnetCodec::escape(QByteArray("OK\xff", 3)), QByteArray("OK\xff\xff"));
    QCOMPARE(TelnetCodec::escape(everyByteValue()), everyByteValue() + '\xff');
    const QByteArray settings =
        hex("ff fa 2c 01 00 01 c2 00 ff f0  ff fa 2c 02 08 ff f0  ff fa 2c 03 01 ff f0"
            "ff fa 2c 04 01 ff f0  ff fa 2c 05 01 ff f0");
    QCOMPARE(TelnetCodec::settings().toHex(' '), settings.toHex(' '));
    const QByteArray opening = hex("ff fb 2c ff fb 00 ff fd 00 ff fb 03 ff fd 03") + settings;
    TelnetCodec codec;
    QCOMPARE(codec.start().toHex(' '), opening.toHex(' '));
    // A second start is a new connection: the same bytes, nothing remembered.
    codec.decode(ack(ComPort::SetParity, "01") + hex("ff fd 2c"));
    QCOMPARE(codec.start().toHex(' '), opening.toHex(' '));
    QVERIFY(codec.acknowledgements().isEmpty());
}

QTEST_GUILESS_MAIN(TestTelnetCodec)
#include "tst_telnet_codec.moc"
