#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The serial control the whole utility talks through (the window's `MSComm1`).
// Text maps one character to one byte. The line runs at 115200 baud, 8N1, no flow control.
class SerialControl : public QObject {
    Q_OBJECT
public:
    // Values of CommEvent.
    static constexpr int comEvReceive = 2;
    static constexpr int comEventOverrun = 1006;
    static constexpr int comEventRxOver = 1008;
    // The line went away (peer hung up, adapter unplugged); the port has been closed.
    static constexpr int comEventLineLost = 1100;

    enum class OpenFailure { None, Absent, PermissionDenied, Busy, Other };

    using QObject::QObject;

    void setCommPort(int port) { commPort = port; }
    int CommPort() const { return commPort; }

    // Opens or closes the port. Opening returns false when it fails; openFailure()
    // and openFailureText() then say why.
    virtual bool setPortOpen(bool open) = 0;
    virtual bool PortOpen() const = 0;
    OpenFailure openFailure() const { return failure; }
    const QString& openFailureText() const { return failureText; }
    // Why the last open failed, without the port's name where the text can do without it
    // ("it does not exist"), for messages that name the port themselves.
    const QString& openFailureReason() const { return failureReason; }

    void setInBufferSize(int size) { inBufferSize = size; }
    int InBufferSize() const { return inBufferSize; }
    void setInputLen(int length) { inputLen = length; }
    int InputLen() const { return inputLen; }
    void setOutBufferSize(int size) { outBufferSize = size; }
    int OutBufferSize() const { return outBufferSize; }
    void setRThreshold(int threshold) { rThreshold = threshold; }
    int RThreshold() const { return rThreshold; }

    // Queues every byte for sending, in order. Returns once no more than OutBufferSize
    // bytes are still waiting to go out; a closed port takes nothing and reports nothing.
    virtual void Output(const QByteArray& text) = 0;
    // Everything received and not yet read.
    virtual QByteArray Input() = 0;
    int CommEvent() const { return commEvent; }

    // How messages name the open port: "Com3", or the label a front end gave it, with the
    // device it stands for where the control knows it.
    void setPortLabel(const QString& label) { portLabel = label; }
    // What most likely took the line away, for the message that says it was lost.
    virtual QString lineLossCause() const {
        return QStringLiteral("the adapter was unplugged or the cable pulled");
    }
    // Why the open line would not carry an image's bytes unchanged, empty when it would. Asked
    // just before the announcement: a Telnet server that never agreed to binary transmission
    // may turn CR NUL into CR.
    virtual QString refusesImageBytes() const { return QString(); }
    virtual QString describePort() const {
        return portLabel.isEmpty() ? QStringLiteral("Com%1").arg(commPort) : portLabel;
    }

signals:
    // Raised when at least RThreshold bytes are waiting, and on errors.
    void OnComm();
    // The port was closed because the line was lost.
    void lineLost();

protected:
    void raise(int event) {
        commEvent = event;
        emit OnComm();
    }
    void setOpenFailure(OpenFailure why, const QString& text, const QString& reason = QString()) {
        failure = why;
        failureText = text;
        failureReason = reason.isEmpty() ? text : reason;
    }

private:
    int commPort = 1;
    int inBufferSize = 1024;
    int inputLen = 0;
    int outBufferSize = 512;
    int rThreshold = 0;
    int commEvent = 0;
    OpenFailure failure = OpenFailure::None;
    QString failureText;
    QString failureReason;
    QString portLabel;
};
