#include "engine/link/ClientMessages.h"

#include "engine/link/WireFormat.h"

namespace engine::link {
namespace {

constexpr std::size_t kPath = 260;
constexpr std::size_t kListEntryMin = 531;  // an entry with an empty URL

bool ReadPaths(wire::FieldReader& r, ListedFile& f) {
    return r.Fixed(kPath, f.folder) && r.Fixed(kPath, f.name);
}

bool ReadHeaderFields(wire::FieldReader& r, ListHeader& h) {
    return r.U32(h.serial) && r.U32(h.fileCount) && r.Fixed(33, h.jobName);
}

}  // namespace

bool ReadJobMode(const uint8_t* p, std::size_t n, uint8_t& mode) {
    wire::FieldReader r(p, n);
    return r.U8(mode) && r.Skip(16);
}

bool ReadJobKind(const uint8_t* p, std::size_t n, std::string& kind) {
    wire::FieldReader r(p, n);
    return r.Fixed(20, kind);
}

bool ReadEngineText(const uint8_t* p, std::size_t n, std::string& text) {
    wire::FieldReader r(p, n);
    return r.Fixed(260, text);
}

bool ReadListHeader(const uint8_t* p, std::size_t n, ListHeader& out) {
    wire::FieldReader r(p, n);
    return ReadHeaderFields(r, out);
}

bool ReadJobList(const uint8_t* p, std::size_t n, JobListMessage& out) {
    wire::FieldReader r(p, n);
    if (!ReadHeaderFields(r, out.header))
        return false;
    // A count that the payload cannot hold is refused before anything is reserved.
    if (out.header.fileCount > (n - 41) / kListEntryMin)
        return false;
    out.files.clear();
    out.files.reserve(out.header.fileCount);
    for (uint32_t i = 0; i < out.header.fileCount; ++i) {
        ListedFile f;
        if (!(r.U8(f.optionA) && r.U8(f.optionB) && r.I64(f.size) && ReadPaths(r, f) &&
              r.Text(f.url)))
            return false;
        out.files.push_back(std::move(f));
    }
    return true;
}

bool ReadJobFile(const uint8_t* p, std::size_t n, JobFileMessage& out) {
    wire::FieldReader r(p, n);
    uint16_t urlLength = 0;
    ListedFile& f = out.file;
    return r.U32(out.serial) && r.U32(out.index) && r.U8(f.optionA) && r.U8(f.optionB) &&
           r.I64(f.size) && ReadPaths(r, f) && r.U16(urlLength) && r.Bytes(urlLength, f.url);
}

bool ReadSerial(const uint8_t* p, std::size_t n, uint32_t& serial) {
    wire::FieldReader r(p, n);
    return r.U32(serial);
}

bool ReadJobKey(const uint8_t* p, std::size_t n, JobKeyMessage& out) {
    wire::FieldReader r(p, n);
    return r.U32(out.serial) && r.U32(out.engineKey);
}

bool ReadResumeAnswer(const uint8_t* p, std::size_t n, ResumeAnswerMessage& out) {
    wire::FieldReader r(p, n);
    return r.U32(out.engineKey) && r.U32(out.serial) && r.U8(out.answer) && r.U8(out.second);
}

}  // namespace engine::link
