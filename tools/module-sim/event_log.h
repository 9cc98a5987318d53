#pragma once

// One line per protocol event on standard error, flushed at once, so that a test or an operator
// can follow the exchange while it happens.

void setEventLogQuiet(bool quiet);

// A protocol event ("probe", "request 3", ...); suppressed by --quiet.
void logEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A problem worth reporting even with --quiet; the line starts with "error: ".
void logError(const char* format, ...) __attribute__((format(printf, 1, 2)));
