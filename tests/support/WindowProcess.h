#pragma once

#include "VncViewer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QThread>

// The window's own program as a child process, on Qt's VNC platform so that a test can press its
// keys as an operator would and the benchmark can see when its screen is first drawn. Its
// settings and its record of updates are kept under `folder` through the XDG base directories;
// unless another program is named, the program is copied into `folder`, which so becomes its
// program folder (the images are looked for beside it).
class WindowProcess {
public:
    explicit WindowProcess(const QString& folder)
        : folder(folder) {}
    ~WindowProcess() {
        screen.close();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    QString settingsFile() const {
        return folder + "/config/Kestrune_Update_Utility/Kestrune_Update_Utility.ini";
    }
    QString recordFile() const { return folder + "/state/Kestrune_Update_Utility/updates.jsonl"; }

    // Starts the program and connects to its screen within `limitMs`; empty text, or what went
    // wrong.
    QString start(QString program = QString(), int limitMs = 5000) {
        if (program.isEmpty()) {
            program = folder + "/kestrune-update-utility";
            if (!QFile::copy(qEnvironmentVariable("KUU_APP"), program))
                return QStringLiteral("the program %1 cannot be copied").arg(qEnvironmentVariable("KUU_APP"));
        }
        const int port = VncViewer::freePort();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", QStringLiteral("vnc:port=%1:size=640x480").arg(port));
        env.insert("XDG_CONFIG_HOME", folder + "/config");
        env.insert("XDG_STATE_HOME", folder + "/state");
        env.insert("XDG_RUNTIME_DIR", folder + "/runtime");
        QDir().mkpath(folder + "/runtime");
        QFile::setPermissions(folder + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        process.setProcessEnvironment(env);
        started.start();
        process.start(program, {});
        if (!process.waitForStarted(5000))
            return QStringLiteral("the program does not start: %1").arg(process.errorString());
        while (!screen.connectTo(port, limitMs / 1000)) {
            if (started.elapsed() > limitMs || process.state() == QProcess::NotRunning)
                return QStringLiteral("no screen on port %1: %2")
                    .arg(port)
                    .arg(QString::fromLocal8Bit(process.readAllStandardError()));
            QThread::msleep(5);
        }
        return screen.handshake() ? QString() : QStringLiteral("the screen's handshake failed");
    }

    // A key pressed and let go (an X11 keysym: 0xFFBE is F1, 0xFF1B Escape).
    bool press(std::uint32_t keysym) { return screen.press(keysym); }

    // Milliseconds from the start until the screen first shows anything but black (the window,
    // or its first message box, drawn); -1 with `error` set when that does not happen in time.
    qint64 untilDrawn(int limitMs, QString* error) {
        while (started.elapsed() < limitMs) {
            bool drawn = false;
            if (!screen.screenDrawn(drawn))
                return failed(error, QStringLiteral("the screen could not be read"));
            if (drawn)
                return started.elapsed();
            QThread::msleep(10);
        }
        return failed(error, QStringLiteral("nothing drawn within %1 ms").arg(limitMs));
    }

    QProcess process;

private:
    static qint64 failed(QString* error, const QString& text) {
        if (error)
            *error = text;
        return -1;
    }

    QString folder;
    QElapsedTimer started;
    VncViewer screen;
};
