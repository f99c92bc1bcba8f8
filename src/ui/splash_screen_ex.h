#pragma once

#include <QSplashScreen>

namespace dunmore::ui {

// The splash screen: the banner with its magenta corners cut away and the version drawn
// over it, centred on the screen. It fades in over 500 ms, stays 2,000 ms after it was
// shown, fades out over 200 ms and is destroyed; keys and clicks do not dismiss it.
class CSplashScreenEx : public QSplashScreen {
    Q_OBJECT
public:
    CSplashScreenEx(QWidget* owner, const QString& text, int displayMs);
    void start();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent*) override {}
    void drawContents(QPainter* painter) override;

private:
    QString m_text;
    int m_displayMs;
};

}  // namespace dunmore::ui
