#pragma once

#include "FakeDeviceListing.h"
#include "FileAge.h"
#include "Form1.h"
#include "RecordingPrompts.h"
#include "SimulatorProcess.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>
#include <sys/resource.h>

// CPU time of this process so far, in seconds.
inline double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The main window with its real serial control, clock and event loop on the settings file and
// program folder given; the message boxes are answered by the test, the record of updates is
// kept in the program folder, and the serial devices present are the test's (none unless set).
struct RealWindow {
    RecordingPrompts prompts;
    FakeDeviceListing devices;
    std::unique_ptr<UtilitySeams> production;
    std::unique_ptr<Form1> form;

    Form1& open(const QString& settingsFile, const QString& programFolder,
                SerialDeviceListing* listing = nullptr) {
        Form1Seams seams;
        seams.settingsFile = settingsFile;
        seams.programFolder = programFolder;
        seams.recordFile = programFolder + "/updates.jsonl";
        seams.deviceListing = listing ? listing : &devices;
        seams.prompts = &prompts;
        seams.endProcess = [] {};
        production = std::make_unique<UtilitySeams>(seams);
        form = std::make_unique<Form1>(seams);
        production->attachWindow(form.get(), *form);
        form->Form_Load();
        return *form;
    }
};

// The real window with COM1 mapped to the module simulator's pseudo-terminal.
struct RealBench {
    QTemporaryDir dir;
    SimulatorProcess sim;
    RealWindow window;
    RecordingPrompts& prompts = window.prompts;
    QString device; // the simulator's end of the line
    Form1* form = nullptr;
    QString received() const { return dir.path() + "/received.bin"; }

    QByteArray setUp(const QStringList& simArgs, int sectors) {
        device = sim.start(simArgs + QStringList{"--out", received()});
        if (device.isEmpty())
            return QByteArray();
        const QString settingsFile = dir.path() + "/Kestrune_Update_Utility.ini";
        {
            QSettings settings(settingsFile, QSettings::IniFormat);
            settings.setValue("Ports/COM1", device);
            settings.setValue("Settings/COM-Port", "1");
        }
        QByteArray image(sectors * 65536, Qt::Uninitialized);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char((i * 31 + i / 977) & 0xFF);
        QFile file(dir.path() + "/QVL-GEN-E2E.bin");
        file.open(QIODevice::WriteOnly);
        file.write(image);
        file.close();
        makeOld(dir.path() + "/QVL-GEN-E2E.bin");

        form = &window.open(settingsFile, dir.path());
        form->show();
        return image;
    }
};
