#include "screening/MessageRepository.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "foundation/CommaText.h"
#include "foundation/Time.h"
#include "mail/EmailDecoders.h"
#include "screening/EmailInfo.h"
#include "screening/ProcessingOptions.h"
#include "screening/VornUtilFolders.h"
#include "screening/VornUtilProgress.h"

namespace gatemoor {

namespace fs = std::filesystem;

namespace {

// The list indexes, in the order in which the repository searches its lists.
enum ListIndex : std::size_t {
    kUnprocessedIncoming = 0,
    kProcessedIncoming,
    kUnprocessedOutgoing,
    kProcessedOutgoing,
    kPurgatory,
    kTrash,
    kListCount
};

constexpr std::string_view kAlsoLine = "Also:";

struct GlobalList {
    std::mutex mutex;
    std::shared_ptr<TMsgReposList> list;
};

GlobalList& Global() {
    static GlobalList global;
    return global;
}

// A copy of the global list, so that a lookup that runs while the program ends keeps
// the list alive until it is done.
std::shared_ptr<TMsgReposList> GlobalListCopy() {
    GlobalList& global = Global();
    std::lock_guard guard(global.mutex);
    return global.list;
}

}  // namespace

// --- TMessageRepository ---

TMessageRepository::TMessageRepository() : lock_("MessageRepository_CS") {
    for (std::size_t i = 0; i < kListCount; ++i)
        lists_.push_back(std::make_unique<TEmailMsgList>(this));
}

TMessageRepository::~TMessageRepository() {
    // Last to first, the order in which the lists were made.
    while (!lists_.empty())
        lists_.pop_back();
}

std::string TMessageRepository::User() const {
    CriticalSectionGuard guard(lock_);
    return user_;
}

bool TMessageRepository::Load(std::string_view user) {
    if (user.empty()) return false;
    CriticalSectionGuard guard(lock_);
    struct Step {
        ListIndex list;
        std::string (*folder)(std::string_view);
        std::string_view progress;  // empty: loaded without a progress report
    };
    static constexpr Step kSteps[] = {
        {kUnprocessedIncoming, &UnprocessedIncomingFolder,
         "Loading Unprocessed Incoming E-mail Messages"},
        {kProcessedIncoming, &ProcessedIncomingFolder,
         "Loading Processed Incoming E-mail Messages"},
        {kUnprocessedOutgoing, &UnprocessedOutgoingFolder,
         "Loading Unprocessed Outgoing E-mail Messages"},
        {kProcessedOutgoing, &ProcessedOutgoingFolder,
         "Loading Processed Outgoing E-mail Messages"},
        {kPurgatory, &PurgatoryFolder, "Loading E-mail Messages in the Holdbay"},
        {kTrash, &TrashFolder, {}},
    };
    user_ = std::string(user);
    for (const Step& step : kSteps) {
        if (!step.progress.empty() && ReportProgress(step.progress)) return false;
        TEmailMsgList& list = *lists_[step.list];
        list.SetUserId(user_);
        list.LoadFolder(step.folder(user));
    }
    return true;
}

bool TMessageRepository::ChangeUser(std::string_view user) {
    CriticalSectionGuard guard(lock_);
    if (!user_.empty()) {
        const std::string from = MessagesFolder(user_);
        const std::string to = MessagesFolder(user);
        std::error_code error;
        // With a single user both names give one folder, which stays where it is.
        if (from != to) fs::rename(from, to, error);
        if (!error) {
            user_ = std::string(user);
            for (auto& list : lists_)
                list->SetUserId(user_);
        }
    }
    return !user_.empty();
}

bool TMessageRepository::MoveMailMessage(TEmailMsg& message, TEmailMsgList& from,
                                         TEmailMsgList& to) {
    CriticalSectionGuard guard(lock_);
    if (&from == &to) return true;
    if (from.IndexOf(&message) < 0) return false;
    to.Add(&message);
    from.Remove(&message);
    return true;
}

bool TMessageRepository::MoveToPurgatory(TEmailMsg& message, std::string_view text) {
    try {
        CriticalSectionGuard messageGuard(message.Lock());
        CriticalSectionGuard guard(lock_);

        std::vector<std::string> lines = SplitLines(text);
        std::erase_if(lines, [](const std::string& line) { return line.empty(); });
        TEmailInfo& info = message.Info();
        if (info.PurgatoryText().empty()) {
            info.SetPurgatoryText(ToCommaText(lines));
        } else {
            std::vector<std::string> items = FromCommaText(info.PurgatoryText());
            items.emplace_back(kAlsoLine);
            items.insert(items.end(), lines.begin(), lines.end());
            info.SetPurgatoryText(ToCommaText(items));
        }

        TEmailMsgList& purgatory = *lists_[kPurgatory];
        if (message.List() == &purgatory) return true;
        message.SendTime(Now() + CopyProcessingOptions().PurgatoryHoldDays);
        TEmailMsgList* from = message.List();
        if (!Holds(from)) {
            from = nullptr;
            for (std::size_t i : {kUnprocessedIncoming, kProcessedIncoming, kUnprocessedOutgoing,
                                  kProcessedOutgoing, kTrash}) {
                if (lists_[i]->IndexOf(&message) >= 0) {
                    from = lists_[i].get();
                    break;
                }
            }
            if (from == nullptr) return false;
        }
        return MoveMailMessage(message, *from, purgatory);
    } catch (const std::exception&) {
        return false;
    }
}

TEmailMsg* TMessageRepository::FindById(int id) const {
    for (const auto& list : lists_)
        if (TEmailMsg* message = list->FindByContentId(id)) return message;
    return nullptr;
}

TEmailInfo* TMessageRepository::RetainInfoById(int id) const {
    for (const auto& list : lists_) {
        // While the list lock is held the message cannot leave the list, and a message
        // frees its record only after it has left.
        CriticalSectionGuard guard(list->Lock());
        if (TEmailMsg* message = list->FindByContentId(id)) {
            if (RetainEmailInfo(&message->Info())) return &message->Info();
        }
    }
    return nullptr;
}

bool TMessageRepository::Holds(const TEmailMsgList* list) const {
    return list != nullptr && std::any_of(lists_.begin(), lists_.end(),
                                          [list](const auto& own) { return own.get() == list; });
}

// --- TMsgReposList ---

TMsgReposList::TMsgReposList() : lock_("MsgReposList_CS") {}

TMsgReposList::~TMsgReposList() {
    while (!repositories_.empty())
        repositories_.pop_back();
}

TMessageRepository& TMsgReposList::RepositoryFor(std::string_view) {
    CriticalSectionGuard guard(lock_);
    if (!repositories_.empty()) return *repositories_.front();
    auto repository = std::make_unique<TMessageRepository>();
    repository->Load(kSingleUserName);
    repositories_.push_back(std::move(repository));
    return *repositories_.back();
}

TEmailMsg* TMsgReposList::FindMessageById(int id) const {
    try {
        CriticalSectionGuard guard(lock_);
        for (const auto& repository : repositories_)
            if (TEmailMsg* message = repository->FindById(id)) return message;
    } catch (const std::exception&) {
    }
    return nullptr;
}

TEmailInfo* TMsgReposList::RetainInfoById(int id) const {
    try {
        CriticalSectionGuard guard(lock_);
        for (const auto& repository : repositories_)
            if (TEmailInfo* info = repository->RetainInfoById(id)) return info;
    } catch (const std::exception&) {
    }
    return nullptr;
}

int TMsgReposList::Count() const {
    CriticalSectionGuard guard(lock_);
    return static_cast<int>(repositories_.size());
}

TMessageRepository* TMsgReposList::Items(int i) const {
    CriticalSectionGuard guard(lock_);
    if (i < 0 || i >= static_cast<int>(repositories_.size())) return nullptr;
    return repositories_[static_cast<std::size_t>(i)].get();
}

int TMsgReposList::Add(std::unique_ptr<TMessageRepository> repository) {
    if (!repository) return -1;
    CriticalSectionGuard guard(lock_);
    repositories_.push_back(std::move(repository));
    return static_cast<int>(repositories_.size()) - 1;
}

// --- the program's list ---

void MsgReposListModuleStart() {
    {
        GlobalList& global = Global();
        std::lock_guard guard(global.mutex);
        if (global.list) return;
        global.list = std::make_shared<TMsgReposList>();
    }
    SetEmailInfoLookup([](int id) -> TEmailInfo* {
        const std::shared_ptr<TMsgReposList> list = GlobalListCopy();
        return list ? list->RetainInfoById(id) : nullptr;
    });
}

void MsgReposListModuleEnd() {
    SetEmailInfoLookup({});
    std::shared_ptr<TMsgReposList> list;
    {
        GlobalList& global = Global();
        std::lock_guard guard(global.mutex);
        list = std::move(global.list);
    }
    // The messages are saved and freed here, outside the global's mutex.
    list.reset();
}

TMsgReposList* GlobalMsgReposList() {
    return GlobalListCopy().get();
}

}  // namespace gatemoor
