// TEmailMsgList, the messages of one folder of ".eml" files, and the store of the
// pieces of message/partial messages.
#include <algorithm>
#include <charconv>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "screening/VornUtil.h"
#include "screening/VornUtilFiles.h"

namespace gatemoor {

namespace fs = std::filesystem;

namespace {

// How many characters of the subject name a message file.
constexpr std::size_t kSubjectNameLength = 20;
// Piece numbers are written with four digits; beyond that two pieces would share a file.
constexpr int kMaxPartialNumber = 9999;
// "(nnnn)of(tttt).eml" after the encoded id.
constexpr std::size_t kPartialSuffixLength = 18;
constexpr std::string_view kPropertyLinePrefix = "X-SMTP: ";

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

bool FolderExists(std::string_view path) {
    std::error_code error;
    return !path.empty() && fs::is_directory(fs::path(std::string(path)), error);
}

// A move that also works across file systems, where rename cannot.
bool MoveFile(const std::string& from, const std::string& to) {
    std::error_code error;
    fs::rename(from, to, error);
    if (!error) return true;
    if (!fs::copy_file(from, to, fs::copy_options::none, error) || error) return false;
    // The copy is in place; a source that will not go leaves two copies, never none.
    fs::remove(from, error);
    return true;
}

// A whole decimal integer with an optional sign, surrounding blanks allowed.
std::optional<int> WholeInteger(std::string_view text) {
    while (!text.empty() && IsBlankOrTab(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankOrTab(text.back()))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
    return value;
}

std::string FourDigits(int number) {
    return PadLeft(std::to_string(number), 4, "0");
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

// Whether `name` is a stored piece of the id encoded as `encodedId`: the id itself, not
// merely a longer id that starts the same, followed by "(nnnn)of(tttt).eml".
bool IsPieceName(std::string_view name, std::string_view encodedId) {
    if (name.size() != encodedId.size() + kPartialSuffixLength) return false;
    if (name.substr(0, encodedId.size()) != encodedId) return false;
    const std::string_view suffix = name.substr(encodedId.size());
    return suffix[0] == '(' && EqualsNoCase(suffix.substr(5, 4), ")of(") &&
           EqualsNoCase(suffix.substr(13), ").eml");
}

// The piece files of an id in `folder`, in name order.
std::vector<std::string> PieceFiles(std::string_view folder, std::string_view encodedId) {
    std::vector<std::string> paths;
    FindFiles(folder, std::string(encodedId) + "(*.eml", false, 0, paths);
    std::erase_if(paths, [&](const std::string& path) {
        return !IsPieceName(fs::path(path).filename().string(), encodedId);
    });
    return paths;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return {};
    return bytes;
}

}  // namespace

// --- TEmailMsgList ---

TEmailMsgList::TEmailMsgList(TEmailMsgListOwner* owner) : owner_(owner), lock_("EmailMsgList_CS") {}

TEmailMsgList::~TEmailMsgList() {
    // A message without a file of its own must still have a place to save itself to
    // when it is destroyed below.
    for (TEmailMsg* message : messages_) {
        try {
            if (!FileExists(message->fileName_)) message->fileName_ = NewFileName(*message);
        } catch (const std::exception&) {
            // It keeps the name it had; its own destruction still saves what it can.
        }
    }
    while (!messages_.empty())
        DeleteAt(static_cast<int>(messages_.size()) - 1);
}

void TEmailMsgList::SetFolder(std::string_view path) {
    CriticalSectionGuard guard(lock_);
    folder_ = std::string(path);
    while (folder_.size() > 1 && folder_.back() == '/')
        folder_.pop_back();
}

bool TEmailMsgList::LoadFolder(std::string_view path) {
    CriticalSectionGuard guard(lock_);
    SetFolder(path);
    if (!FolderExists(folder_)) return false;
    std::vector<std::string> files;
    FindFiles(folder_, "*.EML", false, 0, files);
    for (auto& file : files) {
        // The message is read when first needed.
        auto* message = new TEmailMsg(this);
        message->fileName_ = std::move(file);
    }
    return true;
}

int TEmailMsgList::Count() const {
    CriticalSectionGuard guard(lock_);
    return static_cast<int>(messages_.size());
}

TEmailMsg* TEmailMsgList::Items(int i) const {
    CriticalSectionGuard guard(lock_);
    if (i < 0 || i >= static_cast<int>(messages_.size())) return nullptr;
    return messages_[static_cast<std::size_t>(i)];
}

int TEmailMsgList::IndexOf(const TEmailMsg* message) const {
    CriticalSectionGuard guard(lock_);
    const auto found = std::find(messages_.begin(), messages_.end(), message);
    return found == messages_.end() ? -1 : static_cast<int>(found - messages_.begin());
}

int TEmailMsgList::Add(TEmailMsg* message) {
    if (message == nullptr) return -1;
    CriticalSectionGuard guard(lock_);
    if (const int index = IndexOf(message); index >= 0) {
        message->list_ = this;
        return index;
    }
    if (message->list_ != nullptr && message->list_ != this) message->list_->Remove(message);
    if (FileExists(message->fileName_) && !folder_.empty()) {
        // NewFileName reads the message for its subject, so even when the move fails the
        // text is in memory and its next save writes the new file.
        std::string target = NewFileName(*message);
        if (!target.empty()) {
            MoveFile(message->fileName_, target);
            message->fileName_ = std::move(target);
        }
    }
    messages_.push_back(message);
    message->list_ = this;
    return static_cast<int>(messages_.size()) - 1;
}

void TEmailMsgList::DeleteAt(int i) {
    CriticalSectionGuard guard(lock_);
    if (i < 0 || i >= static_cast<int>(messages_.size())) return;
    TEmailMsg* message = messages_[static_cast<std::size_t>(i)];
    messages_.erase(messages_.begin() + i);
    if (message->list_ == this) message->list_ = nullptr;
    delete message;
}

int TEmailMsgList::Remove(TEmailMsg* message) {
    CriticalSectionGuard guard(lock_);
    const int index = IndexOf(message);
    if (index < 0) return -1;
    messages_.erase(messages_.begin() + index);
    if (message->list_ == this) message->list_ = nullptr;
    return index;
}

std::string TEmailMsgList::NewFileName(TEmailMsg& message) {
    CriticalSectionGuard guard(lock_);
    if (folder_.empty()) return {};
    std::string subject;
    message.Header().GetSubject(subject);
    if (subject.size() > kSubjectNameLength) subject.resize(kSubjectNameLength);
    std::string path;
    GetUniquePath(folder_, subject, ".eml", path);
    return path;
}

bool TEmailMsgList::Obliterate(TEmailMsg& message) {
    CriticalSectionGuard guard(lock_);
    const int index = IndexOf(&message);
    return index >= 0 && DeleteMessage(index);
}

bool TEmailMsgList::DeleteMessage(int i) {
    CriticalSectionGuard guard(lock_);
    TEmailMsg* message = Items(i);
    if (message == nullptr) return false;
    {
        CriticalSectionGuard messageGuard(message->Lock());
        message->FlaggedDeleted(true);
        message->DiskDelete();
    }
    DeleteAt(i);
    return true;
}

TEmailMsg* TEmailMsgList::FindByContentId(int id) const {
    CriticalSectionGuard guard(lock_);
    for (auto it = messages_.rbegin(); it != messages_.rend(); ++it)
        if ((*it)->ContentId() == id) return *it;
    return nullptr;
}

// --- message/partial pieces ---

std::string EncodePartialId(std::string_view id) {
    std::string encoded;
    encoded.reserve(id.size());
    for (char c : id) {
        if (IsFileNameChar(c)) {
            encoded.push_back(c);
        } else {
            encoded.push_back('=');
            encoded += std::to_string(static_cast<unsigned char>(c));
        }
    }
    return encoded;
}

std::string PartialFileName(std::string_view id, int number, int total) {
    return EncodePartialId(id) + "(" + FourDigits(number) + ")of(" + FourDigits(total) + ").eml";
}

bool SavePartial(std::string_view folder, TEmailMsg& message) {
    try {
        const TEmailHeader& header = message.Header();
        std::string numberText;
        std::string totalText;
        std::string id;
        header.GetDecodedParam("Content-Type", "Number", numberText);
        header.GetDecodedParam("Content-Type", "Total", totalText);
        header.GetDecodedParam("Content-Type", "Id", id);
        const std::optional<int> number = WholeInteger(numberText);
        const std::optional<int> total = WholeInteger(totalText);
        if (!number || !total || id.empty()) return false;
        // A piece that can never be joined would be withheld for good: it is not stored,
        // so the caller passes it on like any other message.
        if (*total < 1 || *total > kMaxPartialNumber || *number < 1 || *number > *total)
            return false;
        return message.SaveToFile(JoinPath(folder, PartialFileName(id, *number, *total)));
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::vector<std::string>> ReassemblePartials(std::string_view folder,
                                                           std::string_view id) {
    try {
        if (!FolderExists(folder)) return {};
        const std::string encodedId = EncodePartialId(id);
        const std::vector<std::string> pieces = PieceFiles(folder, encodedId);
        if (pieces.empty()) return {};
        const std::string first = fs::path(pieces.front()).filename().string();
        const std::optional<int> total =
            WholeInteger(std::string_view(first).substr(first.size() - 9, 4));
        if (!total || *total < 1 || static_cast<int>(pieces.size()) < *total) return {};

        std::vector<std::string> result;
        for (int number = 1; number <= *total; ++number) {
            const std::string path = JoinPath(folder, PartialFileName(id, number, *total));
            if (!FileExists(path)) return {};
            const std::optional<std::string> bytes = ReadWholeFile(path);
            if (!bytes) return {};
            std::vector<std::string> lines = SplitLines(*bytes);
            // The stored piece may begin with its property line; it is no part of the text.
            if (!lines.empty() && lines.front().starts_with(kPropertyLinePrefix))
                lines.erase(lines.begin());
            TEmailHeader header;
            header.LoadFromLines(lines);
            TMIMEDecoderClass decoder = nullptr;
            header.GetDecoderClass(decoder);
            if (!DecodeLinesInPlace(decoder, lines)) return {};
            if (!lines.empty() && lines.back().empty()) lines.pop_back();
            result.insert(result.end(), std::make_move_iterator(lines.begin()),
                          std::make_move_iterator(lines.end()));
        }
        return result;
    } catch (const std::exception&) {
        return {};
    }
}

bool DeletePartials(std::string_view folder, std::string_view id) {
    if (!FolderExists(folder)) return false;
    bool allDeleted = true;
    for (const std::string& path : PieceFiles(folder, EncodePartialId(id))) {
        std::error_code error;
        if (!fs::remove(path, error) || error) allDeleted = false;
    }
    return allDeleted;
}

}  // namespace gatemoor
