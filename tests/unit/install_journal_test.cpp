#include "install_journal.h"

#include <gtest/gtest.h>

namespace {

using tovane::InstallJournal;

InstallJournal Sample() {
    InstallJournal journal;
    journal.targetFolder = "C:\\Kelvo\\";
    journal.backupFolder = "C:\\Kelvo\\Tovane.rollback\\";
    journal.restart = "C:\\Kelvo\\Kelvo.exe";
    journal.entries = {{"a.dll", true}, {"new file.dat", false}, {"Version.ini", true}};
    return journal;
}

TEST(InstallJournal, RoundTripsEveryField) {
    for (auto state : {InstallJournal::State::kInstalling, InstallJournal::State::kCommitted}) {
        InstallJournal journal = Sample();
        journal.state = state;
        auto parsed = tovane::ParseJournal(tovane::FormatJournal(journal));
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->state, state);
        EXPECT_EQ(parsed->targetFolder, journal.targetFolder);
        EXPECT_EQ(parsed->backupFolder, journal.backupFolder);
        EXPECT_EQ(parsed->restart, journal.restart);
        ASSERT_EQ(parsed->entries.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(parsed->entries[i].name, journal.entries[i].name);
            EXPECT_EQ(parsed->entries[i].existed, journal.entries[i].existed);
        }
    }
    InstallJournal empty = Sample();
    empty.restart.clear();
    empty.entries.clear();
    auto parsed = tovane::ParseJournal(tovane::FormatJournal(empty));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_TRUE(parsed->restart.empty());
    EXPECT_TRUE(parsed->entries.empty());
}

TEST(InstallJournal, RefusesAnythingButAWholeSoundJournal) {
    const std::string whole = tovane::FormatJournal(Sample());
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = whole;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    struct {
        const char* why;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"cut before the end line", whole.substr(0, whole.find("end\r\n"))},
        {"cut inside a line", whole.substr(0, whole.find("a.dll") + 2)},
        {"another header", replaced("journal 1", "journal 2")},
        {"unknown state", replaced("state=installing", "state=done")},
        {"unknown record", replaced("new=", "maybe=")},
        {"entry with a path", replaced("a.dll", "..\\a.dll")},
        {"entry with a drive colon", replaced("a.dll", "c:a.dll")},
        {"empty entry", replaced("a.dll", "")},
        {"entry with a slash", replaced("a.dll", "sub/a.dll")},
        {"entry with a stream colon", replaced("a.dll", "a.dll:x")},
        {"entry naming the parent", replaced("a.dll", "..")},
        {"entry naming the folder", replaced("a.dll", ".")},
        {"entry naming a device", replaced("a.dll", "NUL")},
        {"entry naming a device with extension", replaced("a.dll", "com1.dll")},
        {"entry with a trailing dot", replaced("a.dll", "a.dll.")},
        {"entry with a trailing blank", replaced("a.dll", "a.dll ")},
        {"entry with a wildcard", replaced("a.dll", "a*.dll")},
        {"entry with a question mark", replaced("a.dll", "a?.dll")},
        {"entry with a pipe", replaced("a.dll", "a|b.dll")},
        {"entry with a quote", replaced("a.dll", "a\"b.dll")},
        {"entry with angle brackets", replaced("a.dll", "<a>.dll")},
        {"entry with a control character", replaced("a.dll", "a\tb.dll")},
        {"backup folder is the target", replaced("C:\\Kelvo\\Tovane.rollback\\", "C:\\Kelvo\\")},
        {"backup folder outside the target", replaced("C:\\Kelvo\\Tovane.rollback\\", "D:\\x\\")},
        {"target without backslash", replaced("target=C:\\Kelvo\\", "target=C:\\Kelvo")},
        {"text after the end line", whole + "replace=b.dll\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(tovane::ParseJournal(c.text).has_value()) << c.why;
    }
    std::string unix = whole;
    for (std::size_t pos; (pos = unix.find('\r')) != std::string::npos;) {
        unix.erase(pos, 1);
    }
    EXPECT_TRUE(tovane::ParseJournal(unix).has_value()) << "bare line feeds are read too";
}

TEST(InstallJournal, ReadsBackEveryNameTheInstallerMayWrite) {
    struct {
        const char* name;
    } cases[] = {
        {"a.dll"},
        {"new file.dat"},
        {".hidden"},
        {"COM10.dat"},
        {"nul_device.txt"},
        {"\xC9\xFD\xBC\xB6.dll"},          // GBK
        {"\xE5\x8D\x87\xE7\xBA\xA7.dll"},  // UTF-8
    };
    for (const auto& c : cases) {
        InstallJournal journal = Sample();
        journal.entries = {{c.name, true}, {c.name, false}};
        auto parsed = tovane::ParseJournal(tovane::FormatJournal(journal));
        ASSERT_TRUE(parsed.has_value()) << c.name;
        ASSERT_EQ(parsed->entries.size(), 2u) << c.name;
        EXPECT_EQ(parsed->entries[0].name, c.name);
        EXPECT_TRUE(parsed->entries[0].existed);
        EXPECT_EQ(parsed->entries[1].name, c.name);
        EXPECT_FALSE(parsed->entries[1].existed);
    }
}

TEST(InstallJournal, BackupAndStagingPathsAreDistinctPerEntry) {
    InstallJournal journal = Sample();
    EXPECT_EQ(tovane::BackupPath(journal, 0), "C:\\Kelvo\\Tovane.rollback\\0.old");
    EXPECT_EQ(tovane::StagingPath(journal, 0), "C:\\Kelvo\\Tovane.rollback\\0.new");
    EXPECT_NE(tovane::BackupPath(journal, 1), tovane::BackupPath(journal, 10));
}

TEST(DistinctNames, KeepsTheFirstOfEachNameWhateverItsCase) {
    struct {
        std::vector<std::string> names;
        std::vector<std::string> distinct;
    } cases[] = {
        {{}, {}},
        {{""}, {}},
        {{"a.dll", "b.dat", ""}, {"a.dll", "b.dat"}},
        {{"a.dll", "A.DLL", "b.dat", "a.dll"}, {"a.dll", "b.dat"}},
        {{"", "x", "", "X"}, {"x"}},
        {{"\xC9.dll", "\xE9.dll", "\xC9.DLL"},
         {"\xC9.dll", "\xE9.dll"}},  // ASCII letters fold only
        {{"a.dll", "a.dl"}, {"a.dll", "a.dl"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tovane::DistinctNames(c.names), c.distinct);
    }
}

TEST(InstallJournal, StaysInItsFolderOnlyWithItsOwnBackupsAndProduct) {
    struct {
        const char* backup;
        const char* restart;
        bool stays;
    } cases[] = {
        {"C:\\Kelvo\\Tovane.rollback\\", "C:\\Kelvo\\Kelvo.exe", true},
        {"C:\\Kelvo\\Tovane.rollback\\", "", true},                      // nothing was stopped
        {"C:\\Kelvo\\Tovane.rollback\\", "C:\\Kelvo\\KELVO.EXE", true},  // Windows names
        {"C:\\Kelvo\\Tovane.rollback\\", "C:\\Windows\\explorer.exe", false},
        {"C:\\Kelvo\\Tovane.rollback\\", "C:\\Kelvo\\evil.exe", false},
        {"C:\\Kelvo\\Tovane.rollback\\", "C:\\Kelvo\\sub\\Kelvo.exe", false},
        {"C:\\Kelvo\\Other\\", "C:\\Kelvo\\Kelvo.exe", false},
        {"C:\\Kelvo\\tovane.rollback\\x\\", "", false},
    };
    for (const auto& c : cases) {
        tovane::InstallJournal journal;
        journal.targetFolder = "C:\\Kelvo\\";
        journal.backupFolder = c.backup;
        journal.restart = c.restart;
        std::string why;
        EXPECT_EQ(tovane::StaysInItsFolder(journal, &why), c.stays)
            << c.backup << " " << c.restart << ": " << why;
        EXPECT_EQ(why.empty(), c.stays);
    }
}

}  // namespace
