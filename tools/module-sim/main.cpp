// module-sim: plays the plug-in module on a serial line, so that the utility can be exercised
// end to end without hardware. Run with --help for the options and the output contract.

#include "event_log.h"
#include "line.h"
#include "module.h"
#include "options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kWireBytesPerSecond = 11520.0; // 115200 baud, 10 bits a character
constexpr size_t kWireChunk = 128;
// A reader that woke a little late keeps its place on the wire; only a real pause resets it.
constexpr double kWireSlack = 0.02;
constexpr double kDrainTimeout = 2.0;

// The --link symbolic link, removed again at exit if it still points at our line.
class LinkGuard {
public:
    ~LinkGuard() {
        if (path_.empty())
            return;
        char target[PATH_MAX];
        const ssize_t n = readlink(path_.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, size_t(n)) == target_)
            unlink(path_.c_str());
    }

    bool create(const std::string& path, const std::string& target, std::string& error) {
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = path + " exists and is not a symbolic link";
                return false;
            }
            unlink(path.c_str()); // a link left behind by an earlier run
        }
        if (symlink(target.c_str(), path.c_str()) != 0) {
            error = "cannot create link " + path + ": " + std::strerror(errno);
            return false;
        }
        path_ = path;
        target_ = target;
        return true;
    }

private:
    std::string path_;
    std::string target_;
};

int run(Line& line, Module& module, bool wireRate) {
    std::vector<uint8_t> buffer(65536);
    double readAllowedAt = 0.0;
    module.start();
    for (;;) {
        if (stopRequested())
            break;
        if (module.finished()) {
            line.drain(kDrainTimeout);
            break;
        }
        if (module.hangupRequested()) {
            line.hangUp();
            logEvent("hangup");
            break;
        }

        // At the wire rate the line is left unread until the last piece would have arrived, so
        // the host's writes back up in the kernel as they would behind a real UART.
        const bool throttled = wireRate && monotonicNow() < readAllowedAt;
        double until = module.deadline();
        if (throttled)
            until = std::min(until, readAllowedAt);

        switch (line.wait(until, !throttled)) {
        case Line::Wake::Stop:
        case Line::Wake::Timeout:
            break;
        case Line::Wake::Closed:
            logError("the line was closed");
            return 1;
        case Line::Wake::Input: {
            const ssize_t n = line.read(buffer.data(), wireRate ? kWireChunk : buffer.size());
            if (n < 0) {
                logError("read failed: %s", std::strerror(errno));
                return 1;
            }
            if (n == 0)
                break;
            if (wireRate) {
                const double now = monotonicNow();
                if (now - readAllowedAt > kWireSlack)
                    readAllowedAt = now;
                readAllowedAt += double(n) / kWireBytesPerSecond;
            }
            module.feed(buffer.data(), size_t(n));
            break;
        }
        }
        module.tick();
    }
    logEvent("exit");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    switch (parseOptions(argc, argv, options, error)) {
    case ParseResult::Help:
        std::fputs(helpText().c_str(), stdout);
        return 0;
    case ParseResult::Error:
        std::fprintf(stderr, "module-sim: %s\nTry 'module-sim --help'.\n", error.c_str());
        return 2;
    case ParseResult::Run:
        break;
    }
    setEventLogQuiet(options.quiet);

    if (!installStopHandlers(error)) {
        logError("%s", error.c_str());
        return 1;
    }
    Line line;
    const bool opened =
        options.device.empty() ? line.openPseudoTerminal(error) : line.openDevice(options.device, error);
    if (!opened) {
        logError("%s", error.c_str());
        return 1;
    }
    LinkGuard link;
    if (!options.link.empty() && !link.create(options.link, line.path(), error)) {
        logError("%s", error.c_str());
        return 1;
    }

    // The first line on standard output is the contract with whoever started us: the device to
    // open. The link already exists by the time it is printed.
    std::printf("%s\n", line.path().c_str());
    std::fflush(stdout);

    Module module(options, line);
    return run(line, module, options.wireRate);
}
