#pragma once

namespace dunmore::ui {

inline constexpr int kDefaultApplicationLook = 215;

// The visual style chosen by the looks 210 to 218 (Windows 2000, Office XP, Windows XP,
// Office 2003, Visual Studio 2005, Office 2007 blue, black, silver and aqua), applied to
// the application as a Qt style and palette.
void applyApplicationLook(int look);
// The stored look ("ApplicationLook" in the per-user settings), 215 when none is stored
// or the stored value is not one of the looks.
int storedApplicationLook();
void storeApplicationLook(int look);

}  // namespace dunmore::ui
