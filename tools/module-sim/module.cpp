// The simulated module: probe answers, sector requests, the end mark, the communication test, faults.
#include "module.h"

#include "event_log.h"
#include "line.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

constexpr size_t kSectorSize = 65536;
constexpr int kProbeLength = 12;

// The host writes each command in one piece; a fragment still unfinished after this long is not
// going to be completed and must not glue onto the next command.
constexpr double kFragmentTimeout = 0.1;
// The host pauses 1 s after a request before it sends the sector, and sends the four blocks back to
// back; anything slower means it gave up on this attempt and will start again with an announcement.
constexpr double kFirstByteTimeout = 3.0;
constexpr double kPartialSectorTimeout = 1.5;

constexpr double kUpInterval = 1.0;
constexpr double kSplitGap = 0.01;
constexpr double kNoiseLead = 0.005;
constexpr size_t kFloodSize = 65536;

// Garbage never contains a letter of any answer, in either case, so it cannot form or complete
// one by accident; any masking it does comes only from where it is placed.
constexpr std::string_view kAnswerLetters = "ABCEKNOPUXabceknopux";

constexpr double kNever = std::numeric_limits<double>::infinity();

} // namespace

Module::Module(const Options& options, Line& line)
    : options_(options)
    , line_(line)
    , image_(options.out)
    , dropRequests_(options.dropRequests)
    , dropEnds_(options.dropEnds)
    , floodEnds_(options.floodEnds)
    , sectorData_(kSectorSize) {
    for (int b = 0; b < 256; ++b) {
        if (kAnswerLetters.find(char(b)) == std::string_view::npos)
            garbageBytes_.push_back(uint8_t(b));
    }
}

void Module::start() {
    putOn(0);
    if (options_.comtest) {
        state_ = State::Comtest;
        nextUpAt_ = monotonicNow();
    }
}

void Module::feed(const uint8_t* data, size_t size) {
    lastInputAt_ = monotonicNow();
    size_t i = 0;
    while (i < size && !finished_ && !hangup_ && !stopRequested()) {
        switch (state_) {
        case State::Idle:
            idleByte(data[i++]);
            break;
        case State::Comtest:
            comtestByte(data[i++]);
            break;
        case State::AwaitingSector:
            i += sectorBytes(data + i, size - i);
            break;
        }
    }
}

void Module::tick() {
    const double now = monotonicNow();
    switch (state_) {
    case State::Idle:
        if (parserBusy() && now - lastInputAt_ >= kFragmentTimeout)
            resetParser();
        break;
    case State::AwaitingSector:
        if (received_ == 0 && now - requestedAt_ >= kFirstByteTimeout) {
            logEvent("no data for sector %d", sector_);
            backToIdle();
        } else if (received_ > 0 && now - lastInputAt_ >= kPartialSectorTimeout) {
            logEvent("discard sector %d (%zu bytes)", sector_, received_);
            backToIdle();
        }
        break;
    case State::Comtest:
        if (parserBusy() && now - lastInputAt_ >= kFragmentTimeout)
            resetParser();
        if (now >= nextUpAt_)
            sendUp();
        break;
    }
}

double Module::deadline() const {
    const double fragmentEnd = parserBusy() ? lastInputAt_ + kFragmentTimeout : kNever;
    switch (state_) {
    case State::Idle:
        return fragmentEnd;
    case State::AwaitingSector:
        return received_ == 0 ? requestedAt_ + kFirstByteTimeout : lastInputAt_ + kPartialSectorTimeout;
    case State::Comtest:
        return std::min(fragmentEnd, nextUpAt_);
    }
    return kNever;
}

// --- parsing ---------------------------------------------------------------------------------

void Module::idleByte(uint8_t byte) {
    if (sawOK_) {
        sawOK_ = false;
        announce(byte); // the count may be any byte, 'X' and 'O' included
        return;
    }
    if (byte == 'X') {
        sawO_ = false;
        if (++xRun_ == kProbeLength) {
            xRun_ = 0;
            answerProbe();
        }
        return;
    }
    xRun_ = 0;
    sawOK_ = sawO_ && byte == 'K';
    sawO_ = byte == 'O';
}

void Module::comtestByte(uint8_t byte) {
    if (sawOK_) {
        sawOK_ = false;
        if (byte == 0x01)
            confirmComtest();
        else
            logEvent("comtest reply 0x%02X ignored", byte);
        return;
    }
    sawOK_ = sawO_ && byte == 'K';
    sawO_ = byte == 'O';
}

size_t Module::sectorBytes(const uint8_t* data, size_t size) {
    const size_t take = std::min(size, kSectorSize - received_);
    std::memcpy(sectorData_.data() + received_, data, take);
    received_ += take;
    if (received_ == kSectorSize)
        sectorComplete();
    return take;
}

bool Module::parserBusy() const {
    return xRun_ > 0 || sawO_ || sawOK_;
}

void Module::resetParser() {
    xRun_ = 0;
    sawO_ = false;
    sawOK_ = false;
}

// --- identification and transfer -------------------------------------------------------------

void Module::answerProbe() {
    const Presence where = presence();
    logEvent("probe");
    if (where == Presence::Away || where == Presence::Empty) {
        logEvent("probe unanswered");
        return;
    }
    ++probes_;
    const bool switchedOff = where == Presence::SwitchedOff || probes_ <= options_.xxProbes;
    const std::string answer = cased(switchedOff ? "XX" : currentType());
    if (!line_.pause(options_.answerDelay))
        return;
    send(answer);
    logEvent("answer %s", answer.c_str());
    if (options_.noise)
        sendNoise(); // after the answer: the host judges only its first two characters
}

void Module::announce(uint8_t sectors) {
    const Presence where = presence();
    if (where == Presence::Away || where == Presence::Empty)
        return; // nobody on the lead to hear it
    if (sectors == 0) {
        logEvent("announce 0 ignored");
        return;
    }
    if (transferOpen_)
        logEvent("restart");
    logEvent("announce %d", sectors);
    transferOpen_ = true;
    sectorCount_ = sectors;
    sector_ = 0;
    image_.begin();
    if (line_.pause(options_.answerDelay))
        request();
}

void Module::request() {
    auto drop = dropRequests_.find(sector_);
    if (drop != dropRequests_.end() && drop->second > 0) {
        --drop->second;
        logEvent("drop request %d", sector_);
        backToIdle(); // the host will time out and announce again
        return;
    }
    if (options_.noise) {
        // Before the request only: the host looks for "OK" at the end of what it received.
        sendNoise();
        if (!line_.pause(kNoiseLead))
            return;
    }
    send(cased("OK"));
    logEvent("request %d", sector_);
    state_ = State::AwaitingSector;
    received_ = 0;
    requestedAt_ = monotonicNow();
}

void Module::sectorComplete() {
    logEvent("sector %d received", sector_);
    image_.append(sectorData_.data(), kSectorSize);
    if (sector_ == options_.hangupAfterSector) {
        hangup_ = true;
        return;
    }
    state_ = State::Idle; // nothing is read while flashing; the host is waiting for us
    if (!line_.pause(options_.flashTime))
        return;
    ++sector_;
    if (sector_ < sectorCount_)
        request();
    else
        finishTransfer();
}

void Module::finishTransfer() {
    // From here on the host reads the end mark at the very start of what arrives, so no noise.
    backToIdle();
    if (dropEnds_ > 0) {
        --dropEnds_;
        logEvent("drop end");
        return;
    }
    if (floodEnds_ > 0) {
        --floodEnds_;
        line_.write(garbage(kFloodSize));
        send(cased("EN"));
        logEvent("flood end %zu", kFloodSize);
        return;
    }
    send(cased("EN"));
    logEvent("end");
    transferOpen_ = false;
    if (image_.commit())
        logEvent("saved %s", image_.path().c_str());
    if (options_.modulesLeave && endedAt_ < 0) {
        endedAt_ = monotonicNow();
        told_ = Presence::Staying;
        logEvent("module %d stays", module_ + 1);
    }
    countSession();
}

// --- the lead --------------------------------------------------------------------------------

Module::Presence Module::presence() {
    if (endedAt_ < 0)
        return Presence::Present;
    const double since = monotonicNow() - endedAt_;
    Presence now = Presence::Staying;
    if (since >= options_.stay + options_.switchOff + options_.away)
        now = module_ + 1 < options_.lead ? Presence::Present : Presence::Empty;
    else if (since >= options_.stay + options_.switchOff)
        now = Presence::Away;
    else if (since >= options_.stay)
        now = Presence::SwitchedOff;
    if (now == Presence::Present) {
        putOn(module_ + 1);
        return now;
    }
    if (now != told_) {
        told_ = now;
        if (now == Presence::SwitchedOff)
            logEvent("module %d switch off", module_ + 1);
        else if (now == Presence::Away)
            logEvent("module %d away", module_ + 1);
        else if (now == Presence::Empty)
            logEvent("lead empty");
    }
    return now;
}

void Module::putOn(int index) {
    module_ = index;
    endedAt_ = -1.0;
    told_ = Presence::Present;
    probes_ = 0;
    image_.setPath(imagePath(index));
    if (options_.modulesLeave)
        logEvent("module %d on", index + 1);
}

const std::string& Module::currentType() const {
    return options_.types.empty() ? options_.type : options_.types[size_t(module_) % options_.types.size()];
}

std::string Module::imagePath(int index) const {
    std::string path = options_.out;
    const size_t mark = path.find("%d");
    if (mark != std::string::npos && options_.modulesLeave)
        path.replace(mark, 2, std::to_string(index + 1));
    return path;
}

void Module::backToIdle() {
    state_ = State::Idle;
    received_ = 0;
    resetParser();
}

void Module::countSession() {
    ++completed_;
    if (options_.sessions > 0 && completed_ >= options_.sessions)
        finished_ = true;
}

// --- communication test ----------------------------------------------------------------------

void Module::sendUp() {
    send(cased("UP"));
    logEvent("comtest up");
    // After UP, not before: the host discards what it holds unless it begins with UP.
    if (options_.noise)
        sendNoise();
    nextUpAt_ = monotonicNow() + kUpInterval;
}

void Module::confirmComtest() {
    if (!line_.pause(options_.answerDelay))
        return;
    if (options_.noise) {
        sendNoise(); // the host looks for "OK" at the end of what it received
        if (!line_.pause(kNoiseLead))
            return;
    }
    // Logged before the confirmation goes out: a test that reads the log once the host has
    // seen the "OK" must find the line there.
    logEvent("comtest ok");
    send(cased("OK"));
    // A whole interval before the next UP, so the confirmation stays the last thing the host sees.
    nextUpAt_ = monotonicNow() + kUpInterval;
    countSession();
}

// --- output ----------------------------------------------------------------------------------

std::string Module::cased(const std::string& text) const {
    std::string result = text;
    if (options_.lowerCase) {
        std::transform(result.begin(), result.end(), result.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
    }
    return result;
}

void Module::send(const std::string& bytes) {
    if (!options_.split) {
        line_.write(bytes);
        return;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && !line_.pause(kSplitGap))
            return;
        line_.write(bytes.substr(i, 1));
    }
}

void Module::sendNoise() {
    const size_t count = std::uniform_int_distribution<size_t>(1, 4)(random_);
    send(garbage(count));
    logEvent("noise %zu", count);
}

std::string Module::garbage(size_t size) {
    std::uniform_int_distribution<size_t> pick(0, garbageBytes_.size() - 1);
    std::string bytes(size, '\0');
    for (char& b : bytes)
        b = char(garbageBytes_[pick(random_)]);
    return bytes;
}
