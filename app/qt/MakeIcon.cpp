// Build step: writes the application icon as PNG files for installation, from the same drawing
// the program uses at run time. Usage: kestrel-make-icon SIZE OUT.png [SIZE OUT.png ...]
#include <QString>

#include <cstdio>

#include "app/qt/AppIcon.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s SIZE OUT.png [SIZE OUT.png ...]\n", argv[0]);
        return 2;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        if (size <= 0 || !RenderAppIcon(size).save(QString::fromLocal8Bit(argv[i + 1]), "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[i + 1]);
            return 1;
        }
    }
    return 0;
}
