#ifndef DROVIK_QT_COMPAT_H
#define DROVIK_QT_COMPAT_H

// The few places where Qt 5 and Qt 6 need different calls for the same result.

#include <QtCore/QtGlobal>

#include <cstdlib>

namespace drovik {

// The random number mixed into a public key. It keeps qrand()'s contract under
// both Qt versions: one sequence per seed, the same one in every run until the
// program seeds it (the library never does). Qt 6 has no qrand(); the C
// library's rand() keeps that contract, seeded with srand().
inline int unseededDraw()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return qrand();
    QT_WARNING_POP
#else
    return std::rand();
#endif
}

} // namespace drovik

#endif // DROVIK_QT_COMPAT_H
