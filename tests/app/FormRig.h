#pragma once

#include "AddFile.h"
#include "FakeDeviceListing.h"
#include "FakeSerial.h"
#include "FileAge.h"
#include "Form1.h"
#include "RecordingPrompts.h"
#include "ScriptedModule.h"
#include "SimWorld.h"
#include "frmLogin.h"

#include <QSettings>
#include <QTemporaryDir>
#include <functional>
#include <memory>

// Answers the password prompt as the test says, without a dialog.
class ScriptedPassword : public PasswordPrompt {
public:
    void showLogin(bool& PasswordAccepted, Prompts&) override {
        ++shown;
        if (whileShown)
            whileShown();
        if (answer == Answer::Accept)
            PasswordAccepted = true;
        else if (answer == Answer::Cancel)
            PasswordAccepted = false;
    }
    enum class Answer { Accept, Cancel, CloseBox } answer = Answer::Cancel;
    int shown = 0;
    std::function<void()> whileShown; // runs while the "dialog" is open
};

class ScriptedFileDialog : public AddFilePrompts {
public:
    QString openBinFile() override {
        ++shown;
        if (whileShown)
            whileShown();
        return path;
    }
    QString path;
    int shown = 0;
    std::function<void()> whileShown; // runs while the "dialog" is open
};

// The main window on the simulated clock, with a fake serial control and answered prompts.
struct FormRig {
    QTemporaryDir dir;
    SimWorld world;
    SimTimer timer{world};
    FakeSerial serial;
    FakeSerial probe; // tries the ports plugged in after start-up; none opens unless a test says so
    FakeDeviceListing devices;
    RecordingPrompts prompts;
    ScriptedPassword password;
    ScriptedFileDialog fileDialog;
    std::unique_ptr<ScriptedModule> module;
    std::unique_ptr<UtilitySeams> production; // whatever a test leaves empty
    std::unique_ptr<Form1> form;
    int processEnded = 0;

    QString settingsFile() const { return dir.path() + "/settings/Kestrune_Update_Utility.ini"; }
    QString programFolder() const { return dir.path() + "/program"; }
    QString recordFile() const { return dir.path() + "/state/updates.jsonl"; }
    // The device folders the window watches: nothing happens in them unless a test says so.
    QString devFolder() const { return dir.path() + "/dev"; }
    QString byIdFolder() const { return dir.path() + "/dev/serial/by-id"; }

    explicit FormRig(QSet<int> usablePorts = {1}) {
        serial.usablePorts = std::move(usablePorts);
        probe.usablePorts.clear();
        QDir().mkpath(programFolder());
        QDir().mkpath(dir.path() + "/settings");
        QDir().mkpath(devFolder());
        module = std::make_unique<ScriptedModule>(world, serial);
    }

    void storeSetting(const QString& key, const QString& value) {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        settings.setValue(key, value);
    }

    QString storedPort() const {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        return settings.value("Settings/COM-Port").toString();
    }

    // The simulated world, the fake line and the answered prompts; tests may change any of them.
    Form1Seams seams() {
        Form1Seams seams;
        seams.settingsFile = settingsFile();
        seams.programFolder = programFolder();
        seams.recordFile = recordFile();
        seams.deviceListing = &devices;
        seams.clock = &world;
        seams.events = &world;
        seams.timer = &timer;
        seams.serial = &serial;
        seams.portProbe = &probe;
        seams.watchedFolders = {byIdFolder(), devFolder() + "/serial", devFolder()};
        seams.prompts = &prompts;
        seams.addFilePrompts = &fileDialog;
        seams.passwordPrompt = &password;
        seams.endProcess = [this] { ++processEnded; };
        // The rig's ports are made up: the checks of the real system have nothing to say of them.
        // A test of what they say sets these back to empty (the real checks) or to its own.
        seams.portCause = [](const QString&) { return QString(); };
        seams.deviceIdentity = [](const QString&) { return QString(); };
        return seams;
    }

    Form1& start(Form1Seams withSeams) {
        production = std::make_unique<UtilitySeams>(withSeams);
        form = std::make_unique<Form1>(withSeams);
        production->attachWindow(form.get(), *form);
        form->Form_Load();
        form->show();
        return *form;
    }
    Form1& start() { return start(seams()); }

    // What a modal dialog does to a session under it: the event loop is the dialog's for this
    // long, the line's bytes arrive, and the session's own waits do not come back meanwhile.
    void holdInDialog(qint64 ms) {
        const qint64 until = world.now() + ms;
        while (world.now() < until)
            world.runOnce(int(until - world.now()));
    }

    // Runs `action` once, at the first 10 ms step of the simulated clock where `condition` holds.
    void whenever(std::function<bool()> condition, std::function<void()> action) {
        world.after(10, [this, condition, action] {
            if (condition())
                action();
            else
                whenever(condition, action);
        });
    }

    QByteArray writeImage(const QString& name, int length) {
        QByteArray data(length, Qt::Uninitialized);
        for (int i = 0; i < length; ++i)
            data[i] = char((i * 13) % 253);
        QFile file(programFolder() + "/" + name);
        file.open(QIODevice::WriteOnly);
        file.write(data);
        file.close();
        makeOld(programFolder() + "/" + name);
        return data;
    }
};
