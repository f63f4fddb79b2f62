// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>
#include <utility>

namespace pictolio {

// Why something that was expected to work did not, in words a person can read: what went wrong
// and where ("truncated JPEG: the data ends at byte 51,200 without its end-of-image marker"); the
// kind of failure, for a caller that acts on it; and, where a file was read, the byte it was
// found at.
struct Failure {
    enum class Kind {
        Other,
        Missing,      // the file or folder is not there
        Unreadable,   // it cannot be opened, read or written (permissions, a full disk)
        NotPicture,   // no picture of any kind read here, or not a file at all
        Damaged,      // a picture cut short, or wrong inside
        Unsupported,  // a kind of picture, or a part of one, that is not read
        TooLarge,     // past a limit
        Refused,      // a value, or values together, that are not taken
        Stopped,      // stopped when asked
    };
    QString reason;
    Kind kind = Kind::Other;
    qint64 offset = -1;  // where in the file, when a file was read; -1 for nowhere in particular
};

// The value of a step that gives nothing but its success.
struct Done {};

// The result of a step whose failure is an expected answer rather than an error (a file that is
// not a picture): a value, or the Failure that says why there is none.
template <typename T>
class Outcome {
public:
    Outcome(T value) : m_value(std::move(value)) {}
    Outcome(Failure failure) : m_failure(std::move(failure)) {}

    explicit operator bool() const { return m_value.has_value(); }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    // The value, or `otherwise` when there is none.
    T valueOr(T otherwise) && { return m_value ? std::move(*m_value) : std::move(otherwise); }
    // "" when there is a value.
    const QString& reason() const { return m_failure.reason; }
    // Why there is no value, of what kind, and where (Kind::Other and no words when there is one).
    const Failure& failure() const { return m_failure; }

private:
    std::optional<T> m_value;
    Failure m_failure;
};

// A number of bytes as people write it, in groups of three: "51,200".
inline QString byteCount(qint64 bytes) {
    QString digits = QString::number(bytes < 0 ? -bytes : bytes);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, QLatin1Char(','));
    return bytes < 0 ? QLatin1Char('-') + digits : digits;
}

}  // namespace pictolio
