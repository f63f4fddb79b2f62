// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Path and file helpers. The string helpers are pure functions over a path style: Windows
// paths ("\", drive roots, UNC names) and POSIX paths ("/"), which is what the program uses
// at run time here. Every comparison is exact (case-sensitive).
namespace pictolio {

enum class PathStyle { Windows, Posix };

#ifdef _WIN32
inline constexpr PathStyle nativePathStyle = PathStyle::Windows;
#else
inline constexpr PathStyle nativePathStyle = PathStyle::Posix;
#endif

QChar pathSeparator(PathStyle style = nativePathStyle);

// The characters after the last separator; the whole path when it has none.
QString extractFileName(const QString& path, PathStyle style = nativePathStyle);

// The path up to and including its last separator; "" when it has none.
QString extractFolder(const QString& path, PathStyle style = nativePathStyle);

// The name without its last extension. A dot at the very start does not begin an extension.
QString stripExtension(const QString& name);

// Cleans doubled separators out of an output path.
// Windows: one left-to-right pass turns each pair of backslashes into one (a run of n becomes
// ceil(n/2)); a path that starts with backslashes comes out starting with exactly two (UNC).
// POSIX: every run of slashes becomes one.
QString collapseSeparators(const QString& path, PathStyle style = nativePathStyle);

// The repair a list filler makes after joining a folder that already ends in a separator (a
// drive or file-system root) with a separator: ":\\" becomes ":\" on Windows, "//" becomes "/"
// on POSIX.
QString repairRootJoin(const QString& path, PathStyle style = nativePathStyle);

// Whether anything (file or folder) exists at the path. Never throws.
bool pathExists(const QString& path);

// Whether the path names an existing folder. Never throws.
bool isFolder(const QString& path);

// Makes the folder and whichever of its parents are missing, each readable by the user alone
// (0700): the user's own state (printer values, spool files) is nobody else's to read. Folders
// that exist keep their permissions. False when the folder is not there afterwards.
bool makePrivatePath(const QString& path);

// Whether the process of that number has ended (none of that number runs, and it is not this
// one): what it left behind (spool files, a staged PDF, a run's folder) may go.
bool processGone(qint64 pid);

// Lets the process keep as many files open as the system allows it (the soft limit raised to the
// hard one): a long joined run keeps a file of no name open for each page the program made.
void raiseOpenFileLimit();

// The user's desktop folder as the platform reports it, with one trailing separator; the home
// folder when the desktop folder does not exist.
QString getDesktopFolder();

}  // namespace pictolio
