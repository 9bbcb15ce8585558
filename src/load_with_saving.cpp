#include "stored_file.h"

namespace drovik {

bool loadWithSaving(QSettings *settings, const QByteArray &password, QMap<QString, QVariant> *tree)
{
    bool needsSaving = false;
    const bool ok = loadFile(settings, password, tree, &needsSaving);
    if (ok && needsSaving)
        saveFile(settings, password, *tree);
    return ok;
}

} // namespace drovik
