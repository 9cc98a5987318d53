// The simulator's event log on standard error.
#include "event_log.h"

#include <cstdarg>
#include <cstdio>

namespace {

bool g_quiet = false;

void writeLine(const char* prefix, const char* format, va_list args) {
    // Format first and write with one call, so that a line never interleaves with another writer.
    char text[512];
    vsnprintf(text, sizeof text, format, args);
    std::fprintf(stderr, "%s%s\n", prefix, text);
    std::fflush(stderr);
}

} // namespace

void setEventLogQuiet(bool quiet) {
    g_quiet = quiet;
}

void logEvent(const char* format, ...) {
    if (g_quiet)
        return;
    va_list args;
    va_start(args, format);
    writeLine("", format, args);
    va_end(args);
}

void logError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine("error: ", format, args);
    va_end(args);
}
