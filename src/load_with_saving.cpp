#include "stored_file.h"

namespace drovik {

bool loadWithSaving(QSettings *settings, const QByteArray &password, QMap<QString, QVariant> *tree)
{
    bool needsSaving = false;
    if (!loadFile(settings, password, tree, &needsSaving))
        return false;
    return !needsSaving || saveFaithfully(settings, password, *tree);
}

} // namespace drovik
