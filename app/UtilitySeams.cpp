// The window's composition root: the production seams, built once and handed to Form1.
#include "UtilitySeams.h"

#include "AnyPortControl.h"
#include "FileDialogPrompts.h"
#include "Form_Filelist.h"
#include "MessageBoxPrompts.h"
#include "NetworkProbe.h"
#include "PortAssignment.h"
#include "PortDoctor.h"
#include "QtEventPass.h"
#include "SerialDeviceListing.h"
#include "StatusDisplay.h"
#include "SystemClock.h"
#include "SystemView.h"
#include "UpdateRecord.h"
#include "frmLogin.h"

#include <unistd.h>

UtilitySeams::UtilitySeams(Form1Seams& seams) {
    if (!seams.ports) {
        ports = std::make_unique<PortMap>();
        seams.ports = ports.get();
    }
    if (!seams.deviceListing) {
        deviceListing = std::make_unique<SystemSerialDevices>();
        seams.deviceListing = deviceListing.get();
    }
    if (seams.watchedFolders.isEmpty())
        seams.watchedFolders = {QStringLiteral("/dev/serial/by-id"), QStringLiteral("/dev/serial"),
                                QStringLiteral("/dev")};
    if (seams.recordFile.isNull())
        seams.recordFile = defaultRecordFile();
    if (!seams.clock) {
        clock = std::make_unique<SystemClock>();
        seams.clock = clock.get();
    }
    if (!seams.events) {
        events = std::make_unique<QtEventPass>();
        seams.events = events.get();
    }
    if (!seams.timer) {
        timer = std::make_unique<QtIntervalTimer>(100);
        seams.timer = timer.get();
    }
    if (!seams.serial) {
        // The numbers given at start-up hold for the whole run, written to the file or not.
        const PortMap* map = seams.ports;
        serial =
            makeAnyPortControl(*seams.events, *seams.clock, [map](int port) { return map->deviceFor(port); });
        seams.serial = serial.get();
    }
    if (!seams.portProbe) {
        const PortMap* map = seams.ports;
        portProbe =
            makeAnyPortControl(*seams.events, *seams.clock, [map](int port) { return map->deviceFor(port); });
        seams.portProbe = portProbe.get();
    }
    if (!seams.probeNetwork) {
        // Connections are real whatever clock the window runs on.
        networkEvents = std::make_unique<QtEventPass>();
        EventPass* loop = networkEvents.get();
        seams.probeNetwork = [loop](const QStringList& addresses, int limitMs) {
            return probeNetworkPorts(*loop, addresses, limitMs);
        };
    }
    if (!seams.prompts) {
        prompts = std::make_unique<MessageBoxPrompts>(nullptr);
        seams.prompts = prompts.get();
    }
    if (!seams.imageChooser) {
        chooser = std::make_unique<FileListChooser>(nullptr, [](bool) {});
        seams.imageChooser = chooser.get();
    }
    if (!seams.addFilePrompts) {
        addFilePrompts = std::make_unique<FileDialogPrompts>(nullptr);
        seams.addFilePrompts = addFilePrompts.get();
    }
    if (!seams.passwordPrompt) {
        passwordPrompt = std::make_unique<LoginDialogPrompt>(nullptr);
        seams.passwordPrompt = passwordPrompt.get();
    }
    if (!seams.portCause || !seams.deviceIdentity) {
        system = std::make_unique<SystemView>();
        const SystemView* view = system.get();
        if (!seams.portCause)
            seams.portCause = [view](const QString& device) { return openFailureCause(*view, device); };
        if (!seams.deviceIdentity)
            seams.deviceIdentity = [view](const QString& device) {
                return deviceIdentityText(*view, device);
            };
    }
    if (!seams.endProcess)
        seams.endProcess = [] {
            // Everything worth keeping has been stored; a shut-down that happens inside a
            // wait must not return into a window that no longer exists.
            ::_exit(0);
        };
}

UtilitySeams::~UtilitySeams() = default;

void UtilitySeams::attachWindow(QWidget* window, StatusDisplay& display) {
    if (prompts)
        prompts->setParentWindow(window);
    if (chooser)
        chooser->attach(window, [&display](bool busy) { display.setBusyCursor(busy); });
    if (addFilePrompts)
        addFilePrompts->setParentWindow(window);
    if (passwordPrompt)
        passwordPrompt->setParentWindow(window);
}
