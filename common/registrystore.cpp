// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/registrystore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/paths.h"

namespace pictolio {

// A key's file: one value a line, "name", a tab, "value", UTF-8, with "\\", "\t", "\n" and
// "\r" escaped. It is replaced whole (written beside it, then renamed), so a reader in another
// thread or process sees the old values or the new ones, never half a file.
namespace {

QString escape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '\\': out += QStringLiteral("\\\\"); break;
            case '\t': out += QStringLiteral("\\t"); break;
            case '\n': out += QStringLiteral("\\n"); break;
            case '\r': out += QStringLiteral("\\r"); break;
            default: out += c;
        }
    }
    return out;
}

QString unescape(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('\\') || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const QChar next = text[++i];
        out += next == QLatin1Char('t') ? QChar('\t')
               : next == QLatin1Char('n') ? QChar('\n')
               : next == QLatin1Char('r') ? QChar('\r')
                                          : next;
    }
    return out;
}

using Values = QMap<QString, QString>;

// The most a key's file may hold: far more than any key's values, far less than would cost
// time or memory to read.
constexpr qint64 maxFileSize = 1 << 20;

// Reads a key's file, if it is a regular file of at most maxFileSize bytes: never a pipe (which
// would block), a device (which may never end) or a folder. False when it is not read; then
// *problem says why, unless the file is simply not there.
bool readValues(const QString& file, Values* values, QString* problem = nullptr) {
    const auto refuse = [&](const QString& why) {
        if (problem) *problem = QStringLiteral("%1 is not read: %2").arg(file, why);
        return false;
    };
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct stat st {};
    QByteArray data;
    bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular && st.st_size <= maxFileSize) {
        // Room for one byte more than it holds: a file that grew meanwhile is read on, up to one
        // byte more than the most it may hold, which says it holds too much.
        data.resize(st.st_size + 1);
        qint64 got = 0;
        for (;;) {
            if (got == data.size()) {
                if (data.size() > maxFileSize) break;
                data.resize(std::min<qint64>(2 * data.size(), maxFileSize + 1));
            }
            const ssize_t n = ::read(fd, data.data() + got, std::size_t(data.size() - got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += n;
        }
        data.resize(got);
    }
    ::close(fd);
    if (!regular)
        return refuse(S_ISFIFO(st.st_mode)                          ? QStringLiteral("it is a pipe, not a file")
                      : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? QStringLiteral("it is a device, not a file")
                      : S_ISDIR(st.st_mode)                         ? QStringLiteral("it is a folder, not a file")
                                                                    : QStringLiteral("it is not a regular file"));
    if (st.st_size > maxFileSize || data.size() > maxFileSize)
        return refuse(QStringLiteral("it holds more than %1 bytes").arg(maxFileSize));
    const QString text = QString::fromUtf8(data);
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab > 0) values->insert(unescape(line.left(tab)), unescape(line.mid(tab + 1)));
    }
    return true;
}

bool writeValues(const QString& file, const Values& values) {
    static std::atomic<unsigned> counter{0};
    // One call to arg(): a "%2" in the file name must not be taken for a place holder.
    const QByteArray temp =
        QFile::encodeName(QStringLiteral("%1.%2.%3.new")
                              .arg(file, QString::number(::getpid()), QString::number(counter++)));
    QByteArray data;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        data += (escape(it.key()) + QLatin1Char('\t') + escape(it.value()) + QLatin1Char('\n')).toUtf8();
    // The values name the user's files (the last PDF's full path): for the user's eyes alone. The
    // folders are made when the key's is not there yet.
    const auto create = [&] {
        return ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    };
    int fd = create();
    if (fd < 0 && errno == ENOENT && makePrivatePath(QFileInfo(file).path())) fd = create();
    if (fd < 0) return false;
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, std::size_t(data.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    if (::close(fd) != 0 || done != data.size() ||
        std::rename(temp.constData(), QFile::encodeName(file).constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

}  // namespace

RegistryStore::RegistryStore()
    : m_root(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
             QStringLiteral("/pictolio/registry/HKEY_CURRENT_USER")) {}

RegistryStore::RegistryStore(QString rootFolder) : m_root(std::move(rootFolder)) {}

QString RegistryStore::keyFile(const QString& key) const {
    QStringList parts;
    for (const QString& part : key.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        // A key name may hold any character but "\"; keep "/" and dots from leaving the root.
        QString safe = part;
        safe.replace(QLatin1Char('%'), QStringLiteral("%25"));
        safe.replace(QLatin1Char('/'), QStringLiteral("%2F"));
        if (safe == QStringLiteral(".") || safe == QStringLiteral(".."))
            safe.replace(QLatin1Char('.'), QStringLiteral("%2E"));
        parts << safe;
    }
    return m_root + QLatin1Char('/') + parts.join(QLatin1Char('/')) + QStringLiteral(".values");
}

bool RegistryStore::createKey(const QString& key) const {
    const QString file = keyFile(key);
    return QFileInfo(file).isFile() || writeValues(file, {});
}

bool RegistryStore::setString(const QString& key, const QString& name,
                              const QString& value) const {
    return setStrings(key, {{name, value}});
}

bool RegistryStore::setStrings(const QString& key, const QMap<QString, QString>& changes) const {
    if (changes.isEmpty()) return true;
    const QString file = keyFile(key);
    Values values;
    const bool read = readValues(file, &values);
    // Values set to what they hold already leave the file alone.
    bool same = read;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        same = same && values.contains(it.key()) && values.value(it.key()) == it.value();
        values.insert(it.key(), it.value());
    }
    return same || writeValues(file, values);
}

std::optional<QString> RegistryStore::getString(const QString& key, const QString& name) const {
    Values values;
    if (!readValues(keyFile(key), &values)) return std::nullopt;
    const auto it = values.constFind(name);
    if (it == values.constEnd()) return std::nullopt;
    return *it;
}

QMap<QString, QString> RegistryStore::values(const QString& key, QString* problem) const {
    Values values;
    readValues(keyFile(key), &values, problem);
    return values;
}

bool RegistryStore::keyExists(const QString& key) const {
    return QFileInfo(keyFile(key)).isFile();
}

}  // namespace pictolio
