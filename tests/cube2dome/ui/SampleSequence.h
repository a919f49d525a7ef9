// Face sequences for the page and dialog tests, drawn by the calibration
// scene of `skelvane-cli sample`: each face its own colour, with its name and
// the frame number, so frames and faces can be told apart by their pixels.
#pragma once

#include <filesystem>
#include <ostream>

#include <QString>
#include <QStringList>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* out)
{
    *out << '{';
    for (const QString& text : texts) *out << " \"" << text.toStdString() << '"';
    *out << " }";
}

namespace skelvane::test {

// Writes upper/<face word>/<letter>NNNNN.bmp for frames 1..frames of the
// first `faces` faces (Left, Front, ...), size x size pixels.
void WriteSampleSequence(const std::filesystem::path& upper, int frames, int size, int faces = 6);

QString ToQString(const std::filesystem::path& path);

}  // namespace skelvane::test
