// Public: where the program finds its files. A program run from a folder of its own (a
// build tree, an unpacked archive) keeps them beside its executable; an installed one
// has its translations in the data directory of its tree (bin/../share/tesmo-man).
#pragma once

#include <QString>
#include <QStringList>

namespace tesmo::layout {

// The installed translations folder relative to the executable's folder
// ("../share/tesmo-man/translations" for the usual layout).
QString installedTranslationsFromBin();

// Folders searched for translation files, in this order: exeDir itself, then the
// installed translations folder of the tree exeDir belongs to.
QStringList translationDirs(const QString& exeDir);

// True when exeDir is the bin folder of an installed tree (its translations folder exists).
bool isInstalled(const QString& exeDir);

// Folder of the daily log files: "logs" beside the executable; empty for an installed
// program, which must not write into the system's folders and logs into the user's
// data folder instead.
QString logsDir(const QString& exeDir);

} // namespace tesmo::layout
