// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace pictolio {

// File attributes as Windows reports them.
namespace attr {
inline constexpr quint32 readOnly = 1, hidden = 2, system = 4, volume = 8, directory = 16,
                         archive = 32, alias = 1024, compressed = 2048;
// The bits a folder scan looks at; others are cut off before comparing.
inline constexpr quint32 scanMask = readOnly | hidden | system | volume | directory | archive |
                                    alias | compressed;
}  // namespace attr

// The file system as the program sees it: listings in the order an NTFS folder lists its
// entries, Windows attributes and wildcards. A test can put a wrapper in its place, for
// instance one that denies access to a folder, which root on a test machine cannot be denied.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The attributes of the path; nothing when they cannot be read (missing path).
    virtual std::optional<quint32> attributes(const QString& path) const = 0;

    // The names of the files (normal, hidden and system; no folders) in the folder that match
    // the pattern ("*" and "?", letter case ignored; "*.*" matches every name), sorted as NTFS
    // lists them. Nothing when the folder cannot be listed.
    virtual QStringList listFiles(const QString& folder, const QString& pattern) const = 0;

    // The names of the folder's subfolders, sorted likewise. Throws AppError PermissionDenied
    // or PathNotFound when the folder cannot be listed.
    virtual QStringList subFolders(const QString& folder) const = 0;

    // Whether the path is a file that can be opened for reading (a folder never is).
    virtual bool isOpenableFile(const QString& path) const = 0;

    // The same device and inode as a folder already seen: for ending link loops. "" when the
    // folder cannot be read.
    virtual QString folderIdentity(const QString& folder) const = 0;
};

// The real file system (POSIX). Attributes: directory 16 for a folder, archive 32 for every
// file (Windows sets it on every written file), read-only 1 when the owner may not write,
// hidden 2 for a name starting with ".", alias 1024 for a symbolic link; where the file system
// keeps DOS attributes (the "user.DOSATTRIB" attribute Samba writes, or NTFS-3G's
// "system.ntfs_attrib"), those take the place of the read-only, hidden, system and archive bits.
class PosixFileSystem : public FileSystem {
public:
    std::optional<quint32> attributes(const QString& path) const override;
    QStringList listFiles(const QString& folder, const QString& pattern) const override;
    QStringList subFolders(const QString& folder) const override;
    bool isOpenableFile(const QString& path) const override;
    QString folderIdentity(const QString& folder) const override;
};

// Windows wildcard matching of one name: "*" any run, "?" any one character, letter case
// ignored; "*.*" matches every name, also one without a dot.
bool wildcardMatch(const QString& pattern, const QString& name);

// Whether the path was read from a name that is not valid in the file-name encoding (its bytes
// became U+FFFD when read, so the path leads to no file): such a file cannot be opened by name.
bool nameLostInEncoding(const QString& path);

// Sorts names as an NTFS folder lists them: compared upper-cased, character by character.
void sortAsNtfs(QStringList& names);

}  // namespace pictolio
