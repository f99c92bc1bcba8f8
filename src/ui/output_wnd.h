#pragma once

#include <QListWidget>

namespace dunmore::ui {

// The output pane: one line per item, in the order added, no header, single selection.
class COutputWnd : public QListWidget {
    Q_OBJECT
public:
    explicit COutputWnd(QWidget* parent = nullptr);
    void addOutputLine(const QString& text);
    QStringList lines() const;
};

}  // namespace dunmore::ui
