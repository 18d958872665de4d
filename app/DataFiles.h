#pragma once

#include <QString>
#include <QStringList>
#include <string>

namespace fbx::ui {

// The pictures and the manual are looked up in the start-up directory first,
// then in the shared data directories: the installed data directory
// (share/ferobrixlan) and, for a run from the build tree, the source tree's
// asset directory.
QStringList sharedDataDirs();
// Replaces the shared data directories (tests use an empty list so that only
// the start-up directory counts).
void setSharedDataDirs(const QStringList& dirs);

// The first existing file called name in programDir, then in the shared data
// directories; empty when there is none.
QString findDataFile(const std::string& programDir, const QString& name);

// The animation picture of frame n (1..6): "brix<n>.bmp".
QString pictureName(int frame);

// The operator's manual shown by the instruction window, read afresh at every
// call: the file ferobrixlan-manual.txt where findDataFile finds one, else
// the copy built into the program.
QString manualText(const std::string& programDir);

// The program's icon (built in).
QString iconResource();

}  // namespace fbx::ui
