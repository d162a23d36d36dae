// tvx-skin-maker: writes the demo skin's pictures into a folder and packs
// them, with the zip command, into the skin package the launcher fetches.
//
//   tvx-skin-maker --out DIR [--title TEXT] [--without NAME]... [--preview]
//
// The pictures go to DIR/img/, the package to DIR/img.zip. --without leaves
// a picture out of the package (for a skin with a missing picture);
// --preview also writes each picture as PNG to DIR/preview/.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

#include "tools/skin_maker/SkinPictures.h"

namespace {

int Usage(const char* problem) {
    std::fprintf(stderr,
                 "tvx-skin-maker: %s\nusage: tvx-skin-maker --out DIR [--title TEXT] "
                 "[--without NAME]... [--preview]\n",
                 problem);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Drawing needs no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QString out;
    QString title = QStringLiteral("Halvard2");
    QStringList without;
    bool preview = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == "--preview") {
            preview = true;
        } else if ((arg == "--out" || arg == "--title" || arg == "--without") &&
                   i + 1 < args.size()) {
            const QString value = args[++i];
            if (arg == "--out")
                out = value;
            else if (arg == "--title")
                title = value;
            else
                without << value;
        } else {
            return Usage(("unknown or incomplete option " + arg.toStdString()).c_str());
        }
    }
    if (out.isEmpty())
        return Usage("--out is missing");

    const QDir folder(out + "/img");
    if (!QDir().mkpath(folder.path()))
        return Usage("cannot create the output folder");
    for (const QString& old : folder.entryList(QDir::Files))
        QFile::remove(folder.filePath(old));

    QStringList names;
    for (const auto& [name, image] : skin_maker::DrawSkin(title)) {
        if (without.contains(name))
            continue;
        if (!image.save(folder.filePath(name), "JPG", 100)) {
            std::fprintf(stderr, "tvx-skin-maker: cannot write %s\n", qPrintable(name));
            return 1;
        }
        names << name;
        if (preview && (!QDir().mkpath(out + "/preview") ||
                        !image.save(out + "/preview/" + QString(name).replace(".jpg", ".png")))) {
            std::fprintf(stderr, "tvx-skin-maker: cannot write the preview of %s\n",
                         qPrintable(name));
            return 1;
        }
    }

    const QString package = QDir(out).absoluteFilePath("img.zip");
    QFile::remove(package);
    QProcess zip;
    zip.setWorkingDirectory(folder.path());
    zip.start(QStringLiteral("zip"), QStringList{"-q", "-X", package} + names);
    if (!zip.waitForFinished(60000) || zip.exitStatus() != QProcess::NormalExit ||
        zip.exitCode() != 0) {
        std::fprintf(stderr, "tvx-skin-maker: zip failed: %s\n",
                     qPrintable(QString::fromLocal8Bit(zip.readAllStandardError())));
        return 1;
    }
    std::printf("skin: %lld pictures in %s\n", static_cast<long long>(names.size()),
                qPrintable(package));
    return 0;
}
