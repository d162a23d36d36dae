#include "ostra/norvikqos/link/nwCDNLocalMessages.h"

#include <cstring>

namespace {

using namespace nwCDNLocal;

// Writes fields in order into a message payload whose size was computed up front.
class FieldWriter {
  public:
    explicit FieldWriter(uint8_t* out) : out_(out) {}

    void U8(uint8_t v) { out_[pos_++] = v; }
    void U16(uint16_t v) { Integer(v, 2); }
    void U32(uint32_t v) { Integer(v, 4); }
    void I64(int64_t v) { Integer(static_cast<uint64_t>(v), 8); }
    // Copies at most width - 1 bytes; the zero fill of the block stays behind.
    void Fixed(std::string_view text, std::size_t width) {
        const std::size_t n = Length(text, width - 1);
        std::memcpy(out_ + pos_, text.data(), n);
        pos_ += width;
    }
    void Bytes(std::string_view text) {
        std::memcpy(out_ + pos_, text.data(), text.size());
        pos_ += text.size();
    }
    // The text and its NUL (already zero in the block).
    void Text(std::string_view text) {
        Bytes(text);
        ++pos_;
    }

  private:
    void Integer(uint64_t v, int width) {
        for (int i = 0; i < width; ++i)
            out_[pos_++] = static_cast<uint8_t>(v >> (8 * i));
    }
    // A string_view may hold an embedded NUL; the field ends at the first one,
    // as it would when copied from a zero-terminated source.
    static std::size_t Length(std::string_view text, std::size_t limit) {
        const std::size_t nul = text.find('\0');
        const std::size_t n = nul == std::string_view::npos ? text.size() : nul;
        return n < limit ? n : limit;
    }

    uint8_t* out_;
    std::size_t pos_ = 0;
};

// Reads fields in order; every read checks the bytes are there first.
class FieldReader {
  public:
    FieldReader(const uint8_t* data, uint32_t length) : data_(data), length_(data ? length : 0) {}

    bool Skip(std::size_t n) {
        if (length_ - pos_ < n)
            return false;
        pos_ += n;
        return true;
    }
    bool U8(uint8_t& v) {
        if (!Has(1))
            return false;
        v = data_[pos_++];
        return true;
    }
    bool U32(uint32_t& v) {
        uint64_t x = 0;
        if (!Integer(x, 4))
            return false;
        v = static_cast<uint32_t>(x);
        return true;
    }
    bool I64(int64_t& v) {
        uint64_t x = 0;
        if (!Integer(x, 8))
            return false;
        v = static_cast<int64_t>(x);
        return true;
    }
    // A fixed field: the text up to its first NUL, at most width bytes.
    bool Fixed(std::size_t width, std::string_view& text) {
        if (!Has(width))
            return false;
        const auto* p = reinterpret_cast<const char*>(data_ + pos_);
        text = std::string_view(p, strnlen(p, width));
        pos_ += width;
        return true;
    }
    // A NUL-terminated text; the NUL must lie inside the payload.
    bool Text(std::string_view& text) {
        const auto* p = reinterpret_cast<const char*>(data_ + pos_);
        const std::size_t rest = length_ - pos_;
        const void* nul = rest ? std::memchr(p, 0, rest) : nullptr;
        if (!nul)
            return false;
        const auto n = static_cast<std::size_t>(static_cast<const char*>(nul) - p);
        text = std::string_view(p, n);
        pos_ += n + 1;
        return true;
    }
    const uint8_t* Here() const { return data_ + pos_; }
    std::size_t Remaining() const { return length_ - pos_; }

  private:
    bool Has(std::size_t n) const { return length_ - pos_ >= n; }
    bool Integer(uint64_t& v, int width) {
        if (!Has(static_cast<std::size_t>(width)))
            return false;
        v = 0;
        for (int i = 0; i < width; ++i)
            v |= uint64_t{data_[pos_ + i]} << (8 * i);
        pos_ += static_cast<std::size_t>(width);
        return true;
    }

    const uint8_t* data_;
    std::size_t length_;
    std::size_t pos_ = 0;
};

bool FitsPath(std::string_view text) {
    const std::size_t nul = text.find('\0');
    return (nul == std::string_view::npos ? text.size() : nul) < kPathSize;
}

// The URL up to an embedded NUL, if any: what a zero-terminated copy would carry.
std::string_view UrlText(std::string_view url) {
    return url.substr(0, url.find('\0'));
}

void WriteListHeader(FieldWriter& w, const nwCDNJobListHeader& header) {
    w.U32(header.serial);
    w.U32(header.fileCount);
    w.Fixed(header.jobName, kJobNameSize);
}

void WriteEntryFiles(FieldWriter& w, const nwCDNJobListEntry& e) {
    w.Fixed(e.folder, kPathSize);
    w.Fixed(e.fileName, kPathSize);
}

nwStreamMessage Sealed(nwStreamMessage message, uint16_t command, uint16_t category = kCategory) {
    message.Seal(category, command);
    return message;
}

nwStreamMessage KeyMessage(uint16_t command, uint32_t a, uint32_t b) {
    nwStreamMessage m = nwStreamMessage::Allocate(8);
    if (!m.IsValid())
        return m;
    FieldWriter w(m.Payload());
    w.U32(a);
    w.U32(b);
    return Sealed(std::move(m), command);
}

nwStreamMessage SerialMessage(uint16_t command, uint32_t serial) {
    nwStreamMessage m = nwStreamMessage::Allocate(4);
    if (!m.IsValid())
        return m;
    FieldWriter w(m.Payload());
    w.U32(serial);
    return Sealed(std::move(m), command);
}

}  // namespace

std::size_t nwCDNJobListSize(const nwCDNJobList& list) {
    std::size_t size = kListHeaderSize;
    for (const nwCDNJobListEntry& e : list.entries)
        size += kListEntryFixedSize + UrlText(e.url).size();
    return size;
}

nwStreamMessage nwBuildJobMode(const nwCDNJobModeRecord& record) {
    nwStreamMessage m = nwStreamMessage::Allocate(kJobModeSize);
    if (!m.IsValid())
        return m;
    m.Payload()[0] = record.mode;
    return Sealed(std::move(m), kCmdJobMode);
}

nwStreamMessage nwBuildJobKind(const nwCDNJobKindRecord& record) {
    nwStreamMessage m = nwStreamMessage::Allocate(kJobKindSize);
    if (!m.IsValid())
        return m;
    FieldWriter(m.Payload()).Fixed(record.kind, kJobKindSize);
    return Sealed(std::move(m), kCmdJobKind);
}

nwStreamMessage nwBuildJobList(const nwCDNJobList& list) {
    for (const nwCDNJobListEntry& e : list.entries)
        if (!FitsPath(e.folder) || !FitsPath(e.fileName))
            return {};
    nwStreamMessage m = nwStreamMessage::Allocate(nwCDNJobListSize(list));
    if (!m.IsValid())
        return m;
    FieldWriter w(m.Payload());
    WriteListHeader(w, list.header);
    for (const nwCDNJobListEntry& e : list.entries) {
        w.U8(e.optionA);
        w.U8(e.optionB);
        w.I64(e.size);
        WriteEntryFiles(w, e);
        w.Text(UrlText(e.url));
    }
    return Sealed(std::move(m), kCmdJobList, kCategoryJobList);
}

nwStreamMessage nwBuildJobListBegin(const nwCDNJobListHeader& header) {
    nwStreamMessage m = nwStreamMessage::Allocate(kListHeaderSize);
    if (!m.IsValid())
        return m;
    FieldWriter w(m.Payload());
    WriteListHeader(w, header);
    return Sealed(std::move(m), kCmdJobListBegin);
}

nwStreamMessage nwBuildJobFile(const nwCDNJobFileRecord& record) {
    const nwCDNJobListEntry& e = record.file;
    const std::string_view url = UrlText(e.url);
    if (!FitsPath(e.folder) || !FitsPath(e.fileName) || url.size() > 0xFFFF)
        return {};
    nwStreamMessage m = nwStreamMessage::Allocate(kJobFileFixedSize + url.size());
    if (!m.IsValid())
        return m;
    FieldWriter w(m.Payload());
    w.U32(record.serial);
    w.U32(record.index);
    w.U8(e.optionA);
    w.U8(e.optionB);
    w.I64(e.size);
    WriteEntryFiles(w, e);
    w.U16(static_cast<uint16_t>(url.size()));
    w.Bytes(url);
    return Sealed(std::move(m), kCmdJobFile);
}

nwStreamMessage nwBuildJobListEnd(uint32_t serial) {
    return SerialMessage(kCmdJobListEnd, serial);
}

nwStreamMessage nwBuildStopJob(const nwCDNJobKeyRecord& record) {
    return KeyMessage(kCmdStopJob, record.serial, record.engineKey);
}

nwStreamMessage nwBuildEngineText(std::string_view text) {
    nwStreamMessage m = nwStreamMessage::Allocate(kEngineTextSize);
    if (!m.IsValid())
        return m;
    FieldWriter(m.Payload()).Fixed(text, kEngineTextSize);
    return Sealed(std::move(m), kCmdEngineText);
}

nwStreamMessage nwBuildJobValue(const nwCDNJobValueRecord& record) {
    nwStreamMessage m = nwStreamMessage::Allocate(9);
    if (!m.IsValid())
        return m;
    FieldWriter w(m.Payload());
    w.U32(record.serial);
    w.U32(record.engineKey);
    w.U8(record.value);
    return Sealed(std::move(m), kCmdJobValue);
}

nwStreamMessage nwBuildJobFlag(uint32_t serial) {
    return SerialMessage(kCmdJobFlag, serial);
}

nwStreamMessage nwBuildResumeAnswer(const nwCDNResumeAnswerRecord& record) {
    nwStreamMessage m = nwStreamMessage::Allocate(10);
    if (!m.IsValid())
        return m;
    FieldWriter w(m.Payload());
    w.U32(record.engineKey);
    w.U32(record.serial);
    w.U8(record.answer);
    w.U8(record.second);
    return Sealed(std::move(m), kCmdResumeAnswer);
}

nwStreamMessage nwBuildCommand22() {
    return Sealed(nwStreamMessage::Allocate(0), kCmdCommand22);
}

bool nwReadJobAccepted(const uint8_t* payload, uint32_t length, nwCDNJobAcceptedRecord& out) {
    FieldReader r(payload, length);
    return r.U32(out.serial) && r.U32(out.engineKey) && r.U32(out.valueA) && r.I64(out.totalBytes);
}

bool nwReadJobProgress(const uint8_t* payload, uint32_t length, nwCDNJobProgressRecord& out,
                       std::vector<nwCDNProgressEntry>& entries) {
    entries.clear();
    out = {};
    FieldReader r(payload, length);
    out.raw = payload;
    if (!(r.U32(out.serial) && r.U32(out.engineKey) && r.Skip(4) && r.U32(out.valueB) &&
          r.U32(out.fileIndex) && r.I64(out.totalBytes) && r.I64(out.doneBytes) &&
          r.U32(out.speed) && r.Skip(4) && r.I64(out.timeStamp) && r.Skip(8) &&
          r.U32(out.entryCount)))
        return false;
    // Each entry needs its fixed part and at least the NUL of its text: a count
    // beyond that cannot be true, and is refused before anything is allocated.
    if (out.entryCount > r.Remaining() / (kProgressEntryFixedSize + 1))
        return false;
    entries.reserve(out.entryCount);
    for (uint32_t i = 0; i < out.entryCount; ++i) {
        nwCDNProgressEntry e;
        e.raw = r.Here();
        if (!(r.Skip(33) && r.I64(e.total) && r.I64(e.done) && r.U32(e.speed) && r.Skip(12) &&
              r.Text(e.text)))
            return false;
        entries.push_back(e);
    }
    out.entries = entries;
    return true;
}

bool nwReadJobFinished(const uint8_t* payload, uint32_t length, nwCDNJobFinishedRecord& out) {
    FieldReader r(payload, length);
    return r.U32(out.serial) && r.U32(out.engineKey) && r.Skip(4) && r.U32(out.result) &&
           r.U32(out.failureFlag);
}

bool nwReadFileCompleted(const uint8_t* payload, uint32_t length, nwCDNFileCompletedRecord& out) {
    FieldReader r(payload, length);
    out.detail = {};
    return r.U32(out.serial) && r.U32(out.engineKey) && r.Skip(kJobNameSize) &&
           r.Fixed(kPathSize, out.localPath) && r.Text(out.extra);
}

bool nwReadFileCompletedDetail(const uint8_t* payload, uint32_t length,
                               nwCDNFileCompletedRecord& out) {
    FieldReader r(payload, length);
    return r.U32(out.serial) && r.U32(out.engineKey) && r.Skip(kJobNameSize) &&
           r.Fixed(kPathSize, out.localPath) && r.Fixed(kPathSize, out.detail) && r.Text(out.extra);
}

bool nwReadEngineNotice(const uint8_t* payload, uint32_t length, nwCDNEngineNoticeRecord& out) {
    FieldReader r(payload, length);
    return r.U32(out.serial) && r.U32(out.engineKey) && r.U8(out.kind) && r.Text(out.text) &&
           r.Skip(kTrailerSize);
}

bool nwReadNetworkChange(const uint8_t* payload, uint32_t length, nwCDNNetworkRecord& out) {
    FieldReader r(payload, length);
    out.raw = payload;
    return r.Skip(kTrailerSize);
}

bool nwReadJobError(const uint8_t* payload, uint32_t length, nwCDNJobErrorRecord& out) {
    FieldReader r(payload, length);
    return r.U32(out.serial) && r.Skip(4) && r.Text(out.text) && r.Skip(kTrailerSize);
}

bool nwReadResumeQuestion(const uint8_t* payload, uint32_t length, uint32_t& serial) {
    FieldReader r(payload, length);
    return r.U32(serial);
}

bool nwReadEngineState(const uint8_t* payload, uint32_t length, uint32_t& value) {
    FieldReader r(payload, length);
    return r.U32(value);
}
