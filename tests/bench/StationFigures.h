#pragma once

#include <QString>
#include <vector>

// The station's figures: each update against the one-shot command line's, identification after
// the module answers, 64 waiting slots, memory per module.
struct StationFigure {
    QString figure;
    QString value;
    QString target;
    bool met;
};

std::vector<StationFigure> stationFigures(const QString& benchProgram);

// Child mode: 200 modules through 4 slots on the simulated clock; prints the resident size in
// kB after the first 10 and after all 200.
int stationMemory();
