#pragma once

#include "PortCheck.h"

#include <QList>
#include <QString>

class SystemView;

// The checks of one local device, in order: what it is, whether it is there and a serial line,
// whether this user may open it, who holds it, the services that take adapters away, the latency
// timer, and, when `tryOpen` and nothing holds it, whether it opens now. `mapping` says how the
// port was named ("COM3 = /dev/ttyUSB0 ([Ports])"), empty for a path given as it is.
PortReport checkLocalPort(const SystemView& system, const QString& label, const QString& path,
                          const QString& mapping, bool tryOpen);

// USB serial adapters present without a serial line: brltty took them, or no driver did.
QList<PortReport> adaptersWithoutTty(const SystemView& system);

// For the window's box after a failed open: the cause in words that follow "Com3 could not be
// opened: ", e.g. "it is in use by minicom (PID 4242)"; empty when the checks find none.
QString openFailureCause(const SystemView& system, const QString& path);

// For the port menu's tooltip: "USB 0403:6001 FTDI FT232R USB UART, serial A10KZ3X1, driver
// ftdi_sio; by-id usb-FTDI_...", empty for a device the system tells nothing of.
QString deviceIdentityText(const SystemView& system, const QString& path);
