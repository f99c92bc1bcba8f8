#pragma once

#include <QIcon>
#include <QPixmap>

namespace dunmore::ui {

// The pictures of the window, drawn for Dunmore at the sizes asked (the ribbon uses 16 and
// 32 pixels). Nothing is loaded from files.
enum class IconKind {
    Application,  // a database drum with a rescue arrow
    Open,         // an opening folder
    Stop,         // a stop sign
    Save,         // a drum receiving an arrow
    Help,         // a question mark
    About,        // an information sign
    Previous,     // records pane: one page back
    Next,         // records pane: one page on
    Ok,
    Cancel,
    TestConnection,
    Table,        // tree image 0
    Keys,         // tree image 2
    Views,        // tree image 15
    Trigger,      // tree image 21
    Information,  // caption bar
};

QPixmap drawIcon(IconKind kind, int size);
// The icon with its 16 and 32 pixel pictures (and 48 for the window manager).
QIcon makeIcon(IconKind kind);

}  // namespace dunmore::ui
