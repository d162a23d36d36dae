#include "launcher/window/CSkinImageMap.h"

#include <QFile>

namespace launcher {
namespace {

QImage LoadPicture(const std::string& path) {
    QFile file(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return {};
    // Decoded by content, not by name: a skin may call a PNG ".jpg".
    return QImage::fromData(bytes);
}

}  // namespace

void CSkinImageMap::Load(const std::string& folder, const std::vector<std::string>& entries) {
    images_.clear();
    for (const std::string& name : entries) {
        // Folder entries of the archive end in "/" and are no picture.
        QImage picture = name.empty() || name.back() == '/' ? QImage() : LoadPicture(folder + name);
        images_.insert_or_assign(name, std::move(picture));
    }
}

const QImage* CSkinImageMap::Lookup(std::string_view name) const {
    const auto it = images_.find(name);
    if (it == images_.end() || it->second.isNull())
        return nullptr;
    return &it->second;
}

}  // namespace launcher
