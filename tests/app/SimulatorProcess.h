#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

// The module simulator as a child process on a pseudo-terminal of its own.
class SimulatorProcess {
public:
    ~SimulatorProcess() { stop(); }

    // Starts it and returns the device the utility should open, or empty text.
    QString start(const QStringList& args) {
        const QString program = qEnvironmentVariable("KUU_MODULE_SIM");
        process.start(program, args);
        if (!process.waitForStarted(5000))
            return QString();
        QElapsedTimer waited;
        waited.start();
        while (!process.canReadLine() && waited.elapsed() < 5000)
            process.waitForReadyRead(100);
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }

    // What it logged so far, one event per line.
    QStringList events() {
        log += QString::fromLocal8Bit(process.readAllStandardError());
        return log.split('\n', Qt::SkipEmptyParts);
    }

    void stop() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(1000);
    }

    QProcess process;

private:
    QString log;
};
