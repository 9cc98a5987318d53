#pragma once

#include <map>
#include <string>
#include <vector>

// Everything the command line can set. The defaults describe a healthy module answering promptly.
struct Options {
    std::string device; // empty: create a pseudo-terminal
    std::string link;   // symbolic link to the line's device, made at start and removed at exit
    std::string type = "AA";
    int xxProbes = 0;
    double answerDelay = 0.02;
    double flashTime = 0.05;
    std::map<int, int> dropRequests; // sector -> how many more requests for it to drop
    int dropEnds = 0;
    int floodEnds = 0;
    bool lowerCase = false;
    bool noise = false;
    bool split = false;
    bool wireRate = false;
    std::string out;
    int sessions = 0; // 0: run until stopped
    int hangupAfterSector = -1;
    bool comtest = false;
    bool quiet = false;
    // A lead that modules are put on and taken off in turn, as on a production line.
    int lead = 1;                   // modules in turn
    double stay = 0;                // after its end mark a module keeps answering probes this long
    double switchOff = 0;           // then answers "XX" this long (its setup switch turned off)
    double away = 0;                // then is silent this long (taken off), before the next answers
    std::vector<std::string> types; // the type of each module in turn, repeating; empty: --type
    bool modulesLeave = false;      // any of the above given: a module leaves after its end mark
};

enum class ParseResult { Run, Help, Error };

// Fills `options` from the command line; on Error, `error` says what was wrong.
ParseResult parseOptions(int argc, char** argv, Options& options, std::string& error);

std::string helpText();
