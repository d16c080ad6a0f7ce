// Renders the main dialog and the About box into PNG files, for looking at the layout under a
// real X server (scripts/screenshots runs it under Xvfb).
// Usage: kestrel_render_dialogs OUTDIR [SAMPLE.bin]
#include <QApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>

#include "app/qt/CAboutDlg.h"
#include "app/qt/CUpgradeDlg.h"
#include "image/RawBinaryLoader.h"

namespace {

bool Save(QWidget& widget, const QDir& dir, const char* name) {
    widget.show();
    QApplication::processEvents();
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!widget.grab().save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTDIR [SAMPLE.bin]\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    bool ok = QDir().mkpath(dir.path());

    CUpgradeDlg dlg;
    ok = ok && Save(dlg, dir, "dialog-start.png");

    if (argc > 2) {
        // A loaded image half-way through its blocks, as the dialog looks during a run.
        if (LoadProgramBinaryFrom(dlg, argv[2])) {
            dlg.m_nChannel = 3;
            dlg.PushValues();
            dlg.SetProgressPos((dlg.ProgressMinimum() + dlg.ProgressMaximum()) / 2);
            ok = ok && Save(dlg, dir, "dialog-loaded.png");
        } else {
            std::fprintf(stderr, "cannot load %s\n", argv[2]);
            ok = false;
        }
    }
    dlg.hide();

    CAboutDlg about;
    ok = ok && Save(about, dir, "about.png");
    return ok ? 0 : 1;
}
