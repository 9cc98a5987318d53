#pragma once

#include "FakeSerial.h"
#include "FileAge.h"
#include "LineSettings.h"
#include "RecordingPrompts.h"
#include "ScriptedModule.h"
#include "SimWorld.h"
#include "UpdateEngine.h"

#include <QFile>
#include <QTemporaryDir>

// An update engine wired to a scripted module on the simulated clock.
struct EngineRig {
    SimWorld world;
    SimTimer timer{world};
    FakeSerial serial;
    RecordingDisplay display;
    RecordingPrompts prompts;
    ScriptedModule module{world, serial};
    QTemporaryDir folder;
    QString imagePath;
    QStringList patterns;
    UpdateEngine engine{EngineSeams{serial, world, world, timer, display, prompts,
                                    [this](const QString& pattern) {
                                        patterns << pattern;
                                        return imagePath;
                                    },
                                    folder.path()}};

    EngineRig() {
        ModuleLine::apply(serial);
        serial.setPortOpen(true);
    }

    // An image of `length` bytes whose content shows any shift or gap.
    QByteArray makeImage(qint64 length, const QString& name = QStringLiteral("QVL-GEN-TEST.bin")) {
        QByteArray data(int(length), Qt::Uninitialized);
        for (int i = 0; i < data.size(); ++i)
            data[i] = char((i * 7 + i / 65536) % 251);
        imagePath = folder.path() + QLatin1Char('/') + name;
        QFile file(imagePath);
        file.open(QIODevice::WriteOnly);
        file.write(data);
        file.close();
        makeOld(imagePath);
        return data;
    }

    // The writes after the probes: the announcement and the blocks.
    QList<QByteArray> transferWrites() const {
        QList<QByteArray> out;
        for (const QByteArray& w : serial.writes)
            if (w != UpdateEngine::ModuleProbe)
                out << w;
        return out;
    }

    int announcementCount() const {
        int n = 0;
        for (const QByteArray& w : serial.writes)
            n += (w.size() == 3 && w.startsWith("OK")) ? 1 : 0;
        return n;
    }
};
