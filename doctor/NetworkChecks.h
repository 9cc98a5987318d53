#pragma once

#include "PortCheck.h"

// The checks of a network port named on the command line: its address, the names its host
// resolves to, whether TCP connects and how fast, and for RFC 2217 what the server agreed to.
// Only the Telnet negotiation and the line settings are sent: no data byte reaches the line.
// Runs the event loop for at most about `connectLimitMs` twice and a second for the agreement.
PortReport checkNetworkPort(const QString& label, const QString& address, const QString& mapping,
                            int connectLimitMs);

// A network COM not named on the command line: described, never connected to, since a device
// server may throw off its current client when another connects.
PortReport networkPortNotTried(const QString& label, const QString& address, const QString& mapping);
