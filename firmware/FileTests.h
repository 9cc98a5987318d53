#pragma once

#include <QString>

// True when Path names something that exists and is not a folder. Never fails.
bool FileExists(const QString& Path);

// True when the file can be opened for reading while no other process holds it:
// it takes an exclusive advisory lock (flock), which a writer that locks its file
// holds for as long as it writes. Never fails; the file is closed again in every case.
bool IsFileReady(const QString& path);
