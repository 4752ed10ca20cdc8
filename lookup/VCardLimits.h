#pragma once

#include <QtGlobal>

// What one vCard source may hold; a source over a limit is not read at all. A file of some
// thousand contacts with photos stays well below them; each card read costs 2 to 5 KB until
// the contacts are indexed, so the caps also bound the memory an import takes.
struct TVCardLimits
{
    qint64 FileBytes = 64 * 1024 * 1024;    // per file
    qint64 SourceBytes = 256 * 1024 * 1024; // every file of a folder together
    qsizetype Cards = 100000;               // every file of a folder together
};
