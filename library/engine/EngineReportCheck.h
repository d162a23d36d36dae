#pragma once

#include <string>

class CJob;
struct FileEntry;

// What the engine downloader believes of the engine's reports. The engine is
// another program: a report counts only where it names the job's own files
// and the disk shows them as the job expects, so that nothing the job did not
// download is ever reported, or later started, as one of its files.
namespace tarvo {

// The job's file entry that a completed-file report names, when that file is
// there: the path must be the entry's local path exactly (the job's own
// lookup ignores letter case, the file system does not), and a regular file
// must be at that path, of the entry's size when the job knows it. Null
// otherwise.
FileEntry* ReportedJobFile(CJob& job, const std::string& path);

// True when every file of the job has been reported and taken.
bool EveryFileReported(const CJob& job);

}  // namespace tarvo
