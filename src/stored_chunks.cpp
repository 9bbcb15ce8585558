#include "stored_chunks.h"

namespace drovik {

bool chunkBeyondGap(const QStringList &chunkNames, const QString &chunkPrefix, int gap)
{
    for (const QString &name : chunkNames) {
        // Only the exact spelling the writer uses names a chunk: at least three
        // digits, zero-padded to three and no further. "data7" or "data0007" is
        // a key someone else put there, and must not lock the whole file.
        const int digits = name.size() - chunkPrefix.size();
        if (digits < 3 || (digits > 3 && name.at(chunkPrefix.size()) == QLatin1Char('0')))
            continue;
        bool allDigits = true;
        for (int i = chunkPrefix.size(); i < name.size() && allDigits; ++i)
            allDigits = name.at(i) >= QLatin1Char('0') && name.at(i) <= QLatin1Char('9');
        if (!allDigits)
            continue;
        // Ten digits or more exceed any index a join could have reached.
        if (digits >= 10 || QStringView(name).mid(chunkPrefix.size()).toInt() > gap)
            return true;
    }
    return false;
}

} // namespace drovik
