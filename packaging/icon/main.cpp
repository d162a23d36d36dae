// tvx-icon-maker: writes the launcher's menu icon as PNG files, one per size,
// for the hicolor icon theme.
//
//   tvx-icon-maker OUT_DIR NAME SIZE...
//
// Each size S becomes OUT_DIR/SxS/apps/NAME.png.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "packaging/icon/LauncherIcon.h"

namespace {

int Usage(const std::string& problem) {
    std::fprintf(stderr, "tvx-icon-maker: %s\nusage: tvx-icon-maker OUT_DIR NAME SIZE...\n",
                 problem.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return Usage("too few arguments");
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    if (name.isEmpty() || name.contains('/'))
        return Usage("NAME must be a plain file name");
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLatin1(argv[i]).toInt(&ok);
        if (!ok || size < 8 || size > 1024)
            return Usage(std::string("bad size '") + argv[i] + "' (8 to 1024)");
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "tvx-icon-maker: cannot create %s\n", qPrintable(folder));
            return 1;
        }
        const QString path = folder + '/' + name + ".png";
        // Written under a temporary name first, so that an interrupted build
        // never leaves a truncated icon that looks up to date.
        const QString part = path + ".part";
        if (!packaging::LauncherIcon(size).save(part, "PNG") ||
            std::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) !=
                0) {
            QFile::remove(part);
            std::fprintf(stderr, "tvx-icon-maker: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
