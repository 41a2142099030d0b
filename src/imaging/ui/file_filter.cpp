// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/ui/file_filter.h"

#include <QString>

QStringList toQtNameFilters(const std::string& filter)
{
    const QStringList parts = QString::fromUtf8(filter.data(), qsizetype(filter.size())).split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        const QString patterns = parts[i + 1].trimmed();
        const QString ownList = QStringLiteral("(") + patterns + QStringLiteral(")");
        if (description.endsWith(ownList))
            description = description.left(description.size() - ownList.size()).trimmed();
        QStringList list = patterns.split(u';', Qt::SkipEmptyParts);
        for (QString& p : list)
            p = p.trimmed();
        entries << description + QStringLiteral(" (") + list.join(u' ') + QStringLiteral(")");
    }
    return entries;
}
