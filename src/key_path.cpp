#include <drovik/drovik.h>

bool Drovik::parseSectionParamByKey(const QString &key, QString &section, QString &param)
{
    // Only the first separator splits, so parameter names may hold further
    // slashes or backslashes.
    const int slash = key.indexOf(QLatin1Char('/'));
    const int backslash = key.indexOf(QLatin1Char('\\'));
    if (slash < 0 && backslash < 0)
        return false;
    const int split = (slash < 0) ? backslash : (backslash < 0 ? slash : qMin(slash, backslash));
    section = key.left(split);
    param = key.mid(split + 1);
    return true;
}
