// The local engine link's messages as bytes: what the client writes, and how
// the engine's messages are checked before they are read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ostra/norvikqos/link/nwCDNLocalMessages.h"
#include "ostra/norvikqos/stack/nwStreamFrame.h"

namespace {

std::string Wire(const nwStreamMessage& message) {
    const auto bytes = message.Bytes();
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string Header(uint16_t category, uint16_t command, uint32_t length) {
    std::string h(14, '\0');
    nwStreamFrameHeader header;
    header.category = category;
    header.command = command;
    header.length = length;
    nwStreamFrame::WriteHeader(header, reinterpret_cast<uint8_t*>(h.data()));
    return h;
}

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string Le64(int64_t v) {
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i)
        s[i] = static_cast<char>(static_cast<uint64_t>(v) >> (8 * i));
    return s;
}

const uint8_t* Bytes(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

TEST(CDNLocalMessagesTest, SmallClientMessagesAreByteExact) {
    struct Case {
        const char* name;
        nwStreamMessage message;
        std::string expected;
    };
    std::vector<Case> cases;
    cases.push_back(
        {"list end 7", nwBuildJobListEnd(7), Header(256, 21, 10) + Le32(7) + std::string(6, '\0')});
    cases.push_back({"command 22", nwBuildCommand22(), Header(256, 22, 2) + std::string(2, '\0')});
    cases.push_back(
        {"job mode 2", nwBuildJobMode({2}), Header(256, 0, 18) + "\x02" + std::string(17, '\0')});
    cases.push_back(
        {"job kind", nwBuildJobKind({"abc"}), Header(256, 1, 26) + "abc" + std::string(23, '\0')});
    cases.push_back({"stop", nwBuildStopJob({5, 9}),
                     Header(256, 3, 10) + Le32(5) + Le32(9) + std::string(2, '\0')});
    cases.push_back(
        {"job value", nwBuildJobValue({5, 0xFFFFFFFFu, 3}),
         Header(256, 13, 10) + Le32(5) + "\xFF\xFF\xFF\xFF\x03" + std::string(1, '\0')});
    cases.push_back({"job flag", nwBuildJobFlag(0x01020304),
                     Header(256, 17, 10) + "\x04\x03\x02\x01" + std::string(6, '\0')});
    cases.push_back({"resume answer", nwBuildResumeAnswer({9, 5, 1, 0}),
                     Header(256, 18, 10) + Le32(9) + Le32(5) + "\x01" + std::string(1, '\0')});
    cases.push_back({"empty engine text", nwBuildEngineText(""),
                     Header(256, 12, 266) + std::string(266, '\0')});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Wire(c.message), c.expected);
        EXPECT_EQ(Wire(c.message).size() % 8, 0u);
    }
}

TEST(CDNLocalMessagesTest, EngineTextIsCutToItsFieldWithTheNul) {
    const std::string wire = Wire(nwBuildEngineText(std::string(300, 'x')));
    ASSERT_EQ(wire.size(), 280u);
    EXPECT_EQ(wire.substr(14, 259), std::string(259, 'x'));
    EXPECT_EQ(wire.substr(14 + 259), std::string(7, '\0'));
    EXPECT_EQ(Wire(nwBuildEngineText("halvard2")).substr(14, 9), std::string("halvard2\0", 9));
}

TEST(CDNLocalMessagesTest, JobFileCarriesItsUrlWithoutTerminator) {
    const std::string url = "http://h/abcdefghijk";  // 20 characters
    ASSERT_EQ(url.size(), 20u);
    nwCDNJobFileRecord record{3, 1, {0x11, 0x22, -1, "/games/h2/", "data.pak", url}};
    const std::string wire = Wire(nwBuildJobFile(record));
    ASSERT_EQ(wire.size(), 576u);
    EXPECT_EQ(wire.substr(0, 14), Header(256, 20, 562));
    const std::string p = wire.substr(14);
    EXPECT_EQ(p.substr(0, 8), Le32(3) + Le32(1));
    EXPECT_EQ(p.substr(8, 2), "\x11\x22");
    EXPECT_EQ(p.substr(10, 8), Le64(-1));
    EXPECT_EQ(p.substr(18, 11), std::string("/games/h2/\0", 11));
    EXPECT_EQ(p.substr(278, 9), std::string("data.pak\0", 9));
    EXPECT_EQ(p.substr(538, 2), std::string("\x14\x00", 2));
    EXPECT_EQ(p.substr(540, 20), url);
    EXPECT_EQ(p.substr(560), std::string(2, '\0'));
}

TEST(CDNLocalMessagesTest, OnePieceListHasCategory258AndEntriesInOrder) {
    const nwCDNJobListEntry entries[] = {{1, 2, 100, "/d/", "a.bin", "http://x/a|http://y/a"},
                                         {0, 0, -1, "/d/", "b.bin", "http://x/b"}};
    const nwCDNJobList list{{42, 2, "halvard2"}, entries};
    const size_t size = 41 + (531 + 21) + (531 + 10);
    ASSERT_EQ(nwCDNJobListSize(list), size);
    const std::string wire = Wire(nwBuildJobList(list));
    ASSERT_EQ(wire.size(), nwStreamFrame::MessageSize(size));
    EXPECT_EQ(wire.substr(0, 14), Header(258, 14, static_cast<uint32_t>(wire.size() - 14)));
    const std::string p = wire.substr(14);
    EXPECT_EQ(p.substr(0, 8), Le32(42) + Le32(2));
    EXPECT_EQ(p.substr(8, 33), std::string("halvard2") + std::string(25, '\0'));
    EXPECT_EQ(p.substr(41, 10), std::string("\x01\x02", 2) + Le64(100));
    EXPECT_EQ(p.substr(51, 4), std::string("/d/\0", 4));
    EXPECT_EQ(p.substr(311, 6), std::string("a.bin\0", 6));
    EXPECT_EQ(p.substr(571, 22), std::string("http://x/a|http://y/a\0", 22));
    const size_t second = 41 + 531 + 21;
    EXPECT_EQ(p.substr(second, 10), std::string(2, '\0') + Le64(-1));
    EXPECT_EQ(p.substr(second + 530, 11), std::string("http://x/b\0", 11));

    const std::string begin = Wire(nwBuildJobListBegin(list.header));
    EXPECT_EQ(begin.substr(0, 14), Header(256, 19, 42));
    EXPECT_EQ(begin.substr(14, 41), p.substr(0, 41));
}

TEST(CDNLocalMessagesTest, PathsThatDoNotFitTheirFieldAreRefused) {
    const std::string longName(260, 'n');
    const nwCDNJobListEntry entry{0, 0, 1, "/d/", longName, "http://x/a"};
    EXPECT_FALSE(nwBuildJobList({{1, 1, "j"}, {&entry, 1}}).IsValid());
    EXPECT_FALSE(nwBuildJobFile({1, 0, entry}).IsValid());
    const std::string fitting(259, 'n');
    const nwCDNJobListEntry fits{0, 0, 1, "/d/", fitting, "http://x/a"};
    EXPECT_TRUE(nwBuildJobList({{1, 1, "j"}, {&fits, 1}}).IsValid());
    const std::string hugeUrl(70000, 'u');
    const nwCDNJobListEntry longUrl{0, 0, 1, "/d/", "a", hugeUrl};
    EXPECT_FALSE(nwBuildJobFile({1, 0, longUrl}).IsValid());
}

// One progress payload with the given entries (text of each entry as given).
std::string Progress(uint32_t count, const std::vector<std::string>& texts) {
    std::string p = Le32(1) + Le32(2) + Le32(0) + Le32(8) + Le32(3) + Le64(1000) + Le64(400) +
                    Le32(55) + Le32(0) + Le64(17) + std::string(8, '\0') + Le32(count);
    for (const std::string& t : texts)
        p += std::string(33, 'e') + Le64(100) + Le64(40) + Le32(7) + std::string(12, '\0') + t;
    return p;
}

TEST(CDNLocalMessagesTest, ProgressIsReadWithItsEntries) {
    const std::string p = Progress(2, {std::string("one\0", 4), std::string("two\0", 4)});
    nwCDNJobProgressRecord record;
    std::vector<nwCDNProgressEntry> entries;
    ASSERT_TRUE(nwReadJobProgress(Bytes(p), static_cast<uint32_t>(p.size()), record, entries));
    EXPECT_EQ(record.serial, 1u);
    EXPECT_EQ(record.engineKey, 2u);
    EXPECT_EQ(record.valueB, 8u);
    EXPECT_EQ(record.fileIndex, 3u);
    EXPECT_EQ(record.totalBytes, 1000);
    EXPECT_EQ(record.doneBytes, 400);
    EXPECT_EQ(record.speed, 55u);
    EXPECT_EQ(record.timeStamp, 17);
    ASSERT_EQ(record.entries.size(), 2u);
    EXPECT_EQ(record.entries[0].total, 100);
    EXPECT_EQ(record.entries[0].done, 40);
    EXPECT_EQ(record.entries[0].speed, 7u);
    EXPECT_EQ(record.entries[1].text, "two");
}

TEST(CDNLocalMessagesTest, MalformedEngineMessagesAreRefused) {
    nwCDNJobAcceptedRecord accepted;
    nwCDNJobFinishedRecord finished;
    nwCDNFileCompletedRecord completed;
    nwCDNEngineNoticeRecord notice;
    nwCDNNetworkRecord network;
    nwCDNJobErrorRecord error;
    nwCDNJobProgressRecord progress;
    std::vector<nwCDNProgressEntry> entries;
    uint32_t value = 0;
    const std::string path(260, '\0');
    auto len = [](const std::string& s) { return static_cast<uint32_t>(s.size()); };

    const std::string accepted19 = Le32(1) + Le32(2) + Le32(3) + std::string(7, '\0');
    EXPECT_FALSE(nwReadJobAccepted(Bytes(accepted19), len(accepted19), accepted));
    const std::string finished16 = Le32(1) + Le32(2) + Le32(0) + Le32(0);
    EXPECT_FALSE(nwReadJobFinished(Bytes(finished16), len(finished16), finished));
    // A completed file whose extra text has no NUL inside the payload.
    const std::string completedNoNul = Le32(1) + Le32(2) + std::string(33, '\0') + path + "extra";
    EXPECT_FALSE(nwReadFileCompleted(Bytes(completedNoNul), len(completedNoNul), completed));
    const std::string completedOk = completedNoNul + '\0';
    EXPECT_TRUE(nwReadFileCompleted(Bytes(completedOk), len(completedOk), completed));
    EXPECT_EQ(completed.extra, "extra");
    const std::string detailShort = Le32(1) + Le32(2) + std::string(33, '\0') + path;
    EXPECT_FALSE(nwReadFileCompletedDetail(Bytes(detailShort), len(detailShort), completed));
    // A notice without the 16 bytes after its text, and one whose text never ends.
    const std::string noticeShort = Le32(1) + Le32(2) + "\x01" + std::string("t\0", 2);
    EXPECT_FALSE(nwReadEngineNotice(Bytes(noticeShort), len(noticeShort), notice));
    const std::string noticeOk = noticeShort + std::string(16, '\0');
    ASSERT_TRUE(nwReadEngineNotice(Bytes(noticeOk), len(noticeOk), notice));
    EXPECT_EQ(notice.kind, 1);
    EXPECT_EQ(notice.text, "t");
    const std::string noticeNoNul = Le32(1) + Le32(2) + "\x01" + std::string(20, 't');
    EXPECT_FALSE(nwReadEngineNotice(Bytes(noticeNoNul), len(noticeNoNul), notice));
    EXPECT_FALSE(nwReadNetworkChange(Bytes(std::string(15, '\0')), 15, network));
    const std::string errorNoNul = Le32(1) + Le32(0) + std::string(30, 'e');
    EXPECT_FALSE(nwReadJobError(Bytes(errorNoNul), len(errorNoNul), error));
    EXPECT_FALSE(nwReadResumeQuestion(Bytes("abc"), 3, value));
    EXPECT_FALSE(nwReadEngineState(nullptr, 0, value));

    // Progress: a short fixed part, a count beyond what the payload can hold,
    // and a last entry whose text runs off the end.
    const std::string fixed = Progress(0, {});
    EXPECT_FALSE(nwReadJobProgress(Bytes(fixed), 63, progress, entries));
    const std::string huge = Progress(0xFFFFFFFFu, {std::string("a\0", 2)});
    EXPECT_FALSE(nwReadJobProgress(Bytes(huge), len(huge), progress, entries));
    EXPECT_TRUE(entries.capacity() < 1000);
    const std::string twoClaimed = Progress(2, {std::string("a\0", 2), "b"});
    EXPECT_FALSE(nwReadJobProgress(Bytes(twoClaimed), len(twoClaimed), progress, entries));
    EXPECT_TRUE(nwReadJobProgress(Bytes(fixed), len(fixed), progress, entries));
    EXPECT_TRUE(progress.entries.empty());
}

}  // namespace
