#include "ui/user_guide.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace dunmore::ui {

QUrl userGuideUrl(const QString& anchor) {
    const QString dir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        dir + "/user-guide.html",
        dir + "/../share/doc/dunmore/user-guide.html",
#ifdef DUNMORE_SOURCE_DIR
        QStringLiteral(DUNMORE_SOURCE_DIR) + "/docs/user-guide.html",
#endif
    };
    for (const QString& path : candidates) {
        if (!QFileInfo::exists(path)) continue;
        QUrl url = QUrl::fromLocalFile(QFileInfo(path).canonicalFilePath());
        if (!anchor.isEmpty()) url.setFragment(anchor);
        return url;
    }
    return {};
}

}  // namespace dunmore::ui
