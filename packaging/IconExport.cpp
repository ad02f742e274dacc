// Writes the window's icon as PNG files for the desktop's icon theme, so the menu
// shows the same picture the window draws. Usage: fwup_icon_export SIZE OUT.png ...
#include "ui/AppIcon.h"

#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: fwup_icon_export SIZE OUT.png [SIZE OUT.png ...]\n");
        return 2;
    }
    const QIcon icon = fwup::MakeAppIcon();
    for (int i = 1; i + 1 < argc; i += 2) {
        const int nSize = std::atoi(argv[i]);
        const QPixmap pixmap = icon.pixmap(QSize(nSize, nSize));
        if (nSize <= 0 || pixmap.size() != QSize(nSize, nSize) ||
            !pixmap.save(argv[i + 1], "PNG")) {
            std::fprintf(stderr, "fwup_icon_export: cannot write %s at %d pixels\n", argv[i + 1],
                         nSize);
            return 1;
        }
    }
    return 0;
}
