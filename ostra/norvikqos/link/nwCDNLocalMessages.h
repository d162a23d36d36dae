#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "ostra/norvikqos/stack/nwStreamFrame.h"

// Messages of the local engine link, both directions, as this side writes and
// reads them. Integers are little-endian; fixed-width text fields are zero
// padded; "text" fields are NUL-terminated and of variable length.
namespace nwCDNLocal {

constexpr uint16_t kCategory = 256;         // every message except the one-piece list
constexpr uint16_t kCategoryJobList = 258;  // the one-piece job list (client to engine)

// Client to engine.
constexpr uint16_t kCmdJobMode = 0;
constexpr uint16_t kCmdJobKind = 1;
constexpr uint16_t kCmdStopJob = 3;
constexpr uint16_t kCmdEngineText = 12;
constexpr uint16_t kCmdJobValue = 13;
constexpr uint16_t kCmdJobList = 14;
constexpr uint16_t kCmdJobFlag = 17;
constexpr uint16_t kCmdResumeAnswer = 18;
constexpr uint16_t kCmdJobListBegin = 19;
constexpr uint16_t kCmdJobFile = 20;
constexpr uint16_t kCmdJobListEnd = 21;
constexpr uint16_t kCmdCommand22 = 22;

// Engine to client.
constexpr uint16_t kCmdJobAccepted = 4;
constexpr uint16_t kCmdJobProgress = 5;
constexpr uint16_t kCmdJobFinished = 6;
constexpr uint16_t kCmdFileCompleted = 7;
constexpr uint16_t kCmdEngineNotice = 8;
constexpr uint16_t kCmdNetworkDown = 9;
constexpr uint16_t kCmdNetworkUp = 10;
constexpr uint16_t kCmdJobError = 11;
constexpr uint16_t kCmdFileCompletedDetail = 15;
constexpr uint16_t kCmdResumeQuestion = 16;
constexpr uint16_t kCmdEngineState = 22;

constexpr std::size_t kJobModeSize = 17;
constexpr std::size_t kJobKindSize = 20;
constexpr std::size_t kJobNameSize = 33;
constexpr std::size_t kPathSize = 260;
constexpr std::size_t kEngineTextSize = 260;
constexpr std::size_t kListHeaderSize = 41;
// A list entry without its URL text (the URL's NUL counted).
constexpr std::size_t kListEntryFixedSize = 531;
// A file piece without its URL bytes.
constexpr std::size_t kJobFileFixedSize = 540;
// The largest job list that goes as one message; larger lists go in pieces.
constexpr std::size_t kMaxOneMessageList = 130047;

constexpr uint32_t kNoEngineKey = 0xFFFFFFFFu;

constexpr std::size_t kProgressFixedSize = 64;
constexpr std::size_t kProgressEntryFixedSize = 65;
constexpr std::size_t kTrailerSize = 16;  // the unread tail of several engine messages

}  // namespace nwCDNLocal

// ---- client to engine --------------------------------------------------------

struct nwCDNJobModeRecord {
    uint8_t mode = 1;  // 2: started with a non-zero start mode, else 1
};

struct nwCDNJobKindRecord {
    std::string_view kind;  // at most 3 characters are meaningful
};

struct nwCDNJobListHeader {
    uint32_t serial = 0;
    uint32_t fileCount = 0;
    std::string_view jobName;  // cut to 32 characters
};

struct nwCDNJobListEntry {
    uint8_t optionA = 0;
    uint8_t optionB = 0;
    int64_t size = -1;  // -1: unknown
    std::string_view folder;
    std::string_view fileName;
    std::string_view url;  // mirrors separated by "|"
};

struct nwCDNJobList {
    nwCDNJobListHeader header;
    std::span<const nwCDNJobListEntry> entries;
};

struct nwCDNJobFileRecord {
    uint32_t serial = 0;
    uint32_t index = 0;
    nwCDNJobListEntry file;
};

struct nwCDNJobKeyRecord {
    uint32_t serial = 0;
    uint32_t engineKey = nwCDNLocal::kNoEngineKey;
};

struct nwCDNJobValueRecord {
    uint32_t serial = 0;
    uint32_t engineKey = nwCDNLocal::kNoEngineKey;
    uint8_t value = 0;
};

struct nwCDNResumeAnswerRecord {
    uint32_t engineKey = nwCDNLocal::kNoEngineKey;
    uint32_t serial = 0;
    uint8_t answer = 0;
    uint8_t second = 0;
};

// The payload size of a one-piece job list: 41 + sum of (531 + URL length).
std::size_t nwCDNJobListSize(const nwCDNJobList& list);

// Each builder returns the whole framed message, or an empty one (IsValid
// false) when a field cannot be represented: a folder or file name that does
// not fit its 260-byte field with its NUL (cutting it would write the file
// somewhere else), or a URL too long for its length field.
nwStreamMessage nwBuildJobMode(const nwCDNJobModeRecord& record);
nwStreamMessage nwBuildJobKind(const nwCDNJobKindRecord& record);
nwStreamMessage nwBuildJobList(const nwCDNJobList& list);
nwStreamMessage nwBuildJobListBegin(const nwCDNJobListHeader& header);
nwStreamMessage nwBuildJobFile(const nwCDNJobFileRecord& record);
nwStreamMessage nwBuildJobListEnd(uint32_t serial);
nwStreamMessage nwBuildStopJob(const nwCDNJobKeyRecord& record);
// The text is cut to 259 bytes so that its NUL always fits.
nwStreamMessage nwBuildEngineText(std::string_view text);
nwStreamMessage nwBuildJobValue(const nwCDNJobValueRecord& record);
nwStreamMessage nwBuildJobFlag(uint32_t serial);
nwStreamMessage nwBuildResumeAnswer(const nwCDNResumeAnswerRecord& record);
nwStreamMessage nwBuildCommand22();

// ---- engine to client --------------------------------------------------------
// Text fields point into the received payload and are valid only while it is.

struct nwCDNJobAcceptedRecord {
    uint32_t serial = 0;
    uint32_t engineKey = 0;
    uint32_t valueA = 0;  // the job's file count
    int64_t totalBytes = 0;
};

struct nwCDNProgressEntry {
    const uint8_t* raw = nullptr;  // the entry's 65 fixed bytes
    int64_t total = 0;
    int64_t done = 0;
    uint32_t speed = 0;
    std::string_view text;
};

struct nwCDNJobProgressRecord {
    const uint8_t* raw = nullptr;  // the 64-byte fixed part
    uint32_t serial = 0;
    uint32_t engineKey = 0;
    uint32_t valueB = 0;
    uint32_t fileIndex = 0;
    int64_t totalBytes = 0;
    int64_t doneBytes = 0;
    uint32_t speed = 0;
    int64_t timeStamp = 0;
    uint32_t entryCount = 0;
    std::span<const nwCDNProgressEntry> entries;
};

struct nwCDNJobFinishedRecord {
    uint32_t serial = 0;
    uint32_t engineKey = 0;
    uint32_t result = 0;
    uint32_t failureFlag = 0;
};

struct nwCDNFileCompletedRecord {
    uint32_t serial = 0;
    uint32_t engineKey = 0;
    std::string_view localPath;
    std::string_view detail;  // only in the detailed form
    std::string_view extra;
};

struct nwCDNEngineNoticeRecord {
    uint32_t serial = 0;
    uint32_t engineKey = 0;
    uint8_t kind = 0;  // 1: too little disk space
    std::string_view text;
};

struct nwCDNNetworkRecord {
    const uint8_t* raw = nullptr;  // 16 bytes, not read
};

struct nwCDNJobErrorRecord {
    uint32_t serial = 0;
    std::string_view text;
};

// Each reader checks the payload's length against the layout before it reads a
// field, and answers false when a fixed part is short, a text has no NUL
// inside the payload, or the progress entry count does not fit the payload.
bool nwReadJobAccepted(const uint8_t* payload, uint32_t length, nwCDNJobAcceptedRecord& out);
// entries receives one item per progress entry; out.entries points into it.
bool nwReadJobProgress(const uint8_t* payload, uint32_t length, nwCDNJobProgressRecord& out,
                       std::vector<nwCDNProgressEntry>& entries);
bool nwReadJobFinished(const uint8_t* payload, uint32_t length, nwCDNJobFinishedRecord& out);
bool nwReadFileCompleted(const uint8_t* payload, uint32_t length, nwCDNFileCompletedRecord& out);
bool nwReadFileCompletedDetail(const uint8_t* payload, uint32_t length,
                               nwCDNFileCompletedRecord& out);
bool nwReadEngineNotice(const uint8_t* payload, uint32_t length, nwCDNEngineNoticeRecord& out);
bool nwReadNetworkChange(const uint8_t* payload, uint32_t length, nwCDNNetworkRecord& out);
bool nwReadJobError(const uint8_t* payload, uint32_t length, nwCDNJobErrorRecord& out);
bool nwReadResumeQuestion(const uint8_t* payload, uint32_t length, uint32_t& serial);
bool nwReadEngineState(const uint8_t* payload, uint32_t length, uint32_t& value);
