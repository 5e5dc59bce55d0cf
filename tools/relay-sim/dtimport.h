#pragma once

#include "relaymodel.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace veltra::sim {

// Turns the nine data lines of a settings file into codes; on failure says which value is wrong.
std::optional<RelaySettings> settingsFromLines(const QStringList &lines, QString *error);

// The settings of a .DT file; on failure says, after the file's path, what is wrong with it.
std::optional<RelaySettings> settingsFromFile(const QString &path, QString *error);

} // namespace veltra::sim
