#pragma once

#include <QByteArrayView>
#include <QString>

// Text files are written in UTF-8. Files of the Windows version are Windows-1252, so reading
// falls back to that code page for any file that is not valid UTF-8. Stateless; any thread.
namespace TextCodec {

bool isUtf8(QByteArrayView bytes);

QString fromCp1252(QByteArrayView bytes);

// UTF-8 when the bytes are valid UTF-8 (a leading byte-order mark is dropped), else
// Windows-1252.
QString decode(QByteArrayView bytes);

// A part of a file whose encoding was decided for the whole file by isUtf8().
QString decodeAs(QByteArrayView bytes, bool utf8);

} // namespace TextCodec
