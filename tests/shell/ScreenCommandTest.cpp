// The command line of `gatemoor --screen`: what it accepts, what it refuses, and that a
// bad file neither stops the others nor passes for success.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "shell/ScreenCommand.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

TEST(ScreenCommand, Arguments) {
    struct Case {
        std::vector<std::string> args;
        bool accepted;
        const char* error;  // part of the message when refused
    };
    const Case cases[] = {
        {{"a.eml"}, true, ""},
        {{"a.eml", "b.eml", "--out", "dir"}, true, ""},
        {{"a.eml", "--set", "Security Settings/Pictures=0"}, true, ""},
        {{}, false, "at least one"},
        {{"a.eml", "b.eml"}, false, "--out"},
        {{"a.eml", "--out"}, false, "needs a value"},
        {{"a.eml", "--set", "Pictures=0"}, false, "Section/Name=value"},
        {{"a.eml", "--set", "Security Settings/Pictures=zero"}, false, "whole number"},
        {{"a.eml", "--set", "Security Settings/Pictures="}, false, "whole number"},
        {{"a.eml", "--frobnicate"}, false, "unknown option"},
    };
    for (const Case& c : cases) {
        TScreenCommand command;
        std::string error;
        const bool accepted = ParseScreenCommand(c.args, command, error);
        EXPECT_EQ(accepted, c.accepted) << error;
        if (!c.accepted) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
    TScreenCommand command;
    std::string error;
    ASSERT_TRUE(ParseScreenCommand({"a.eml", "--set", "Security Settings/Web Content=3"}, command, error));
    ASSERT_EQ(command.overrides.size(), 1u);
    EXPECT_EQ(command.overrides[0].section, "Security Settings");
    EXPECT_EQ(command.overrides[0].name, "Web Content");
    EXPECT_EQ(command.overrides[0].value, 3);
}

TEST(ScreenCommand, UnreadableFileFailsWhileTheOthersRun) {
    const test::TempFolder folder;
    const std::string clean = "From: a@example.org\r\nSubject: hi\r\n\r\nhello\n";
    test::WriteFile(folder.File("clean.eml"), clean);
    TScreenCommand command;
    command.files = {folder.File("missing.eml"), folder.File("clean.eml")};
    command.outFolder = folder.File("out");
    std::ostringstream out;
    std::ostringstream status;
    std::ostringstream errors;
    EXPECT_EQ(RunScreenCommand(command, out, status, errors), 1);
    EXPECT_NE(errors.str().find("cannot read " + folder.File("missing.eml")), std::string::npos);
    EXPECT_NE(status.str().find(folder.File("clean.eml") + ": unchanged, danger level 0%"),
              std::string::npos)
        << status.str();
    // Unchanged: the very bytes, bare LF included.
    EXPECT_EQ(test::ReadFile(folder.File("out/clean.eml")), clean);
}

}  // namespace
}  // namespace gatemoor
