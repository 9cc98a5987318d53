// The simulator's command-line options.
#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kMaxSector = 254; // sector numbers of an image of at most 255 sectors
constexpr int kMaxCount = 1000000;
constexpr double kMaxSeconds = 3600.0;
constexpr size_t kMaxTypeLength = 16;

bool parseSeconds(const std::string& text, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < 0.0 || parsed > kMaxSeconds)
        return false;
    value = parsed;
    return true;
}

bool parseCount(const std::string& text, int max, int& value) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    const long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (parsed > max)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

bool isPrintableAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

bool parseTypes(const std::string& text, std::vector<std::string>& types) {
    types.clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string code =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (code.empty() || code.size() > kMaxTypeLength || !isPrintableAscii(code))
            return false;
        types.push_back(code);
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

} // namespace

ParseResult parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool inlineValue = false;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.erase(eq);
            inlineValue = true;
        }

        auto takeValue = [&]() {
            if (inlineValue)
                return true;
            if (i + 1 >= argc) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto seconds = [&](double& target) {
            if (!takeValue())
                return false;
            if (!parseSeconds(value, target)) {
                error = "option " + name + ": '" + value + "' is not a number of seconds from 0 to 3600";
                return false;
            }
            return true;
        };
        auto count = [&](int max, int& target) {
            if (!takeValue())
                return false;
            if (!parseCount(value, max, target)) {
                error = "option " + name + ": '" + value + "' is not a whole number from 0 to " +
                        std::to_string(max);
                return false;
            }
            return true;
        };
        auto path = [&](std::string& target) {
            if (!takeValue())
                return false;
            if (value.empty()) {
                error = "option " + name + " needs a path";
                return false;
            }
            target = value;
            return true;
        };
        auto noValue = [&]() {
            if (inlineValue)
                error = "option " + name + " takes no value";
            return !inlineValue;
        };
        auto flag = [&](bool& target) { return noValue() && (target = true); };
        auto counter = [&](int& target) { return noValue() && ++target > 0; };

        bool ok = true;
        if (name == "-h" || name == "--help") {
            return ParseResult::Help;
        } else if (name == "--device") {
            ok = path(options.device);
        } else if (name == "--link") {
            ok = path(options.link);
        } else if (name == "--type") {
            ok = takeValue();
            if (ok && (value.empty() || value.size() > kMaxTypeLength || !isPrintableAscii(value))) {
                error = "option --type: the code must be 1 to 16 printable characters";
                ok = false;
            }
            if (ok)
                options.type = value;
        } else if (name == "--xx") {
            ok = count(kMaxCount, options.xxProbes);
        } else if (name == "--answer-delay") {
            ok = seconds(options.answerDelay);
        } else if (name == "--flash-time") {
            ok = seconds(options.flashTime);
        } else if (name == "--drop-request") {
            int sector = 0;
            ok = count(kMaxSector, sector);
            if (ok)
                ++options.dropRequests[sector];
        } else if (name == "--drop-end") {
            ok = counter(options.dropEnds);
        } else if (name == "--flood-end") {
            ok = counter(options.floodEnds);
        } else if (name == "--lower-case") {
            ok = flag(options.lowerCase);
        } else if (name == "--noise") {
            ok = flag(options.noise);
        } else if (name == "--split") {
            ok = flag(options.split);
        } else if (name == "--wire-rate") {
            ok = flag(options.wireRate);
        } else if (name == "--out") {
            ok = path(options.out);
        } else if (name == "--sessions") {
            ok = count(kMaxCount, options.sessions);
        } else if (name == "--hangup-after-sector") {
            ok = count(kMaxSector, options.hangupAfterSector);
        } else if (name == "--comtest") {
            ok = flag(options.comtest);
        } else if (name == "--quiet") {
            ok = flag(options.quiet);
        } else if (name == "--lead") {
            ok = count(kMaxCount, options.lead);
            if (ok && options.lead < 1) {
                error = "option --lead: a lead holds at least 1 module";
                ok = false;
            }
            options.modulesLeave = true;
        } else if (name == "--stay") {
            ok = seconds(options.stay);
            options.modulesLeave = true;
        } else if (name == "--switch-off") {
            ok = seconds(options.switchOff);
            options.modulesLeave = true;
        } else if (name == "--away") {
            ok = seconds(options.away);
            options.modulesLeave = true;
        } else if (name == "--types") {
            ok = takeValue() && parseTypes(value, options.types);
            if (!ok && error.empty())
                error = "option --types: give codes of 1 to 16 printable characters, separated by commas";
        } else {
            error = "unknown option '" + name + "'";
            ok = false;
        }
        if (!ok)
            return ParseResult::Error;
    }
    return ParseResult::Run;
}

std::string helpText() {
    return R"(Usage: module-sim [options]

Plays the module's side of the serial exchanges (identification, firmware
transfer, communication test) for end-to-end tests, demos and benchmarks.

Without --device a pseudo-terminal is created, both ends raw, and the path of
its slave device is printed as the first line on standard output. The
simulator keeps the slave open itself, so the host may open and close it as
often as it likes without the line hanging up. With --device the given serial
device is used at 115200 baud, 8 data bits, no parity, 1 stop bit, raw, and
that path is printed instead. Nothing else is written to standard output.

Line and process:
  --device PATH            use this serial device instead of a pseudo-terminal
  --link PATH              also make PATH a symbolic link to the line's device
                           (a link already there is replaced; removed at exit)
  --sessions N             exit after N completed transfers (N confirmations
                           with --comtest), once the host has read the last
                           answer; 0, the default, runs until stopped
  --hangup-after-sector K  once sector K has been received, close the line as an
                           unplugged adapter would and exit
  --quiet                  log no events (errors are still reported)
  -h, --help               show this text and exit

Module behaviour:
  --type CODE              answer to a probe once the setup switch is on
                           (default AA; any 1 to 16 printable characters)
  --xx N                   answer XX, setup switch off, to the first N probes
  --answer-delay S         seconds from a probe, an announcement or a
                           communication-test reply to the answer (default 0.02)
  --flash-time S           seconds spent writing each received sector before the
                           next request or the end mark (default 0.05)
  --wire-rate              take input no faster than a 115200-baud line carries
                           it (11520 bytes a second, read in 128-byte pieces),
                           so the sender backs up as it would on a real line
  --out FILE               after each completed transfer, replace FILE with the
                           image received, all sectors in order; it is written
                           to a temporary file beside FILE and renamed into
                           place once the end mark has been sent
  --comtest                play the communication test instead of updates:
                           send UP every second; answer the reply OK + byte 1
                           with OK (other replies are ignored); probes and
                           announcements are not answered in this mode

A lead of modules (a production line; without these one module stays for good):
  --lead N                 N modules are put on the line in turn (default 1)
  --stay S                 after its end mark a module keeps answering probes with
                           its type for S seconds
  --switch-off S           then it answers XX for S seconds (switch turned off)
  --away S                 then it answers nothing for S seconds (taken off the
                           lead); then the next module answers. After the last
                           one the lead stays empty
  --types A,B,...          the type of each module in turn, repeating (default:
                           --type for all)
  With a lead, a %d in --out is replaced by the module's number (1, 2, ...),
  so each module keeps its own image.

Fault injection:
  --drop-request K         do not send the request for sector K (0 is the one
                           that answers the announcement), once; give it again
                           to drop that request on later attempts too
  --drop-end               do not send the end mark EN, once (repeatable)
  --flood-end              after the last sector send 65536 bytes of garbage and
                           then EN, so the end mark is hidden; once (repeatable)
  --lower-case             send every answer in lower case (xx, aa, ok, en, up)
  --noise                  send 1 to 4 garbage bytes, none of them one of the
                           letters A B C E K N O P U X in either case: right
                           after each answer to a probe, and just before each
                           sector request (5 ms ahead of it). With --comtest:
                           right after each UP and 5 ms before the confirming
                           OK. Nothing is ever sent between the last request
                           and the end mark, so EN still comes first then.
  --split                  send every answer (and any noise) one byte at a
                           time, 10 ms apart

Protocol handling: the probe is 12 X characters in a row. The announcement
"OK" + one byte (the sector count, 1 to 255) is accepted whenever no transfer
is expecting sector data: while idle, after a dropped request or end mark, or
after a transfer broke off. A sector is 65536 bytes. A sector that stops
arriving for 1.5 s is discarded, and a request that gets no data within 3 s
is given up; both return to waiting for a fresh announcement. Transfers whose
request or end mark was dropped or flooded do not count as completed and do
not touch --out.

Events on standard error, one a line:
  probe | answer CODE | noise N | announce N | announce 0 ignored | restart |
  request K | drop request K | sector K received |
  discard sector K (B bytes) | no data for sector K | end | drop end |
  flood end N | saved FILE | comtest up | comtest ok |
  module N on | module N stays | module N switch off | module N away |
  lead empty | probe unanswered |
  comtest reply 0xNN ignored | hangup | exit
Problems are reported on lines starting with "error: ".

Exit status: 0 after SIGTERM, SIGINT or SIGHUP, after --sessions or a
--hangup-after-sector; 1 if the line cannot be opened or fails; 2 for a
usage error.
)";
}
