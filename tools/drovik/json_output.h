#ifndef DROVIK_TOOL_JSON_OUTPUT_H
#define DROVIK_TOOL_JSON_OUTPUT_H

#include <QtCore/QJsonObject>

class QVariant;
struct ConfigView;

// {"protection": ..., "ungrouped": [PARAMETER...], "sections": [{"name", "protection",
// "parameters": [PARAMETER]}]} where PARAMETER is {"name", "protection", "value"?, "type"?}
// and ungrouped holds the keys outside any section; values and their types
// only with withValues. A part whose content needs the password, read without
// it, has "hidden": true (and a parameter no value).
QJsonObject viewToJson(const ConfigView &view, bool withValues);

// A value as JSON: texts, numbers and booleans as such, lists as arrays.
QJsonValue valueToJson(const QVariant &value);

// The object as indented JSON text, ending in a newline.
QByteArray jsonText(const QJsonObject &object);

#endif // DROVIK_TOOL_JSON_OUTPUT_H
