#pragma once

#include <QString>
#include <QUrl>

namespace dunmore::ui {

// The user guide that ships with Dunmore: beside the executable (the build), in
// ../share/doc/dunmore (an installation), or in the source tree's docs folder. An empty
// URL when none is found. anchor names a section ("support", "sales").
QUrl userGuideUrl(const QString& anchor = {});

}  // namespace dunmore::ui
