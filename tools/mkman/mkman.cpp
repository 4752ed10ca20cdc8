// Writes the manual page corvane(1) from the table that "corvane --help" prints, so that the
// two never tell different stories.
//
//   mkman VERSION INSTALLED-DATA-DIRECTORY OUTPUT-FILE

#include "platform/InstanceCommand.h"

#include <QFile>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: mkman VERSION INSTALLED-DATA-DIRECTORY OUTPUT-FILE\n");
        return 2;
    }
    QFile out(QFile::decodeName(argv[3]));
    const QByteArray page = platform::ManPageText(QString::fromLocal8Bit(argv[1]),
                                                  QFile::decodeName(argv[2]))
                                .toUtf8();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(page) != page.size() ||
        !out.flush()) {
        std::fprintf(stderr, "mkman: %s: %s\n", argv[3], qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
