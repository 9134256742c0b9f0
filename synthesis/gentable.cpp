// Writes the GBK to BIG5 and UTF-16 code table: orv4120-gentable [--counts] OUTPUT
#include "codetable.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <opencc.h>

#include <cstdio>
#include <cstring>

namespace {

// OpenCC's simplified to Taiwan-standard traditional conversion. Plain s2t gives forms that BIG5
// lacks for some common characters (为 -> 爲 where BIG5 has 為).
class TaiwanForms
{
public:
    TaiwanForms()
        : m_converter(opencc_open("s2tw.json"))
    { }
    ~TaiwanForms()
    {
        if (isOpen())
            opencc_close(m_converter);
    }
    TaiwanForms(const TaiwanForms &) = delete;
    TaiwanForms &operator=(const TaiwanForms &) = delete;

    bool isOpen() const { return m_converter != reinterpret_cast<opencc_t>(-1); }

    // One character per call, so no phrase rule applies: the character's own traditional form.
    std::optional<char16_t> of(char16_t unit) const
    {
        const QByteArray utf8 = QString(QChar(unit)).toUtf8();
        char *converted = opencc_convert_utf8(m_converter, utf8.constData(), size_t(utf8.size()));
        if (!converted)
            return std::nullopt;
        const QString form = QString::fromUtf8(converted);
        opencc_convert_utf8_free(converted);
        if (form.size() != 1)
            return std::nullopt;   // none, or outside the BMP
        return form.at(0).unicode();
    }

private:
    opencc_t m_converter;
};

}   // namespace

int main(int argc, char **argv)
{
    const bool counts = argc == 3 && std::strcmp(argv[1], "--counts") == 0;
    if (argc != 2 && !counts) {
        std::fprintf(stderr, "usage: %s [--counts] OUTPUT\n", argv[0]);
        return 2;
    }
    const char *output = argv[argc - 1];
    const TaiwanForms forms;
    if (!forms.isOpen()) {
        std::fprintf(stderr, "%s: OpenCC s2tw: %s\n", argv[0], opencc_error());
        return 1;
    }
    CodeTable::Origins origins;
    const QByteArray table =
        CodeTable::generate([&forms](char16_t unit) { return forms.of(unit); }, &origins);
    if (table.size() != CodeTable::kFileBytes) {
        std::fprintf(stderr, "%s: ICU has no windows-936 or windows-950 converter\n", argv[0]);
        return 1;
    }
    QSaveFile file(QFile::decodeName(output));
    if (!file.open(QIODevice::WriteOnly) || file.write(table) != table.size() || !file.commit()) {
        std::fprintf(stderr, "%s: %s\n", output, qPrintable(file.errorString()));
        return 1;
    }
    if (counts) {
        std::printf("GBK double-byte characters: %d in BIG5 as they are, %d by their traditional "
                    "form, %d filler\n",
            origins.sameCharacter, origins.traditionalForm, origins.filler);
    }
    return 0;
}
