// Writes the GBK to BIG5 and UTF-16 code table: orv4120-gentable OUTPUT
#include "codetable.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    const QByteArray table = CodeTable::generate();
    if (table.size() != CodeTable::kFileBytes) {
        std::fprintf(stderr, "%s: ICU has no windows-936 or windows-950 converter\n", argv[0]);
        return 1;
    }
    QSaveFile file(QFile::decodeName(argv[1]));
    if (!file.open(QIODevice::WriteOnly) || file.write(table) != table.size() || !file.commit()) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}
