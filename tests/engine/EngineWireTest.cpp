// The engine's own wire code against the link's byte examples, written out by
// hand, and against the library's reader and writer: each side is checked on
// its own, so one mistake cannot hide behind the same mistake on the other.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/link/ClientMessages.h"
#include "engine/link/EngineMessages.h"
#include "engine/link/WireFormat.h"
#include "ostra/norvikqos/link/nwCDNLocalMessages.h"

namespace {

using namespace engine;

std::string Header(uint16_t category, uint16_t command, uint32_t length) {
    std::string h = {static_cast<char>(category & 0xFF), static_cast<char>(category >> 8),
                     static_cast<char>(command & 0xFF), static_cast<char>(command >> 8)};
    h += std::string(6, '\0');
    for (int i = 0; i < 4; ++i)
        h.push_back(static_cast<char>(length >> (8 * i)));
    return h;
}

const uint8_t* U(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

std::string Wire(const nwStreamMessage& m) {
    return std::string(reinterpret_cast<const char*>(m.Bytes().data()), m.Bytes().size());
}

TEST(EngineWireTest, FramesArePaddedToEightBytes) {
    // A serial alone: the 24-byte example of the list end.
    EXPECT_EQ(wire::FrameWriter(21).U32(7).Finish(),
              Header(256, 21, 10) + std::string("\x07\0\0\0", 4) + std::string(6, '\0'));
    // An empty payload: 16 bytes, length field 2.
    EXPECT_EQ(wire::FrameWriter(22).Finish(), Header(256, 22, 2) + std::string(2, '\0'));
    const std::string frame = Header(256, 21, 10);
    const wire::FrameHeader h = wire::ReadHeader(U(frame));
    EXPECT_EQ(h.category, 256);
    EXPECT_EQ(h.command, 21);
    EXPECT_EQ(h.length, 10u);
}

TEST(EngineWireTest, ReadsTheJobFileExampleByHand) {
    // u32 serial, u32 index, u8 A, u8 B, i64 size, char[260] folder,
    // char[260] name, u16 length, URL: 560 bytes for a 20-character URL.
    std::string p = std::string("\x03\0\0\0\x01\0\0\0\x11\x22", 10) + std::string(8, '\xFF');
    p +=
        std::string("/g/") + std::string(257, '\0') + std::string("a.bin") + std::string(255, '\0');
    p += std::string("\x14\0", 2) + "http://h/abcdefghijk" + std::string(2, '\0');
    ASSERT_EQ(p.size(), 562u);
    link::JobFileMessage file;
    ASSERT_TRUE(link::ReadJobFile(U(p), p.size(), file));
    EXPECT_EQ(file.serial, 3u);
    EXPECT_EQ(file.index, 1u);
    EXPECT_EQ(file.file.optionA, 0x11);
    EXPECT_EQ(file.file.size, -1);
    EXPECT_EQ(file.file.folder, "/g/");
    EXPECT_EQ(file.file.name, "a.bin");
    EXPECT_EQ(file.file.url, "http://h/abcdefghijk");
    // The library's writer gives the same bytes.
    const nwCDNJobFileRecord record{3, 1, {0x11, 0x22, -1, "/g/", "a.bin", "http://h/abcdefghijk"}};
    EXPECT_EQ(Wire(nwBuildJobFile(record)), Header(256, 20, 562) + p);
    // A URL length beyond the payload is refused.
    p[538] = '\x40';
    EXPECT_FALSE(link::ReadJobFile(U(p), p.size(), file));
}

TEST(EngineWireTest, OnePieceListFromTheLibraryIsReadWhole) {
    const nwCDNJobListEntry entries[] = {{0, 0, 10, "/d/", "a", "http://x/a|http://y/a"},
                                         {0, 0, -1, "/d/", "b", "http://x/b"}};
    const std::string wire = Wire(nwBuildJobList({{9, 2, "halvard2"}, entries}));
    const wire::FrameHeader h = wire::ReadHeader(U(wire));
    EXPECT_EQ(h.category, 258);
    link::JobListMessage list;
    ASSERT_TRUE(link::ReadJobList(U(wire) + 14, h.length, list));
    EXPECT_EQ(list.header.serial, 9u);
    EXPECT_EQ(list.header.jobName, "halvard2");
    ASSERT_EQ(list.files.size(), 2u);
    EXPECT_EQ(list.files[0].url, "http://x/a|http://y/a");
    EXPECT_EQ(list.files[1].size, -1);
    // A count the payload cannot hold, and a URL without its NUL.
    std::string lying = wire.substr(14);
    lying[4] = '\x03';
    EXPECT_FALSE(link::ReadJobList(U(lying), lying.size(), list));
    const std::string cut = wire.substr(14, 41 + 531 + 21 + 531 + 5);
    EXPECT_FALSE(link::ReadJobList(U(cut), cut.size(), list));
}

TEST(EngineWireTest, EngineReportsAreWhatTheLibraryReads) {
    const std::string accepted = link::BuildJobAccepted(4, 77, 8, 1073741824);
    EXPECT_EQ(accepted, Header(256, 4, 26) + std::string("\x04\0\0\0\x4D\0\0\0\x08\0\0\0", 12) +
                            std::string("\0\0\0\x40\0\0\0\0", 8) + std::string(6, '\0'));
    nwCDNJobAcceptedRecord a;
    ASSERT_TRUE(nwReadJobAccepted(U(accepted) + 14, 26, a));
    EXPECT_EQ(a.totalBytes, 1073741824);

    link::ProgressReport report{4, 77, 8, 2, 1000, 600, 50, 12, {{"f1.bin", 300, 100, 9}}};
    const std::string progress = link::BuildJobProgress(report);
    nwCDNJobProgressRecord p;
    std::vector<nwCDNProgressEntry> entries;
    ASSERT_TRUE(nwReadJobProgress(U(progress) + 14, static_cast<uint32_t>(progress.size() - 14), p,
                                  entries));
    EXPECT_EQ(p.valueB, 8u);
    EXPECT_EQ(p.fileIndex, 2u);
    EXPECT_EQ(p.doneBytes, 600);
    EXPECT_EQ(p.timeStamp, 12);
    ASSERT_EQ(p.entries.size(), 1u);
    EXPECT_EQ(p.entries[0].total, 300);
    EXPECT_EQ(p.entries[0].done, 100);
    EXPECT_EQ(p.entries[0].speed, 9u);
    // The fixed part by hand: time stamp at 44, count at 60.
    EXPECT_EQ(progress.substr(14 + 44, 8), std::string("\x0C\0\0\0\0\0\0\0", 8));
    EXPECT_EQ(progress.substr(14 + 60, 4), std::string("\x01\0\0\0", 4));

    const std::string finished = link::BuildJobFinished(4, link::kNoKey, 1, true);
    nwCDNJobFinishedRecord f;
    ASSERT_TRUE(nwReadJobFinished(U(finished) + 14, 26, f));
    EXPECT_EQ(f.engineKey, 0xFFFFFFFFu);
    EXPECT_EQ(f.failureFlag, 1u);
    EXPECT_EQ(f.result, 1u);

    const std::string completed = link::BuildFileCompleted(4, 77, "job", "/g/a.bin", "");
    nwCDNFileCompletedRecord c;
    ASSERT_TRUE(
        nwReadFileCompleted(U(completed) + 14, static_cast<uint32_t>(completed.size() - 14), c));
    EXPECT_EQ(c.localPath, "/g/a.bin");

    for (const std::string& frame :
         {link::BuildEngineNotice(4, 77, 1, ""), link::BuildJobError(4, "no"),
          link::BuildNetworkChange(false), link::BuildResumeQuestion(4)}) {
        const wire::FrameHeader h = wire::ReadHeader(U(frame));
        EXPECT_EQ(frame.size() % 8, 0u);
        EXPECT_EQ(frame.size(), 14 + h.length);
    }
    nwCDNEngineNoticeRecord n;
    const std::string notice = link::BuildEngineNotice(4, 77, 1, "");
    ASSERT_TRUE(nwReadEngineNotice(U(notice) + 14, static_cast<uint32_t>(notice.size() - 14), n));
    EXPECT_EQ(n.kind, 1);
}

}  // namespace
