#pragma once

#include <QString>

class QWidget;

namespace dunmore::ui {

// The application's message boxes: titled "Dunmore(Full) v22.08", information icon
// unless told otherwise, modal over parent.
void informationBox(QWidget* parent, const QString& text);
bool yesNoQuestion(QWidget* parent, const QString& text, bool questionIcon);

}  // namespace dunmore::ui
