#pragma once

#include "image_file.h"
#include "options.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

class Line;

// The module's behaviour: answers probes, takes an announced image sector by sector, or plays the
// communication test. Fed with whatever arrives on the line; answers through the line directly.
// Pauses the module takes (answer delay, flashing) are slept inside feed(): the host sends nothing
// while it waits for the answer, so nothing needs reading meanwhile.
class Module {
public:
    Module(const Options& options, Line& line);

    void start();
    void feed(const uint8_t* data, size_t size);
    // Acts on every time-out that has come due.
    void tick();
    // When tick() next has work: monotonic seconds, or infinity.
    double deadline() const;

    // --sessions reached: exit once the last answer is read.
    bool finished() const { return finished_; }
    bool hangupRequested() const { return hangup_; }

private:
    enum class State {
        Idle,           // answering probes, waiting for an announcement
        AwaitingSector, // a request has been sent; bytes are sector data
        Comtest,        // communication test: sending UP, waiting for the reply
    };

    void idleByte(uint8_t byte);
    void comtestByte(uint8_t byte);
    size_t sectorBytes(const uint8_t* data, size_t size);
    bool parserBusy() const;
    void resetParser();

    void answerProbe();
    void announce(uint8_t sectors);
    void request();
    void sectorComplete();
    void finishTransfer();
    void sendUp();
    void confirmComtest();
    void backToIdle();
    void countSession();

    // Where the module on the lead is after its end mark; the next one is put on once the
    // last one's away time is over.
    enum class Presence { Present, Staying, SwitchedOff, Away, Empty };
    Presence presence();
    void putOn(int index);
    const std::string& currentType() const;
    std::string imagePath(int index) const;

    std::string cased(const std::string& text) const;
    void send(const std::string& bytes);
    void sendNoise();
    std::string garbage(size_t size);

    const Options& options_;
    Line& line_;
    ImageFile image_;
    std::map<int, int> dropRequests_;
    int dropEnds_;
    int floodEnds_;

    State state_ = State::Idle;
    double lastInputAt_ = 0.0;

    // Parser for the host's short commands: a run of X (the probe), "OK" + one byte.
    int xRun_ = 0;
    bool sawO_ = false;
    bool sawOK_ = false;

    int probes_ = 0;
    bool transferOpen_ = false; // announced, not yet ended with EN
    int sectorCount_ = 0;
    int sector_ = 0;
    std::vector<uint8_t> sectorData_;
    size_t received_ = 0;
    double requestedAt_ = 0.0;

    double nextUpAt_ = 0.0;
    int completed_ = 0;
    bool finished_ = false;
    bool hangup_ = false;

    int module_ = 0;        // index of the module on the lead
    double endedAt_ = -1.0; // when it sent its end mark; negative: not yet
    Presence told_ = Presence::Present;

    std::vector<uint8_t> garbageBytes_;
    std::mt19937 random_{0x6b75u}; // fixed seed: the same noise on every run
};
