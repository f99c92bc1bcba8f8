#pragma once

#include <QFrame>

class QLabel;

namespace dunmore::ui {

// The caption bar under the ribbon: a one-line message bar with the information sign at
// its left and the current state in one sentence. It has no close button.
class CMyCaptionBar : public QFrame {
    Q_OBJECT
public:
    explicit CMyCaptionBar(QWidget* parent = nullptr);
    // Replaces the text (left aligned) and repaints at once.
    void setText(const QString& text);
    QString text() const;

private:
    QLabel* m_text;
};

}  // namespace dunmore::ui
