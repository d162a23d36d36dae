#pragma once

// The folder button's dialog: Qt's own (non-native) folder dialog, so that a
// status line below the view can show the free space of whatever folder is
// selected next to the space the download needs.

#include <QFileDialog>
#include <QPointer>
#include <cstdint>
#include <optional>
#include <string>

#include "launcher/core/FolderChooser.h"

class QLabel;

namespace launcher {

// One dialog, built for one browse.
class CFolderDialog : public QFileDialog {
    Q_OBJECT
  public:
    CFolderDialog(QWidget* owner, const std::string& initialFolder, int64_t totalSize);

    // The status line as it reads now.
    QString StatusText() const;

  private:
    void ShowFreeSpaceOf(const QString& path);

    int64_t totalSize_;
    QLabel* status_ = nullptr;
};

// The browser the controller uses: runs a CFolderDialog modally over owner.
class CFolderChooser : public IFolderBrowser {
  public:
    explicit CFolderChooser(QWidget* owner) : owner_(owner) {}

    std::optional<std::string> Browse(const std::string& initialFolder, int64_t totalSize) override;

  private:
    QPointer<QWidget> owner_;
};

}  // namespace launcher
