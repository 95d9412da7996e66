// The message store: one user's six message folders (TMessageRepository) and the one
// list of repositories that the program keeps (TMsgReposList). A message held in a
// repository shares its information record with whoever asks GetEmailInfo for its id.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VornCriticalSections.h"
#include "mail/EmailMsg.h"

namespace gatemoor {

class TEmailInfo;

// The user every repository belongs to while the system runs for a single user.
inline constexpr std::string_view kSingleUserName = "SingleUser";

class TMessageRepository final : public TEmailMsgListOwner {
public:
    // Six empty lists, owned by this repository; no user yet.
    TMessageRepository();
    // The lists save what they hold before they go.
    ~TMessageRepository() override;
    TMessageRepository(const TMessageRepository&) = delete;
    TMessageRepository& operator=(const TMessageRepository&) = delete;

    // The lock "MessageRepository_CS".
    [[nodiscard]] TMutexCriticalSection& Lock() const { return lock_; }
    [[nodiscard]] std::string User() const;

    // Loads the six lists from the user's folders (creating missing folders), reporting
    // progress before each of the first five. Nothing for an empty user. False when the
    // user is empty or the calling worker was asked to stop.
    bool Load(std::string_view user);
    // Renames the old user's Messages folder to the new user's; on success the new user
    // is the repository's. Whether the repository has a user afterwards.
    bool ChangeUser(std::string_view user);
    // Moves the message from `from` to `to` (its file too). True when `from` held it, or
    // when both are the same list.
    bool MoveMailMessage(TEmailMsg& message, TEmailMsgList& from, TEmailMsgList& to);
    // Records the reasons (lines of `text`) in the message's purgatory text, after
    // "Also:" when it had reasons already, and moves the message to the purgatory with
    // its send time set to now plus the hold time. False when the message is in none of
    // the repository's lists, or on any error.
    bool MoveToPurgatory(TEmailMsg& message, std::string_view text) override;
    // The message with that content id, searched in the order unprocessed incoming,
    // processed incoming, unprocessed outgoing, processed outgoing, purgatory, trash.
    [[nodiscard]] TEmailMsg* FindById(int id) const;
    // The record of the message with that content id with one reference taken for the
    // caller (see RetainEmailInfo), or null.
    [[nodiscard]] TEmailInfo* RetainInfoById(int id) const;

    [[nodiscard]] TEmailMsgList& UnprocessedIncoming() const { return *lists_[0]; }
    [[nodiscard]] TEmailMsgList& ProcessedIncoming() const { return *lists_[1]; }
    [[nodiscard]] TEmailMsgList& UnprocessedOutgoing() const { return *lists_[2]; }
    [[nodiscard]] TEmailMsgList& ProcessedOutgoing() const { return *lists_[3]; }
    [[nodiscard]] TEmailMsgList& Purgatory() const { return *lists_[4]; }
    [[nodiscard]] TEmailMsgList& Trash() const { return *lists_[5]; }
    // Whether `list` is one of the six.
    [[nodiscard]] bool Holds(const TEmailMsgList* list) const;

private:
    mutable TMutexCriticalSection lock_;
    std::string user_;
    std::vector<std::unique_ptr<TEmailMsgList>> lists_;
};

// The repositories of the program, owned by the list.
class TMsgReposList {
public:
    TMsgReposList();
    ~TMsgReposList();
    TMsgReposList(const TMsgReposList&) = delete;
    TMsgReposList& operator=(const TMsgReposList&) = delete;

    // The lock "MsgReposList_CS".
    [[nodiscard]] TMutexCriticalSection& Lock() const { return lock_; }

    // Single-user mode: the first repository; when there is none, a new one loaded for
    // kSingleUserName and added. `user` is not consulted.
    TMessageRepository& RepositoryFor(std::string_view user);
    // FindById on each repository in order; null when none has it or on an error.
    [[nodiscard]] TEmailMsg* FindMessageById(int id) const;
    // The record of a held message with one reference taken for the caller, or null.
    [[nodiscard]] TEmailInfo* RetainInfoById(int id) const;
    [[nodiscard]] int Count() const;
    // Null for an index outside 0..Count()-1.
    [[nodiscard]] TMessageRepository* Items(int i) const;
    // Takes ownership; the repository's index.
    int Add(std::unique_ptr<TMessageRepository> repository);

private:
    mutable TMutexCriticalSection lock_;
    std::vector<std::unique_ptr<TMessageRepository>> repositories_;
};

// The program's repository list: created at start, which also makes GetEmailInfo share
// the records of held messages, and freed at the end. Start on a started module does
// nothing.
void MsgReposListModuleStart();
void MsgReposListModuleEnd();
// The list between start and end; null otherwise.
[[nodiscard]] TMsgReposList* GlobalMsgReposList();

}  // namespace gatemoor
