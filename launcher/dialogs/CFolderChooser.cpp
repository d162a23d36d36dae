#include "launcher/dialogs/CFolderChooser.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

#include "launcher/core/DiskSpace.h"

namespace launcher {
namespace {

QString FromNarrow(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CFolderDialog::CFolderDialog(QWidget* owner, const std::string& initialFolder, int64_t totalSize)
    : QFileDialog(owner), totalSize_(totalSize) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::ShowDirsOnly, true);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
    // A window title holds one line: the title's closing line break stays out.
    setWindowTitle(FromNarrow(ChooserTitle(totalSize_)).trimmed());

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("freeSpaceStatus"));
    status_->setWordWrap(true);
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(status_, grid->rowCount(), 0, 1, grid->columnCount());

    // Start with the current folder selected in its parent's listing.
    const QString initial = QDir::cleanPath(FromNarrow(initialFolder));
    const QFileInfo info(initial);
    if (!initial.isEmpty() && info.isDir() && !info.isRoot()) {
        setDirectory(info.absolutePath());
        selectFile(info.fileName());
    } else if (!initial.isEmpty()) {
        setDirectory(initial);
    }
    ShowFreeSpaceOf(initial.isEmpty() ? directory().absolutePath() : initial);

    connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) {
        ShowFreeSpaceOf(path.isEmpty() ? directory().absolutePath() : path);
    });
    connect(this, &QFileDialog::directoryEntered, this,
            [this](const QString& path) { ShowFreeSpaceOf(path); });
}

QString CFolderDialog::StatusText() const {
    return status_->text();
}

void CFolderDialog::ShowFreeSpaceOf(const QString& path) {
    const QByteArray narrow = path.toUtf8();
    const int64_t free = FreeBytes(std::string(narrow.constData(), narrow.size()));
    status_->setText(FromNarrow(ChooserStatus(totalSize_, free)));
}

std::optional<std::string> CFolderChooser::Browse(const std::string& initialFolder,
                                                  int64_t totalSize) {
    CFolderDialog dialog(owner_.data(), initialFolder, totalSize);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    const QByteArray narrow = QDir::cleanPath(chosen.front()).toUtf8();
    return std::string(narrow.constData(), narrow.size());
}

}  // namespace launcher
