#pragma once

// The skin's pictures by entry name, as unpacked from the package: one entry
// for every name of the package, in package order; a file that is missing or
// no picture keeps its entry without a picture, so that the elements drawn
// from it stay plain.

#include <QImage>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

class CSkinImageMap {
  public:
    // Replaces the map with the pictures of folder/<entry> for every entry.
    void Load(const std::string& folder, const std::vector<std::string>& entries);
    void Clear() { images_.clear(); }

    // The picture stored under the exact entry name; nullptr when the name
    // is not in the package or its file gave no picture.
    const QImage* Lookup(std::string_view name) const;
    bool Contains(std::string_view name) const { return images_.contains(std::string(name)); }
    size_t Size() const { return images_.size(); }

  private:
    std::map<std::string, QImage, std::less<>> images_;
};

}  // namespace launcher
