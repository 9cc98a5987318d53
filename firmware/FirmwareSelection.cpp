// The choice of the firmware image: the matching files newest first, and the expert's pick.
#include "FirmwareSelection.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <utility>
#include <vector>

QStringList firmwareCandidates(const QString& folder, const QString& pattern) {
    const QDir dir(folder);
    const QStringList listed =
        dir.entryList({pattern}, QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);

    std::vector<std::pair<QString, QDateTime>> candidates;
    for (const QString& name : listed) {
        const QFileInfo info(folder + QLatin1Char('/') + name);
        if (!info.exists())
            continue;
        candidates.emplace_back(name, info.lastModified());
    }

    // Newest first, by pairwise swaps over the listing order. Equal times are never swapped,
    // but a swap of two other entries can carry an image past one of the same age: two
    // images of one age keep their name order only when no third image is involved. The
    // order is the one operators have always seen, so it is kept as it is.
    const std::size_t n = candidates.size();
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            if (candidates[i].second < candidates[j].second)
                std::swap(candidates[i], candidates[j]);

    QStringList names;
    for (const auto& candidate : candidates)
        names << candidate.first;
    return names;
}

QString SelectFirmwareFile(const QString& folder, const QString& pattern, bool expertMode,
                           ImageChooser& chooser) {
    const QStringList names = firmwareCandidates(folder, pattern);
    if (names.isEmpty())
        return QString();
    if (names.size() >= 2 && expertMode) {
        const QString chosen = chooser.chooseImage(names);
        return chosen.isEmpty() ? QString() : folder + QLatin1Char('/') + chosen;
    }
    return folder + QLatin1Char('/') + names.first();
}
