#pragma once

#include <cstdint>

struct FileEntry;

// What the direct download session (CPlatformSession) tells its owner, the
// direct downloader. Every call runs on the worker thread under the engine
// lock and passes back the context value the owner gave with the listener
// (its per-job context), except OnPathCreated, which passes it second.
//
// Re-entrancy: the session makes OnSessionComplete, OnSessionError and
// OnSessionMessage the last thing it does in the call, so the owner may detach
// and delete the session from inside them. From inside OnFileComplete,
// OnSessionProgress and OnPathCreated it must not delete the session (the
// session still goes on after they return).
class IPlatFormSessionEventListener {
  public:
    // The last file is complete; the session is idle from now on.
    virtual void OnSessionComplete(void* context) = 0;
    // A file could not be downloaded from any of its URLs (a broken redirect
    // counts as a failed attempt), its target file could not be opened, or
    // its name was refused (a name that would leave the job's folder). text is
    // the URL that failed last. The session is idle from now on: files after this one are
    // not started, and the job is not complete (the owner raises job message
    // 517 and the user may stop and start the job again).
    virtual void OnSessionError(void* context, const char* text) = 0;
    // One file is complete, before the next one starts. The entry is the
    // session's copy: folder + name is the local path, url the URL text as the
    // job gave it.
    virtual void OnFileComplete(void* context, const FileEntry& entry) = 0;
    // Bytes were written; CPlatformSession::GetWrittenBytes and CurrentEntry
    // give the new progress (the owner computes the job status from them; its
    // once-a-second tick raises the status event).
    virtual void OnSessionProgress(void* context) = 0;
    // The target file at path has been created anew (empty); every attempt of
    // a file creates it again.
    virtual void OnPathCreated(const char* path, void* context) = 0;
    // Writing to the target file failed (code 513, the disk is full or the
    // file cannot grow); text is the URL. The file's transfer has been stopped
    // and the session is idle from now on; the file is not reported complete.
    virtual void OnSessionMessage(void* context, int32_t code, const char* text) = 0;

  protected:
    ~IPlatFormSessionEventListener() = default;
};
