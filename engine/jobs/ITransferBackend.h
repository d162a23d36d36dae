#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How a job gets its files: a backend downloads one file (or finds its size)
// from the file's mirror list. The job does not care how; HTTP is one backend,
// a peer-assisted one can stand beside it.
namespace engine::jobs {

enum class TransferOutcome {
    Done,         // the file is complete on disk
    Failed,       // every mirror failed (or the size could not be found)
    WriteFailed,  // the file could not be written: disk full, folder not writable
};

struct TransferRequest {
    std::vector<std::string> mirrors;
    // Full path of the target file. A download continues from what the file
    // already holds; the job truncates it first when it must start over.
    std::string path;
    int64_t expectedSize = -1;       // -1: unknown
    uint64_t maxBytesPerSecond = 0;  // 0: no limit
};

class ITransferListener {
  public:
    // The last call for a transfer; the listener may destroy it from here.
    virtual void OnTransferFinished(uint32_t id, TransferOutcome outcome) = 0;
    // A size probe ended: size is -1 when the server does not tell it.
    virtual void OnSizeFound(uint32_t id, bool ok, int64_t size) = 0;

  protected:
    ~ITransferListener() = default;
};

// A running transfer; destroying it cancels it (a partial file stays).
class ITransfer {
  public:
    virtual ~ITransfer() = default;
    // Bytes of the target file now on disk.
    virtual int64_t BytesOnDisk() const = 0;
};

class ITransferBackend {
  public:
    virtual ~ITransferBackend() = default;
    virtual std::unique_ptr<ITransfer> StartDownload(uint32_t id, const TransferRequest& request,
                                                     ITransferListener& listener) = 0;
    virtual std::unique_ptr<ITransfer> StartSizeProbe(uint32_t id,
                                                      const std::vector<std::string>& mirrors,
                                                      ITransferListener& listener) = 0;
};

}  // namespace engine::jobs
