#pragma once

#include "formats/KeyValuesText.h"

#include <QByteArray>
#include <QFileInfoList>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <yaml-cpp/yaml.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

class QFile;

// Reading the settings files that other programs keep (Bottles, Lutris, Steam, Heroic). Only regular
// files are read, and none larger than MaxBytes; a file that cannot be read or parsed reads as
// nothing, so one damaged file never stops a search.
namespace ConfigFiles {

inline constexpr qint64 MaxBytes = 16 * 1024 * 1024;

// The file opened for reading when it is a regular file; null for anything else. The open does not
// block, so a FIFO named like a settings file cannot hang the reader.
std::unique_ptr<QFile> openRegularFile(const QString& path);
// The bytes of a regular file of at most MaxBytes.
std::optional<QByteArray> readRegularFile(const QString& path);

std::optional<YAML::Node> readYaml(const QString& path);
// The scalar at node[section][key]; empty when missing or not a scalar.
QString yamlText(const YAML::Node& node, const char* section, const char* key);
// The top-level object; empty when the file holds none.
QJsonObject readJsonObject(const QString& path);
// Steam's key-value text (see KeyValuesText).
std::optional<std::vector<KeyValuesText::Node>> readKeyValues(const QString& path);
// The node at the end of `names`, each looked up without regard to letter case; null when missing.
const KeyValuesText::Node* descend(const std::vector<KeyValuesText::Node>& top,
                                   std::initializer_list<QStringView> names);

// "~" and "~/..." under `home`; any other path as it is.
QString expandHome(const QString& path, const QString& home);
// An executable regular file (following links).
bool isProgram(const QString& path);
// Two spellings of one folder give the same key; a folder that does not exist gives its clean path.
QString folderKey(const QString& path);
// The files of `folder` whose names match `patterns`, by name.
QFileInfoList filesIn(const QString& folder, const QStringList& patterns);

} // namespace ConfigFiles
