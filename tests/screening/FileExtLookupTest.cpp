#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "screening/FileExtLookup.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

TEST(FileExtLookup, MimeTypeOfExtension) {
    struct Case {
        const char* name;
        const char* extension;
        bool known;
        const char* type;
    };
    const Case cases[] = {
        {"program", ".exe", true, "application/x-msdownload"},
        {"program without dot, upper case", "EXE", true, "application/x-msdownload"},
        {"padded program", " .exe ", true, "application/x-msdownload"},
        {"screen saver", ".scr", true, "application/x-msdownload"},
        {"picture", ".jpg", true, "image/jpeg"},
        {"Word document", ".doc", true, "application/msword"},
        {"VBScript", ".vbs", true, "text/vbscript"},
        {"web page", ".html", true, "text/html"},
        {"web page, short", "HTM", true, "text/html"},
        {"unknown", ".gmzzq", false, "application/octet-stream"},
        {"lone dot", ".", false, "application/octet-stream"},
        {"path in disguise", "./exe", false, "application/octet-stream"},
        {"empty", "", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string type = "stale";
        EXPECT_EQ(MimeTypeOfExtension(c.extension, type), c.known);
        EXPECT_EQ(type, c.type);
    }
}

TEST(FileExtLookup, MimeTypeOfFileNameUsesTheLastExtension) {
    std::string type;
    EXPECT_TRUE(MimeTypeOfFileName("holiday.JPG", type));
    EXPECT_EQ(type, "image/jpeg");
    EXPECT_TRUE(MimeTypeOfFileName("invoice.pdf.exe..", type));
    EXPECT_EQ(type, "application/x-msdownload");
    EXPECT_FALSE(MimeTypeOfFileName("README", type));
    EXPECT_EQ(type, "");
}

TEST(FileExtLookup, ExtensionOfMimeType) {
    struct Case {
        const char* name;
        const char* type;
        bool known;
        const char* extension;
    };
    const Case cases[] = {
        {"program", "application/x-msdownload", true, ".exe"},
        {"program as this machine names it", "application/x-ms-dos-executable", true, ".exe"},
        {"picture", "image/jpeg", true, ".jpg"},
        {"old picture type", "image/pjpeg", true, ".jpg"},
        {"web page in capitals", "TEXT/HTML", true, ".htm"},
        {"Word document", "application/msword", true, ".doc"},
        {"VBScript", "text/vbscript", true, ".vbs"},
        {"from the machine's database", "application/pdf", true, ".pdf"},
        {"known type without extension", "application/octet-stream", false, ".txt"},
        {"unknown", "application/x-gatemoor-unknown", false, ".txt"},
        {"empty", "", false, ".txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string extension = "stale";
        EXPECT_EQ(ExtensionOfMimeType(c.type, extension), c.known);
        EXPECT_EQ(extension, c.extension);
    }
}

TEST(FileExtLookup, FileExtOf) {
    const std::pair<const char*, const char*> cases[] = {
        {"letter.exe", ".exe"},
        {"a.b.Exe", ".Exe"},
        {"trailing.exe...", ".exe"},
        {"none", ""},
        {"", ""},
        {"...", ""},
        {".profile", ".profile"},
        {"dir.d/file", ""},
        {"dir.d\\file", ""},
    };
    for (const auto& [name, extension] : cases)
        EXPECT_EQ(FileExtOf(name), extension) << name;
}

TEST(FileExtLookup, LookUpClassId) {
    std::string name = "stale";
    EXPECT_TRUE(LookUpClassId("{00020906-0000-0000-c000-000000000046}", name));
    EXPECT_EQ(name, "Microsoft Word Document");
    EXPECT_FALSE(LookUpClassId("{00000000-0000-0000-0000-000000000000}", name));
    EXPECT_EQ(name, "");
    EXPECT_FALSE(LookUpClassId("00020906-0000-0000-C000-000000000046", name));
}

// Points the XDG folders at a private tree for one test and restores them afterwards.
class DesktopAssociations : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kVariables) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv("XDG_CONFIG_HOME", (root_.Path() + "/config").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (root_.Path() + "/etc").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root_.Path() + "/data").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (root_.Path() + "/share").c_str(), 1);
        ::unsetenv("XDG_CURRENT_DESKTOP");
        for (const char* dir : {"/config", "/etc", "/data/applications", "/share/applications"})
            std::filesystem::create_directories(root_.Path() + dir);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    void Write(const std::string& relative, const std::string& text) {
        test::WriteFile(root_.Path() + relative, text);
    }

    static constexpr const char* kVariables[] = {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
                                                 "XDG_DATA_HOME", "XDG_DATA_DIRS",
                                                 "XDG_CURRENT_DESKTOP"};
    test::TempFolder root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(DesktopAssociations, DefaultApplicationCommandWithoutArguments) {
    Write("/config/mimeapps.list",
          "[Added Associations]\ntext/vbscript=other.desktop;\n"
          "[Default Applications]\ntext/vbscript=missing.desktop;viewer.desktop;\n");
    Write("/share/applications/viewer.desktop",
          "[Desktop Entry]\nName=Viewer\nExec=\"/opt/Script Viewer/viewer\" --open %U\n");
    Write("/share/applications/other.desktop", "[Desktop Entry]\nExec=other %f\n");

    std::string program;
    EXPECT_TRUE(AssociatedProgram("vbs", program));
    EXPECT_EQ(program, "/opt/Script Viewer/viewer --open");
    EXPECT_FALSE(AssociatedProgram(".gmzzq", program));
    EXPECT_EQ(program, "");
}

TEST_F(DesktopAssociations, FallsBackToAddedAssociationsAndTheCache) {
    Write("/data/applications/mimeapps.list",
          "[Added Associations]\nimage/jpeg=pictures.desktop\n");
    Write("/data/applications/pictures.desktop", "[Desktop Entry]\nExec=pictures\\sviewer %F\n");
    Write("/share/applications/mimeinfo.cache",
          "[MIME Cache]\napplication/msword=writer.desktop;\n");
    Write("/share/applications/writer.desktop",
          "[Desktop Entry]\nExec=C:\\\\Office\\\\winword.exe /n \"%1\"\n");

    std::string program;
    EXPECT_TRUE(AssociatedProgram(".jpg", program));
    EXPECT_EQ(program, "pictures viewer");
    EXPECT_TRUE(AssociatedProgram(".doc", program));
    EXPECT_EQ(program, "C:\\Office\\winword.exe");
}

}  // namespace
}  // namespace gatemoor
