#include "settings/SettingsMerge.h"
#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

namespace {

ServerEntry E(std::string host, std::string note = "") {
    return {std::move(host), "3389", "admin", "pw", std::move(note), ServerStatus::Unknown};
}

SettingsContent List(std::vector<ServerEntry> servers, ConnectionOptions options = {}, std::string password = "") {
    return {std::move(servers), options, std::move(password)};
}

// What the reader makes of the merged content once it is saved: the merge is only right if the file says it.
SettingsContent ReadBack(const SettingsContent& content) {
    const std::string text = SettingsText(content.servers, content.options, content.startupPassword);
    return ContentOf(Bytes(text.begin(), text.end()));
}

std::vector<std::string> Hosts(const SettingsContent& content) {
    std::vector<std::string> hosts;
    for (const ServerEntry& entry : content.servers) {
        hosts.push_back(entry.host + (entry.note.empty() ? "" : "/" + entry.note));
    }
    return hosts;
}

struct MergeCase {
    const char* what;
    std::vector<ServerEntry> base, mine, theirs;
    std::vector<std::string> merged;
    std::size_t conflicts;
};

TEST(SettingsMergeTest, EntriesMergeAsBothSidesMeantThem) {
    const std::vector<MergeCase> cases = {
        {"nothing changed", {E("a"), E("b")}, {E("a"), E("b")}, {E("a"), E("b")}, {"a", "b"}, 0},
        {"add / add", {E("a")}, {E("a"), E("m")}, {E("a"), E("t")}, {"a", "m", "t"}, 0},
        {"the same add on both sides is one entry", {E("a")}, {E("a"), E("n")}, {E("a"), E("n")}, {"a", "n"}, 0},
        {"add / delete", {E("a"), E("b")}, {E("a"), E("b"), E("m")}, {E("b")}, {"b", "m"}, 0},
        {"delete / delete", {E("a"), E("b"), E("c")}, {E("a"), E("c")}, {E("a"), E("c")}, {"a", "c"}, 0},
        {"delete / untouched is not brought back", {E("a"), E("b")}, {E("a"), E("b")}, {E("a")}, {"a"}, 0},
        {"delete here / untouched there", {E("a"), E("b")}, {E("b")}, {E("a"), E("b")}, {"b"}, 0},
        {"edit in place keeps its place",
         {E("a"), E("b"), E("c")},
         {E("a"), E("b", "x"), E("c")},
         {E("a"), E("b"), E("c"), E("t")},
         {"a", "b/x", "c", "t"},
         0},
        {"edit / edit alike", {E("a"), E("b")}, {E("a"), E("b", "x")}, {E("a"), E("b", "x")}, {"a", "b/x"}, 0},
        {"edit / edit differently keeps both",
         {E("a"), E("b")},
         {E("a"), E("b", "mine")},
         {E("a"), E("b", "theirs")},
         {"a", "b/mine", "b/theirs"},
         1},
        {"edit / delete keeps the edit", {E("a"), E("b")}, {E("a"), E("b", "x")}, {E("a")}, {"a", "b/x"}, 0},
        {"delete / edit keeps the edit", {E("a"), E("b")}, {E("a")}, {E("a"), E("b", "x")}, {"a", "b/x"}, 0},
        {"kept duplicates stay two", {E("d"), E("d")}, {E("d"), E("d")}, {E("d"), E("d"), E("t")}, {"d", "d", "t"}, 0},
        {"a third copy added here", {E("d"), E("d")}, {E("d"), E("d"), E("d")}, {E("d"), E("d")}, {"d", "d", "d"}, 0},
        {"one copy deleted there", {E("d"), E("d")}, {E("d"), E("d"), E("m")}, {E("d")}, {"d", "m"}, 0},
        {"everything gone there, added here", {E("a")}, {E("a"), E("m")}, {}, {"m"}, 0},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const MergedSettings merged = MergeSettings(List(c.base), List(c.mine), List(c.theirs));
        EXPECT_EQ(Hosts(ReadBack(merged.content)), c.merged);
        EXPECT_EQ(merged.conflicts.size(), c.conflicts);
        // Either side alone is the merge of itself with an unchanged other.
        EXPECT_EQ(Hosts(MergeSettings(List(c.base), List(c.mine), List(c.base)).content), Hosts(List(c.mine)));
        EXPECT_EQ(Hosts(MergeSettings(List(c.base), List(c.base), List(c.theirs)).content), Hosts(List(c.theirs)));
    }
}

TEST(SettingsMergeTest, TheConflictNamesTheOriginalAndBothVersions) {
    const MergedSettings merged =
        MergeSettings(List({E("a"), E("b")}), List({E("a"), E("b", "m")}), List({E("a"), E("b", "t")}));
    ASSERT_EQ(merged.conflicts.size(), 1u);
    EXPECT_EQ(merged.conflicts[0].original, E("b"));
    EXPECT_EQ(merged.conflicts[0].mine, E("b", "m"));
    EXPECT_EQ(merged.conflicts[0].theirs, E("b", "t"));
}

TEST(SettingsMergeTest, OptionsAndPasswordTakeTheSideThatChangedThem) {
    const SettingsContent base = List({}, {false, true}, "old");
    // The other side set a password, this side ticked force login: neither undoes the other.
    MergedSettings merged = MergeSettings(base, List({}, {true, true}, "old"), List({}, {false, true}, "new"));
    SettingsContent read = ReadBack(merged.content);
    EXPECT_EQ(read.options, (ConnectionOptions{true, true}));
    EXPECT_EQ(read.startupPassword, "new");
    // Both changed the same value: this side's change is the later one.
    merged = MergeSettings(base, List({}, {false, false}, "mine"), List({}, {true, false}, "theirs"));
    read = ReadBack(merged.content);
    EXPECT_EQ(read.options, (ConnectionOptions{true, false}));
    EXPECT_EQ(read.startupPassword, "mine");
    // The password cleared on the other side stays cleared.
    EXPECT_EQ(MergeSettings(base, base, List({}, {false, true}, "")).content.startupPassword, "");
}

TEST(SettingsMergeTest, OnlyFilesASaveWroteCountAsSettings) {
    const std::string saved = SettingsText({E("a")}, {}, "pw");
    EXPECT_TRUE(LooksLikeSettings(Bytes(saved.begin(), saved.end())));
    const std::string empty = SettingsText({}, {}, "");
    EXPECT_TRUE(LooksLikeSettings(Bytes(empty.begin(), empty.end())));
    const std::string oldForm = "h|1|a|p|n\r\n#Start:0\r\n";
    EXPECT_TRUE(LooksLikeSettings(Bytes(oldForm.begin(), oldForm.end())));
    for (const std::string& foreign : {std::string("a|b|c\r\n"), std::string("\x8f\x12\xe4 #Start:1"), std::string()}) {
        EXPECT_FALSE(LooksLikeSettings(Bytes(foreign.begin(), foreign.end())));
    }
}

} // namespace
