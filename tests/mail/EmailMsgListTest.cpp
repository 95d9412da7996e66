#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "mail/EmailDecoders.h"
#include "mail/EmailMsg.h"
#include "screening/EmailInfo.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;
using Lines = std::vector<std::string>;

std::string Crlf(const Lines& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

std::string MessageText(const std::string& subject, const std::string& body = "Hello.") {
    return Crlf({"From: a@example.org", "Subject: " + subject, "", body});
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The name a new message file gets: base + "(" + five letters or digits + ").eml".
bool IsUniqueNameFor(const std::string& path, const std::string& folder, const std::string& base) {
    const std::string prefix = folder + "/" + base + "(";
    const std::string suffix = ").eml";
    if (path.size() != prefix.size() + 5 + suffix.size()) return false;
    if (path.compare(0, prefix.size(), prefix) != 0) return false;
    if (path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    const std::string random = path.substr(prefix.size(), 5);
    return std::all_of(random.begin(), random.end(),
                       [](unsigned char c) { return std::isalnum(c); });
}

TEST(PartialFileNameTest, EncodesTheIdAndPadsTheNumbers) {
    struct Case {
        const char* name;
        std::string id;
        int number;
        int total;
        std::string expected;
    };
    const Case cases[] = {
        {"angle bracket", "a<b", 2, 3, "a=60b(0002)of(0003).eml"},
        {"plain id", "abc", 1, 2, "abc(0001)of(0002).eml"},
        {"blank and equals stay", "x y=z", 10, 12, "x y=z(0010)of(0012).eml"},
        {"longer numbers keep their last four digits", "n", 12345, 123456, "n(2345)of(3456).eml"},
        {"all nine forbidden characters", "<>?*:|\"/\\", 1, 1,
         "=60=62=63=42=58=124=34=47=92(0001)of(0001).eml"},
        {"control and high bytes", "a\tb\xe9", 1, 1, "a=9b=233(0001)of(0001).eml"},
        {"message id", "<part.1@host.example>", 1, 4,
         "=60part.1@host.example=62(0001)of(0004).eml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PartialFileName(c.id, c.number, c.total), c.expected);
    }
}

TEST(EmailMsgListTest, FolderIsStoredWithoutTrailingSlash) {
    const struct {
        std::string given;
        std::string stored;
    } cases[] = {{"/a/b/", "/a/b"}, {"/a/b//", "/a/b"}, {"/a/b", "/a/b"}, {"", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        TEmailMsgList list;
        list.SetFolder(c.given);
        EXPECT_EQ(list.Folder(), c.stored);
    }
}

TEST(EmailMsgListTest, LoadFolderMakesOneUnreadMessagePerEmlFile) {
    TempFolder folder;
    WriteFile(folder.File("a.eml"), MessageText("first"));
    WriteFile(folder.File("B.EML"), MessageText("second"));
    WriteFile(folder.File("notes.txt"), "not a message");
    fs::create_directory(folder.File("sub.eml"));

    TEmailMsgList list;
    ASSERT_TRUE(list.LoadFolder(folder.Path() + "/"));
    EXPECT_EQ(list.Folder(), folder.Path());
    ASSERT_EQ(list.Count(), 2);
    std::vector<std::string> files;
    for (int i = 0; i < list.Count(); ++i) {
        TEmailMsg* message = list.Items(i);
        EXPECT_EQ(message->List(), &list);
        EXPECT_FALSE(message->IsLoaded());
        files.push_back(message->FileName());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (Lines{folder.File("B.EML"), folder.File("a.eml")}));
    EXPECT_EQ(list.Items(2), nullptr);
    EXPECT_EQ(list.Items(-1), nullptr);

    // Reading happens when the message is first needed.
    TEmailMsg* first = list.Items(list.IndexOf(list.Items(0)));
    std::string subject;
    first->Header().GetSubject(subject);
    EXPECT_TRUE(subject == "first" || subject == "second") << subject;
}

TEST(EmailMsgListTest, LoadFolderOfMissingFolderAddsNothing) {
    TempFolder folder;
    TEmailMsgList list;
    EXPECT_FALSE(list.LoadFolder(folder.File("missing")));
    EXPECT_EQ(list.Count(), 0);
}

TEST(EmailMsgListTest, NewFileNameIsUniqueAndNamedAfterTheSubject) {
    const struct {
        const char* name;
        std::string subject;
        std::string base;
    } cases[] = {
        {"first twenty characters, blanks as underscores", "Quarterly figures for the board",
         "Quarterly_figures_fo"},
        {"forbidden characters dropped", "a/b:c*d", "abcd"},
        {"encoded word decoded", "=?iso-8859-1?Q?Tea_time?=", "Tea_time"},
        {"no subject", "", ""},
    };
    TempFolder folder;
    TempFolder scratch;
    TEmailMsgList list;
    list.SetFolder(folder.Path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TEmailMsg message;
        Lines lines = SplitLines(MessageText(c.subject));
        message.SetRawMail(lines);
        const std::string path = list.NewFileName(message);
        EXPECT_TRUE(IsUniqueNameFor(path, folder.Path(), c.base)) << path;
        // Naming does not create the file; the message saves itself into the scratch
        // folder when it goes.
        EXPECT_FALSE(fs::exists(path));
        message.SetFileName(scratch.File("named.eml"));
    }

    TEmailMsgList noFolder;
    TEmailMsg message;
    EXPECT_EQ(noFolder.NewFileName(message), "");
}

TEST(EmailMsgListTest, AddMovesTheFileIntoTheFolder) {
    TempFolder from;
    TempFolder to;
    const std::string text = MessageText("Quarterly figures for the board");
    WriteFile(from.File("q.eml"), text);

    TEmailMsgList source;
    ASSERT_TRUE(source.LoadFolder(from.Path()));
    TEmailMsgList target;
    target.SetFolder(to.Path());
    TEmailMsg* message = source.Items(0);

    EXPECT_EQ(target.Add(message), 0);
    EXPECT_EQ(source.Count(), 0);
    EXPECT_EQ(source.IndexOf(message), -1);
    EXPECT_EQ(message->List(), &target);
    EXPECT_TRUE(IsUniqueNameFor(message->FileName(), to.Path(), "Quarterly_figures_fo"))
        << message->FileName();
    EXPECT_FALSE(fs::exists(from.File("q.eml")));
    EXPECT_EQ(ReadFile(message->FileName()), text);

    // Adding again keeps one entry and leaves the file where it is.
    const std::string path = message->FileName();
    EXPECT_EQ(target.Add(message), 0);
    EXPECT_EQ(target.Count(), 1);
    EXPECT_EQ(message->FileName(), path);
}

TEST(EmailMsgListTest, AddOfMessageWithoutFileJustAppends) {
    TempFolder folder;
    TEmailMsgList list;
    list.SetFolder(folder.Path());
    auto* first = new TEmailMsg(&list);
    auto* second = new TEmailMsg;
    EXPECT_EQ(list.Add(second), 1);
    EXPECT_EQ(list.IndexOf(first), 0);
    EXPECT_EQ(second->FileName(), "");
    EXPECT_TRUE(NamesIn(folder.Path()).empty());
    EXPECT_EQ(list.Add(nullptr), -1);
}

TEST(EmailMsgListTest, RemoveGivesTheMessageBackWithoutDestroyingIt) {
    TEmailMsgList list;
    auto* a = new TEmailMsg(&list);
    auto* b = new TEmailMsg(&list);
    TEmailMsg stranger;
    EXPECT_EQ(list.Remove(&stranger), -1);
    EXPECT_EQ(list.Remove(a), 0);
    EXPECT_EQ(a->List(), nullptr);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0), b);
    delete a;
}

TEST(EmailMsgListTest, DeleteMessageRemovesMessageAndFile) {
    TempFolder folder;
    WriteFile(folder.File("a.eml"), MessageText("one"));
    WriteFile(folder.File("b.eml"), MessageText("two"));
    TEmailMsgList list;
    ASSERT_TRUE(list.LoadFolder(folder.Path()));
    ASSERT_EQ(list.Count(), 2);

    EXPECT_FALSE(list.DeleteMessage(2));
    EXPECT_FALSE(list.DeleteMessage(-1));
    const std::string firstFile = list.Items(0)->FileName();
    EXPECT_TRUE(list.DeleteMessage(0));
    EXPECT_EQ(list.Count(), 1);
    EXPECT_FALSE(fs::exists(firstFile));

    TEmailMsg* second = list.Items(0);
    const std::string secondFile = second->FileName();
    TEmailMsg stranger;
    EXPECT_FALSE(list.Obliterate(stranger));
    EXPECT_TRUE(list.Obliterate(*second));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(fs::exists(secondFile));
    EXPECT_TRUE(NamesIn(folder.Path()).empty());
}

TEST(EmailMsgListTest, FindByContentIdSearchesFromTheLast) {
    TEmailMsgList list;
    auto* a = new TEmailMsg(&list);
    auto* b = new TEmailMsg(&list);
    auto* c = new TEmailMsg(&list);
    a->Info().SetId(700);
    b->Info().SetId(700);
    c->Info().SetId(701);
    EXPECT_EQ(list.FindByContentId(700), b);
    EXPECT_EQ(list.FindByContentId(701), c);
    EXPECT_EQ(list.FindByContentId(702), nullptr);
}

TEST(EmailMsgListTest, DestroyingTheListSavesMessagesWithoutFile) {
    TempFolder folder;
    const Lines text = {"Subject: Kept on close", "", "Body line"};
    {
        TEmailMsgList list;
        list.SetFolder(folder.Path());
        auto* message = new TEmailMsg(&list);
        Lines lines = text;
        message->SetRawMail(lines);
    }
    const auto names = NamesIn(folder.Path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(IsUniqueNameFor(folder.File(names[0]), folder.Path(), "Kept_on_close")) << names[0];
    const std::string saved = ReadFile(folder.File(names[0]));
    EXPECT_NE(saved.find(Crlf(text)), std::string::npos) << saved;
}

// --- message/partial pieces ---

constexpr const char* kPieceId = "<split.7@host.example>";

// The message that is split, as its lines.
const Lines kWholeMessage = {
    "From: sender@example.org",
    "Subject: Holiday pictures",
    "Content-Type: text/plain",
    "",
    "First line of the text.",
    "Second line, sent base64 encoded.",
    "Third line.",
    "",
    "Last line.",
};

// Piece `number` of three; the second is base64 encoded, as a mail program may send it.
std::string PieceText(int number, const std::string& id = kPieceId) {
    Lines lines = {"From: sender@example.org",
                   "Subject: Holiday pictures (" + std::to_string(number) + "/3)",
                   "Content-Type: message/partial; number=" + std::to_string(number) +
                       "; total=3; id=\"" + id + "\""};
    if (number == 2) {
        lines.push_back("Content-Transfer-Encoding: base64");
        lines.push_back("");
        for (auto& line : Base64EncodeLines(Crlf({kWholeMessage[5], kWholeMessage[6]})))
            lines.push_back(line);
    } else {
        lines.push_back("");
        const std::size_t from = number == 1 ? 0 : 7;
        const std::size_t to = number == 1 ? 5 : kWholeMessage.size();
        lines.insert(lines.end(), kWholeMessage.begin() + from, kWholeMessage.begin() + to);
        // A trailing empty line closes each piece; joining drops it.
        lines.push_back("");
    }
    return Crlf(lines);
}

// Stores a piece as the screening does: read from its file, never given a text body.
bool StorePiece(const std::string& folder, const std::string& text, const TempFolder& scratch) {
    const std::string path = scratch.File("incoming.eml");
    WriteFile(path, text);
    TEmailMsg message;
    message.SetEnsureTextBodyFlag(false);
    message.SetSaveOnDestroy(false);
    if (!message.ReadFromFile(path)) return false;
    return SavePartial(folder, message);
}

TEST(PartialMessagesTest, PiecesAreJoinedOnceAllAreStored) {
    TempFolder scratch;
    TempFolder pieces;
    const std::string encoded = "=60split.7@host.example=62";

    ASSERT_TRUE(StorePiece(pieces.Path(), PieceText(1), scratch));
    ASSERT_TRUE(StorePiece(pieces.Path(), PieceText(3), scratch));
    EXPECT_EQ(NamesIn(pieces.Path()),
              (Lines{encoded + "(0001)of(0003).eml", encoded + "(0003)of(0003).eml"}));

    // The second piece is missing: nothing is joined and nothing goes.
    EXPECT_EQ(ReassemblePartials(pieces.Path(), kPieceId), std::nullopt);
    EXPECT_EQ(NamesIn(pieces.Path()).size(), 2u);

    ASSERT_TRUE(StorePiece(pieces.Path(), PieceText(2), scratch));
    const auto joined = ReassemblePartials(pieces.Path(), kPieceId);
    ASSERT_TRUE(joined.has_value());
    EXPECT_EQ(*joined, kWholeMessage);
    // Joining leaves the pieces; deleting them is a step of its own.
    EXPECT_EQ(NamesIn(pieces.Path()).size(), 3u);

    EXPECT_TRUE(DeletePartials(pieces.Path(), kPieceId));
    EXPECT_TRUE(NamesIn(pieces.Path()).empty());
    EXPECT_EQ(ReassemblePartials(pieces.Path(), kPieceId), std::nullopt);
}

TEST(PartialMessagesTest, AnIdThatStartsLikeAnotherIsKeptApart) {
    const struct {
        const char* name;
        std::string id;
        std::string other;
    } cases[] = {
        {"encoded form is a prefix", kPieceId, std::string(kPieceId) + "2"},
        {"other id continues with a bracket", "s", "s(2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder scratch;
        TempFolder pieces;
        for (int number : {1, 2, 3})
            ASSERT_TRUE(StorePiece(pieces.Path(), PieceText(number, c.other), scratch));
        ASSERT_TRUE(StorePiece(pieces.Path(), PieceText(1, c.id), scratch));

        EXPECT_EQ(ReassemblePartials(pieces.Path(), c.id), std::nullopt);
        EXPECT_TRUE(DeletePartials(pieces.Path(), c.id));
        EXPECT_EQ(NamesIn(pieces.Path()).size(), 3u);
        const auto joined = ReassemblePartials(pieces.Path(), c.other);
        ASSERT_TRUE(joined.has_value());
        EXPECT_EQ(*joined, kWholeMessage);
    }
}

TEST(PartialMessagesTest, ANeighbourIdDoesNotChangeTheTotal) {
    TempFolder pieces;
    // Listed first, this piece of id "s(0" would claim two pieces for "s".
    WriteFile(pieces.File("s(0(0001)of(0002).eml"), Crlf({"Subject: other", "", "other"}));
    WriteFile(pieces.File("s(0001)of(0001).eml"),
              Crlf({"Subject: a", "", "Subject: mine", "", "b"}));
    const auto joined = ReassemblePartials(pieces.Path(), "s");
    ASSERT_TRUE(joined.has_value());
    EXPECT_EQ(*joined, (Lines{"Subject: mine", "", "b"}));
}

TEST(PartialMessagesTest, PiecesThatCannotBeStored) {
    const struct {
        const char* name;
        std::string contentType;
    } cases[] = {
        {"no number", "message/partial; total=2; id=\"x\""},
        {"number not an integer", "message/partial; number=one; total=2; id=\"x\""},
        {"total not an integer", "message/partial; number=1; total=2.5; id=\"x\""},
        {"no id", "message/partial; number=1; total=2"},
        {"number zero", "message/partial; number=0; total=2; id=\"x\""},
        {"number beyond total", "message/partial; number=3; total=2; id=\"x\""},
        {"total beyond four digits", "message/partial; number=1; total=10001; id=\"x\""},
    };
    TempFolder scratch;
    TempFolder pieces;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(StorePiece(
            pieces.Path(), Crlf({"Subject: piece", "Content-Type: " + c.contentType, "", "text"}),
            scratch));
    }
    EXPECT_TRUE(NamesIn(pieces.Path()).empty());

    // A folder that does not exist cannot take a piece.
    EXPECT_FALSE(StorePiece(pieces.File("missing"), PieceText(1), scratch));
}

TEST(PartialMessagesTest, BrokenStoresGiveNone) {
    TempFolder pieces;
    EXPECT_EQ(ReassemblePartials(pieces.File("missing"), "x"), std::nullopt);
    EXPECT_FALSE(DeletePartials(pieces.File("missing"), "x"));
    EXPECT_EQ(ReassemblePartials(pieces.Path(), "x"), std::nullopt);
    EXPECT_TRUE(DeletePartials(pieces.Path(), "x"));

    // A total that is not a number.
    WriteFile(pieces.File("x(0001)of(00z1).eml"), Crlf({"Subject: a", "", "b"}));
    EXPECT_EQ(ReassemblePartials(pieces.Path(), "x"), std::nullopt);

    // A one-piece message whose total reads as 0 is never joined to nothing.
    TempFolder zero;
    WriteFile(zero.File("y(0001)of(0000).eml"), Crlf({"Subject: a", "", "b"}));
    EXPECT_EQ(ReassemblePartials(zero.Path(), "y"), std::nullopt);
}

}  // namespace
}  // namespace gatemoor
