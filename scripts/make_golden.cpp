// Writes the committed files under tests/data/golden/. Run by hand, once: the
// files pin the stored format, so they are never regenerated, least of all by
// the tests. Kept as the record of how they were made; it builds only at
// commit 17619f6 (git worktree add), whose tests/golden_trees.h held the trees
// that tests/data/golden/contents.txt now lists:
/*
    g++ -std=c++17 -fPIC -Itests -Iinclude -Ibuild/include $(pkg-config --cflags Qt5Core) \
        scripts/make_golden.cpp -Lbuild/src -ldrovik $(pkg-config --libs Qt5Core) -ldl \
        -Wl,-rpath,$PWD/build/src -o build/make_golden && build/make_golden tests/data/golden
*/

#include "frozen_clock.h"
#include "golden_trees.h"

#include <QtCore/QDir>

int main(int argc, char **argv)
{
    if (argc != 2)
        qFatal("usage: make_golden DIR");
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    for (const golden::File &file : golden::savedFiles()) {
        const frozenclock::Stopped clock(golden::savedAt);
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        qsrand(golden::seed);
        QT_WARNING_POP
        QSettings settings(dir.filePath(file.name), QSettings::IniFormat);
        Drovik::saveFile(&settings, file.password, &file.tree);
    }

    // The saver writes only algorithm 2, so the keystream item is laid out here.
    const golden::File file = golden::keystreamFile();
    const QString publicKey = u"3f09c1"_s;
    const QVariantMap payload {
            {u"vault/packed-param-dataparam/tokens"_s,
             testutil::paramNode(file.tree, u"vault"_s, u"tokens"_s).value(u"value"_s)},
            {u"vault/packed-param-magic/tokens"_s,
             u"Configuration encoding of Quorvant param, version 1.0"_s}};
    QSettings settings(dir.filePath(file.name), QSettings::IniFormat);
    settings.setValue(u"vault/packed-param-enabled/tokens"_s, true);
    settings.setValue(u"vault/packed-param-public/tokens"_s, publicKey);
    settings.setValue(u"vault/packed-param-algorithm/tokens"_s, 1);
    settings.setValue(u"vault/packed-param-data/tokens"_s,
                      Drovik::decryptEncrypt(false, Drovik::tinyStrictToText(payload), publicKey,
                                             file.password, 1));
    return 0;
}
