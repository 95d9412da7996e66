#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/CommaText.h"
#include "foundation/Time.h"
#include "mail/EmailMsg.h"
#include "screening/EmailInfo.h"
#include "screening/MessageRepository.h"
#include "screening/ProcessingOptions.h"
#include "screening/VornUtilFolders.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using Lines = std::vector<std::string>;

std::string MessageText(const std::string& subject) {
    return "From: a@example.org\r\nSubject: " + subject + "\r\n\r\nHello.\r\n";
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every test starts from an empty message store of its own.
class MessageRepositoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(MessagesFolder());
        SetProcessingOptions(TProcessingOptions{});
    }
    void TearDown() override {
        SetProcessingOptions(TProcessingOptions{});
        fs::remove_all(MessagesFolder());
    }

    // A message read from a file placed in `list`'s folder.
    static TEmailMsg* AddFileMessage(TEmailMsgList& list, const std::string& name,
                                     const std::string& subject) {
        const std::string path = list.Folder() + "/" + name;
        WriteFile(path, MessageText(subject));
        auto* message = new TEmailMsg(&list);
        message->SetFileName(path);
        return message;
    }
};

TEST_F(MessageRepositoryTest, LoadReadsTheSixFolders) {
    WriteFile(UnprocessedIncomingFolder() + "/a.eml", MessageText("a"));
    WriteFile(UnprocessedIncomingFolder() + "/b.EML", MessageText("b"));
    WriteFile(PurgatoryFolder() + "/held.eml", MessageText("held"));
    WriteFile(TrashFolder() + "/gone.eml", MessageText("gone"));

    TMessageRepository repository;
    EXPECT_FALSE(repository.Load(""));
    EXPECT_EQ(repository.User(), "");
    ASSERT_TRUE(repository.Load("someone"));
    EXPECT_EQ(repository.User(), "someone");

    const struct {
        const char* name;
        TEmailMsgList& list;
        std::string folder;
        int count;
    } cases[] = {
        {"unprocessed incoming", repository.UnprocessedIncoming(), "UnProcessedIncoming", 2},
        {"processed incoming", repository.ProcessedIncoming(), "ProcessedIncoming", 0},
        {"unprocessed outgoing", repository.UnprocessedOutgoing(), "UnprocessedOutGoing", 0},
        {"processed outgoing", repository.ProcessedOutgoing(), "ProcessedOutGoing", 0},
        {"purgatory", repository.Purgatory(), "Purgatory", 1},
        {"trash", repository.Trash(), "Trash", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.list.Folder(), MessagesFolder() + "/" + c.folder);
        EXPECT_EQ(c.list.Count(), c.count);
        EXPECT_EQ(c.list.UserId(), "someone");
        EXPECT_EQ(c.list.Owner(), &repository);
        EXPECT_TRUE(repository.Holds(&c.list));
        EXPECT_TRUE(fs::is_directory(c.list.Folder()));
    }
    TEmailMsgList foreign;
    EXPECT_FALSE(repository.Holds(&foreign));
    EXPECT_FALSE(repository.Holds(nullptr));
}

TEST_F(MessageRepositoryTest, MoveMailMessageMovesMessageAndFile) {
    TMessageRepository repository;
    ASSERT_TRUE(repository.Load(kSingleUserName));
    TEmailMsgList& from = repository.UnprocessedIncoming();
    TEmailMsgList& to = repository.ProcessedIncoming();
    TEmailMsg* message = AddFileMessage(from, "m.eml", "Moved along");

    // A list that does not hold the message changes nothing.
    EXPECT_FALSE(repository.MoveMailMessage(*message, to, repository.Trash()));
    EXPECT_EQ(message->List(), &from);
    EXPECT_TRUE(repository.MoveMailMessage(*message, from, from));
    EXPECT_EQ(message->List(), &from);

    EXPECT_TRUE(repository.MoveMailMessage(*message, from, to));
    EXPECT_EQ(from.Count(), 0);
    EXPECT_EQ(to.IndexOf(message), 0);
    EXPECT_EQ(message->List(), &to);
    EXPECT_TRUE(NamesIn(from.Folder()).empty());
    const auto names = NamesIn(to.Folder());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(names[0].starts_with("Moved_along(")) << names[0];
    EXPECT_EQ(message->FileName(), to.Folder() + "/" + names[0]);
    EXPECT_EQ(ReadFile(message->FileName()), MessageText("Moved along"));
}

TEST_F(MessageRepositoryTest, MoveToPurgatoryRecordsTheReasonsAndHoldsTheMessage) {
    TProcessingOptions options;
    options.PurgatoryHoldDays = 2.5;
    SetProcessingOptions(options);
    TMessageRepository repository;
    ASSERT_TRUE(repository.Load(kSingleUserName));
    TEmailMsg* message = AddFileMessage(repository.ProcessedIncoming(), "p.eml", "Suspect");

    const double before = Now();
    ASSERT_TRUE(repository.MoveToPurgatory(*message, "First reason\r\n\r\nSecond reason\r\n"));
    const double after = Now();
    EXPECT_EQ(message->List(), &repository.Purgatory());
    EXPECT_EQ(repository.ProcessedIncoming().Count(), 0);
    EXPECT_EQ(FromCommaText(message->Info().PurgatoryText()),
              (Lines{"First reason", "Second reason"}));
    const double held = message->GetSendTime();
    EXPECT_GE(held, before + 2.5);
    EXPECT_LE(held, after + 2.5);
    EXPECT_FALSE(message->Property("SendTime").empty());
    const auto names = NamesIn(repository.Purgatory().Folder());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(names[0].starts_with("Suspect(")) << names[0];

    // Held already: the new reasons follow "Also:", the hold time stays.
    ASSERT_TRUE(repository.MoveToPurgatory(*message, "Third reason"));
    EXPECT_EQ(FromCommaText(message->Info().PurgatoryText()),
              (Lines{"First reason", "Second reason", "Also:", "Third reason"}));
    EXPECT_EQ(message->GetSendTime(), held);
    EXPECT_EQ(repository.Purgatory().Count(), 1);
}

TEST_F(MessageRepositoryTest, MoveToPurgatoryNeedsAMessageOfTheRepository) {
    TMessageRepository repository;
    ASSERT_TRUE(repository.Load(kSingleUserName));
    TEmailMsgList foreign;
    auto* inForeignList = new TEmailMsg(&foreign);
    TEmailMsg loose;
    EXPECT_FALSE(repository.MoveToPurgatory(*inForeignList, "reason"));
    EXPECT_FALSE(repository.MoveToPurgatory(loose, "reason"));
    EXPECT_EQ(inForeignList->List(), &foreign);
    EXPECT_EQ(repository.Purgatory().Count(), 0);
}

TEST_F(MessageRepositoryTest, DuplicateUidlSendsTheOtherCopyToThePurgatory) {
    TMessageRepository repository;
    ASSERT_TRUE(repository.Load(kSingleUserName));
    TEmailMsgList& incoming = repository.UnprocessedIncoming();
    TEmailMsg* older = AddFileMessage(incoming, "older.eml", "Older copy");
    TEmailMsg* unrelated = AddFileMessage(incoming, "unrelated.eml", "Unrelated");
    TEmailMsg* newer = AddFileMessage(incoming, "newer.eml", "Newer copy");
    // The copies already carry the identifiers the server gave them.
    older->Info().SetUIDL("UIDL-42");
    unrelated->Info().SetUIDL("UIDL-7");
    newer->Info().SetUIDL("UIDL-9");

    newer->SetUidl("UIDL-42");
    EXPECT_EQ(newer->Uidl(), "UIDL-42");
    EXPECT_EQ(older->List(), &repository.Purgatory());
    EXPECT_EQ(FromCommaText(older->Info().PurgatoryText()),
              (Lines{std::string(kDuplicateUidlReason)}));
    EXPECT_EQ(incoming.Count(), 2);
    EXPECT_GE(incoming.IndexOf(newer), 0);
    EXPECT_GE(incoming.IndexOf(unrelated), 0);
    EXPECT_TRUE(newer->Info().PurgatoryText().empty());
    const auto held = NamesIn(repository.Purgatory().Folder());
    ASSERT_EQ(held.size(), 1u);
    EXPECT_TRUE(held[0].starts_with("Older_copy(")) << held[0];

    // Setting the same value again finds nothing to move.
    newer->SetUidl("UIDL-42");
    EXPECT_EQ(incoming.Count(), 2);
    EXPECT_EQ(repository.Purgatory().Count(), 1);
}

TEST_F(MessageRepositoryTest, FindByIdSearchesTheListsInOrder) {
    TMessageRepository repository;
    ASSERT_TRUE(repository.Load(kSingleUserName));
    auto* held = new TEmailMsg(&repository.Purgatory());
    auto* incoming = new TEmailMsg(&repository.ProcessedIncoming());
    auto* trashed = new TEmailMsg(&repository.Trash());
    held->Info().SetId(5001);
    incoming->Info().SetId(5001);
    trashed->Info().SetId(5002);
    EXPECT_EQ(repository.FindById(5001), incoming);
    EXPECT_EQ(repository.FindById(5002), trashed);
    EXPECT_EQ(repository.FindById(5003), nullptr);
}

TEST_F(MessageRepositoryTest, ChangeUserNeedsAUser) {
    TMessageRepository repository;
    EXPECT_FALSE(repository.ChangeUser("other"));
    EXPECT_EQ(repository.User(), "");

    ASSERT_TRUE(repository.Load(kSingleUserName));
    WriteFile(repository.Trash().Folder() + "/kept.eml", MessageText("kept"));
    // One user only: both names share the folder, which stays with its files.
    EXPECT_TRUE(repository.ChangeUser("other"));
    EXPECT_EQ(repository.User(), "other");
    EXPECT_EQ(repository.Trash().UserId(), "other");
    EXPECT_TRUE(fs::exists(TrashFolder("other") + "/kept.eml"));
}

TEST_F(MessageRepositoryTest, RepositoryListMakesOneSingleUserRepository) {
    WriteFile(UnprocessedIncomingFolder() + "/a.eml", MessageText("a"));
    TMsgReposList list;
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Items(0), nullptr);

    TMessageRepository& first = list.RepositoryFor("alice");
    EXPECT_EQ(first.User(), kSingleUserName);
    EXPECT_EQ(first.UnprocessedIncoming().Count(), 1);
    EXPECT_EQ(&list.RepositoryFor("bob"), &first);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0), &first);
    EXPECT_EQ(list.Items(1), nullptr);

    auto* message = new TEmailMsg(&first.ProcessedOutgoing());
    message->Info().SetId(6001);
    EXPECT_EQ(list.FindMessageById(6001), message);
    EXPECT_EQ(list.FindMessageById(6002), nullptr);

    auto second = std::make_unique<TMessageRepository>();
    TMessageRepository* secondAddress = second.get();
    auto* other = new TEmailMsg(&second->Trash());
    other->Info().SetId(6003);
    EXPECT_EQ(list.Add(std::move(second)), 1);
    EXPECT_EQ(list.Add(nullptr), -1);
    EXPECT_EQ(list.Items(1), secondAddress);
    EXPECT_EQ(list.FindMessageById(6003), other);
}

TEST_F(MessageRepositoryTest, HeldMessagesShareTheirRecord) {
    const int heldId = 7001;
    const int looseId = 7002;
    const auto recordFile = [](int id) {
        return EmailInfoFolder() + "/" + std::to_string(id) + ".dat";
    };
    fs::remove(recordFile(heldId));
    fs::remove(recordFile(looseId));

    MsgReposListModuleStart();
    ASSERT_NE(GlobalMsgReposList(), nullptr);
    TMessageRepository& repository = GlobalMsgReposList()->RepositoryFor(kSingleUserName);
    auto* message = new TEmailMsg(&repository.UnprocessedIncoming());
    message->Info().SetId(heldId);
    const int references = message->Info().References();

    TEmailInfo* shared = nullptr;
    EXPECT_TRUE(GetEmailInfo(heldId, shared));
    EXPECT_EQ(shared, &message->Info());
    EXPECT_EQ(message->Info().References(), references + 1);
    ReleaseEmailInfo(shared);
    EXPECT_EQ(message->Info().References(), references);

    TEmailInfo* fresh = nullptr;
    EXPECT_FALSE(GetEmailInfo(looseId, fresh));
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, &message->Info());
    EXPECT_EQ(fresh->Id(), looseId);
    EXPECT_EQ(fresh->References(), 1);
    ReleaseEmailInfo(fresh);

    // Once the list is gone, nothing is shared any more.
    message->Info().SetUIDL("saved-on-release");
    MsgReposListModuleEnd();
    EXPECT_EQ(GlobalMsgReposList(), nullptr);
    TEmailInfo* afterwards = nullptr;
    EXPECT_TRUE(GetEmailInfo(heldId, afterwards));
    ASSERT_NE(afterwards, nullptr);
    EXPECT_EQ(afterwards->UIDL(), "saved-on-release");
    EXPECT_EQ(afterwards->References(), 1);
    ReleaseEmailInfo(afterwards);
    fs::remove(recordFile(heldId));
}

}  // namespace
}  // namespace gatemoor
