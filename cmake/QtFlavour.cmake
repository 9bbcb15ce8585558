# Which Qt the project builds against, and the names that keep the two builds
# apart so that both install side by side in one prefix. The Qt 5 build keeps
# the names it always had; the Qt 6 build adds "-qt6" / "Qt6" to each of them.
set(QT_MAJOR_VERSION "" CACHE STRING "Qt to build against: 5 or 6 (empty: Qt 5 if found, else Qt 6)")
set_property(CACHE QT_MAJOR_VERSION PROPERTY STRINGS "" 5 6)

set(DROVIK_QT_MAJOR ${QT_MAJOR_VERSION})
if(NOT DROVIK_QT_MAJOR)
    find_package(Qt5 5.15 QUIET COMPONENTS Core)
    if(Qt5_FOUND)
        set(DROVIK_QT_MAJOR 5)
    else()
        set(DROVIK_QT_MAJOR 6)
    endif()
endif()

if(DROVIK_QT_MAJOR STREQUAL "5")
    set(DROVIK_QT_MIN_VERSION 5.15)
    set(DROVIK_NAME_SUFFIX "")
    set(DROVIK_PACKAGE_NAME Drovik)
    set(_drovik_install_tool_default ON)
elseif(DROVIK_QT_MAJOR STREQUAL "6")
    set(DROVIK_QT_MIN_VERSION 6.4)
    set(DROVIK_NAME_SUFFIX -qt6)
    set(DROVIK_PACKAGE_NAME DrovikQt6)
    # Only one of the two builds may own bin/drovik and its man page.
    set(_drovik_install_tool_default OFF)
else()
    message(FATAL_ERROR "QT_MAJOR_VERSION must be 5 or 6, not '${QT_MAJOR_VERSION}'")
endif()

set(DROVIK_QT Qt${DROVIK_QT_MAJOR})
find_package(${DROVIK_QT} ${DROVIK_QT_MIN_VERSION} REQUIRED COMPONENTS Core)
message(STATUS "Drovik: building against Qt ${${DROVIK_QT}Core_VERSION} "
               "(library libdrovik${DROVIK_NAME_SUFFIX}, package ${DROVIK_PACKAGE_NAME})")

option(DROVIK_INSTALL_TOOL "Install the drovik tool and its man page" ${_drovik_install_tool_default})
# Where the headers go: the Qt 6 build adds a directory level, so consumers of
# either build still write #include <drovik/drovik.h>.
if(DROVIK_NAME_SUFFIX)
    set(DROVIK_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/drovik${DROVIK_NAME_SUFFIX})
else()
    set(DROVIK_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
endif()
