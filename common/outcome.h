// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>
#include <utility>

namespace pictolio {

// Why something that was expected to work did not, in words a person can read: what went wrong
// and where ("truncated JPEG: the data ends at byte 51,200 without its end-of-image marker").
struct Failure {
    QString reason;
};

// The result of a step whose failure is an expected answer rather than an error (a file that is
// not a picture): a value, or the Failure that says why there is none.
template <typename T>
class Outcome {
public:
    Outcome(T value) : m_value(std::move(value)) {}
    Outcome(Failure failure) : m_reason(std::move(failure.reason)) {}

    explicit operator bool() const { return m_value.has_value(); }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    // The value, or `otherwise` when there is none.
    T valueOr(T otherwise) && { return m_value ? std::move(*m_value) : std::move(otherwise); }
    // "" when there is a value.
    const QString& reason() const { return m_reason; }

private:
    std::optional<T> m_value;
    QString m_reason;
};

// A number of bytes as people write it, in groups of three: "51,200".
inline QString byteCount(qint64 bytes) {
    QString digits = QString::number(bytes < 0 ? -bytes : bytes);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, QLatin1Char(','));
    return bytes < 0 ? QLatin1Char('-') + digits : digits;
}

}  // namespace pictolio
