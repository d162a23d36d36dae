#pragma once

#include <string>
#include <vector>

// The files of one archive as they are unpacked into a folder: each is
// written beside its final name and only renamed into place once every entry
// of the archive was written. So a damaged archive leaves the files already
// there untouched, and a program that is still running is replaced (by a
// rename) rather than overwritten. What is not committed is removed.
class CStagedFiles {
  public:
    explicit CStagedFiles(std::string folder);
    ~CStagedFiles();
    CStagedFiles(const CStagedFiles&) = delete;
    CStagedFiles& operator=(const CStagedFiles&) = delete;

    // The path to write the entry name to, with the folders along name made;
    // empty when name would leave the folder ("..", absolute) or a folder
    // cannot be made. "\" in name counts as "/".
    std::string Stage(const std::string& name);
    // Renames every staged file into place; false when one could not be.
    bool Commit();

  private:
    struct Entry {
        std::string staged;
        std::string final;
    };
    std::string folder_;
    std::vector<Entry> entries_;
};
