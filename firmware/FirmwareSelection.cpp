// The choice of the firmware image: the matching files newest first, and the expert's pick.
#include "FirmwareSelection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {
using Candidate = std::pair<QString, QDateTime>;

// A name that is not valid UTF-8 reaches Qt with U+FFFD in place of its odd bytes, and the
// file cannot be found by it, so the folder listing leaves it out. It is listed here by the
// age of the file its bytes name, so the newest image stays the newest: the session then
// refuses it with a message that says why, instead of quietly sending an older image.
std::vector<Candidate> undecodableCandidates(const QString& folder, const QString& pattern) {
    std::vector<Candidate> found;
    const QByteArray dirName = QFile::encodeName(folder);
    DIR* dir = ::opendir(dirName.constData());
    if (dir == nullptr)
        return found;
    const QByteArray glob = QFile::encodeName(pattern);
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.') || QFile::encodeName(QFile::decodeName(name)) == name ||
            ::fnmatch(glob.constData(), entry->d_name, FNM_CASEFOLD) != 0)
            continue;
        struct stat state {};
        if (::stat((dirName + '/' + name).constData(), &state) != 0 || !S_ISREG(state.st_mode))
            continue;
        found.emplace_back(QFile::decodeName(name),
                           QDateTime::fromMSecsSinceEpoch(qint64(state.st_mtim.tv_sec) * 1000 +
                                                          state.st_mtim.tv_nsec / 1000000));
    }
    ::closedir(dir);
    return found;
}
} // namespace

QStringList firmwareCandidates(const QString& folder, const QString& pattern) {
    const QDir dir(folder);
    const QStringList listed =
        dir.entryList({pattern}, QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);

    std::vector<Candidate> candidates;
    for (const QString& name : listed) {
        const QFileInfo info(folder + QLatin1Char('/') + name);
        if (!info.exists())
            continue;
        candidates.emplace_back(name, info.lastModified());
    }
    for (Candidate& odd : undecodableCandidates(folder, pattern))
        candidates.push_back(std::move(odd));

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
