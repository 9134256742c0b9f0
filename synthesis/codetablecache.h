#pragma once

#include "codetable.h"

#include <QString>

// Keeps the last code table read and reads the file again only when it is another file (another
// path, device or inode), or its size, modification or status-change time differ. A file modified
// within the last two seconds is read again on every load, since a second rewrite within the file
// system's time resolution would leave its times as they were. Only a table that loaded is kept:
// a missing, short or unreadable file is looked at afresh on every load.
class CodeTableCache
{
public:
    // What CodeTable::load(path) gives now.
    CodeTable::Load load(const QString &path);

private:
    struct Stamp
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        bool operator==(const Stamp &) const = default;
    };
    static std::optional<Stamp> stampOf(const QString &path);

    QString m_path;
    Stamp m_stamp;
    std::optional<CodeTable> m_table;
};
