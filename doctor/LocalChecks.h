#pragma once

#include "DeviceFacts.h"
#include "PortCheck.h"
#include "ProcessTable.h"

class SystemView;

// The checks of a local device, each one small and on its own. They read the system only
// through `system`, never open the device (except openCheck) and write nothing.
PortCheck deviceCheck(const DeviceFacts& facts, const QString& mapping);
PortCheck presentCheck(const DeviceFacts& facts);
PortCheck serialLineCheck(const SystemView& system, const DeviceFacts& facts);
PortCheck accessCheck(const SystemView& system, const DeviceFacts& facts);
PortCheck holdersCheck(const HoldersFound& found, const SystemView& system, const DeviceFacts& facts);
PortCheck lockFileCheck(const SystemView& system, const DeviceFacts& facts);
PortCheck modemManagerCheck(const SystemView& system, const DeviceFacts& facts);
// brltty by its effect: running while it holds the adapter's USB device node.
PortCheck brlttyCheck(const SystemView& system, const DeviceFacts& facts);
PortCheck latencyTimerCheck(const DeviceFacts& facts);
// A plain non-blocking open and close, which sets nothing on the line; only when nothing holds it.
PortCheck openCheck(const DeviceFacts& facts, bool held);
