#include "key_path.h"

namespace drovik {

int keyPathSplit(const QString &key)
{
    const QChar *chars = key.constData();
    for (int i = 0, size = key.size(); i < size; ++i) {
        if (chars[i] == QLatin1Char('/') || chars[i] == QLatin1Char('\\'))
            return i;
    }
    return -1;
}

bool splitKeyPath(const QString &key, QString &section, QString &param)
{
    const int split = keyPathSplit(key);
    if (split < 0)
        return false;
    section = key.left(split);
    param = key.mid(split + 1);
    return true;
}

} // namespace drovik
