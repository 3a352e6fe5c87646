#include "memops/OperationHistory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "memops/RecentFiles.h"
#include "support/TempDir.h"

using namespace memops;

namespace {
OperationRecord Record(Operation op, const char* memory, uint64_t bytes, double seconds) {
    OperationRecord r;
    r.operation = op;
    r.memory = memory;
    r.bytes = bytes;
    r.seconds = seconds;
    return r;
}
}  // namespace

TEST(OperationHistory, DoneTextSaysWhatWasDone) {
    const struct {
        OperationRecord record;
        const char* text;
    } cases[] = {
        {Record(Operation::Load, "Flash", 21086, 1.94), "Loaded 21,086 bytes into Flash in 1.9 s"},
        {Record(Operation::Save, "RAM", 1234567, 0.05), "Saved 1,234,567 bytes from RAM in 0.1 s"},
        {Record(Operation::BootLoad, "", 512, 0.3), "Boot loaded 512 bytes in 0.3 s"},
        {Record(Operation::TqvBootLoad, "", 100, 12), "TQV boot loaded 100 bytes in 12.0 s"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DoneText(c.record), c.text);
    EXPECT_EQ(GroupedNumber(0), "0");
    EXPECT_EQ(GroupedNumber(999), "999");
    EXPECT_EQ(GroupedNumber(1000), "1,000");
}

// Names and messages may hold anything a file system or a radio allows.
TEST(OperationHistory, CsvQuotesOnlyWhatNeedsIt) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"plain.s19", "plain.s19"},
        {"a,b.s19", "\"a,b.s19\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CsvField(c.in), c.out) << c.in;

    OperationHistory history;
    OperationRecord failed = Record(Operation::Load, "Flash", 10, 0.25);
    failed.file = "/tmp/x,y.s19";
    failed.result = ResultOf(LoadCommand::Outcome::NotLoaded, false);
    failed.message = "Error: no acknowledgement; File was not loaded.";
    history.Add(failed);
    const std::string csv = history.Csv();
    const std::string header = "time,operation,memory,file,bytes,seconds,outcome,message\r\n";
    ASSERT_EQ(csv.substr(0, header.size()), header);
    const std::string row = csv.substr(header.size());
    // The time is local ISO 8601, then the fields in the header's order.
    EXPECT_NE(row.find(",Load,Flash,\"/tmp/x,y.s19\",10,0.250,Failed,"
                       "Error: no acknowledgement; File was not loaded.\r\n"),
              std::string::npos)
        << row;
    EXPECT_EQ(row.find(','), 24u) << row;  // 2026-12-09T16:45:21+0000
}

TEST(OperationHistory, OutcomesOfEveryOperation) {
    EXPECT_EQ(ResultOf(LoadCommand::Outcome::Loaded, false), OperationResult::Done);
    EXPECT_EQ(ResultOf(LoadCommand::Outcome::NotLoaded, true), OperationResult::Cancelled);
    EXPECT_EQ(ResultOf(LoadCommand::Outcome::Refused, false), OperationResult::Refused);
    EXPECT_EQ(ResultOf(SaveOutcome::NotOpened), OperationResult::Refused);
    EXPECT_EQ(ResultOf(SaveOutcome::Failed), OperationResult::Failed);
    EXPECT_EQ(ResultOf(SaveOutcome::Cancelled), OperationResult::Cancelled);
    EXPECT_EQ(ResultOf(BootOutcome::NotSent), OperationResult::Refused);
    EXPECT_EQ(ResultOf(BootOutcome::Failed), OperationResult::Failed);
    EXPECT_STREQ(ResultText(OperationResult::Done), "OK");
}

TEST(OperationHistory, SaveReplacesTheFileOnlyWhenComplete) {
    TempDir dir;
    OperationHistory history;
    history.Add(Record(Operation::Save, "RAM", 1, 1));
    const std::string file = dir.Write("history.csv", "old");
    EXPECT_EQ(history.SaveCsv(file), "");
    EXPECT_EQ(dir.Read("history.csv"), history.Csv());

    // A directory it cannot write into keeps the old file and says why.
    dir.Write("history.csv", "old");
    ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
    const bool root = geteuid() == 0;  // root writes anyway
    const std::string why = history.SaveCsv(file);
    chmod(dir.path().c_str(), 0700);
    if (!root) {
        EXPECT_NE(why, "");
        EXPECT_EQ(dir.Read("history.csv"), "old");
    }
}

TEST(RecentFiles, NewestFirstWithoutRepeatsAtMostFour) {
    TempDir dir;
    const std::string ini = dir.Write("ZIMPProtocol.ini", "[configuration]\nPort=x\n");
    {
        streams::Configuration profile(ini);
        for (const char* f : {"a.s19", "b.s19", "c.s19", "a.s19", "d.s19", "e.s19", "bad\nFile9=x"})
            RememberRecentFile(profile, dir.File(f));
    }
    streams::Configuration again(ini);  // kept in the file
    const std::vector<std::string> expected = {dir.File("e.s19"), dir.File("d.s19"),
                                               dir.File("a.s19"), dir.File("c.s19")};
    EXPECT_EQ(ReadRecentFiles(again), expected);
    EXPECT_NE(dir.Read("ZIMPProtocol.ini").find("[Recent File List]\nFile1=" + dir.File("e.s19")),
              std::string::npos)
        << dir.Read("ZIMPProtocol.ini");
}
