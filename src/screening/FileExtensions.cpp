#include "screening/FileExtensions.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

#include "foundation/CommaText.h"
#include "screening/FileExtLookup.h"
#include "screening/VornUtilProgress.h"

namespace gatemoor {
namespace {

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

unsigned char FoldCase(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

// Extension order: byte order with ASCII letters folded to upper case.
int CompareExtensions(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = FoldCase(a[i]);
        unsigned char y = FoldCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool ExtensionLess(const std::unique_ptr<TFileExtension>& a,
                   const std::unique_ptr<TFileExtension>& b) {
    return CompareExtensions(a->Extension(), b->Extension()) < 0;
}

// A decimal integer with optional leading blanks and sign; -1 for anything else.
int ParseRisk(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ')
        ++start;
    text.remove_prefix(start);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return kRiskNotSet;
    return value;
}

// A record line is one line of the database file: a line break inside a text would
// split it, and a crafted extension could then plant a record line of its own.
std::string WithoutLineBreaks(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return text;
}

std::vector<std::string> WithoutLineBreaks(const std::vector<std::string>& items) {
    std::vector<std::string> result;
    result.reserve(items.size());
    for (const auto& item : items)
        result.push_back(WithoutLineBreaks(item));
    return result;
}

// One line of a text file: ends at CR LF, LF or CR; false at the end of the stream.
bool ReadTextLine(std::istream& stream, std::string& line) {
    line.clear();
    std::streambuf* buffer = stream.rdbuf();
    if (buffer == nullptr) return false;
    using Traits = std::char_traits<char>;
    int c = buffer->sgetc();
    if (Traits::eq_int_type(c, Traits::eof())) return false;
    while (!Traits::eq_int_type(c, Traits::eof())) {
        char ch = Traits::to_char_type(c);
        buffer->sbumpc();
        if (ch == '\n') return true;
        if (ch == '\r') {
            if (Traits::eq_int_type(buffer->sgetc(), Traits::to_int_type('\n'))) buffer->sbumpc();
            return true;
        }
        line += ch;
        c = buffer->sgetc();
    }
    return true;
}

}  // namespace

std::string RiskName(int level) {
    switch (level) {
        case 0:
            return "low";
        case 1:
            return "moderate";
        case 2:
            return "high";
        case 3:
            return "very high";
        default:
            return "unknown";
    }
}

std::string NormaliseExtension(std::string_view text) {
    while (!text.empty() && IsBlankOrControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankOrControl(text.back()))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '.') text.remove_prefix(1);
    return std::string(text);
}

// --- TFileExtension ------------------------------------------------------------------

std::string TFileExtension::ToLine() const {
    std::vector<std::string> pairs;
    if (!extension_.empty()) pairs.push_back("1=" + WithoutLineBreaks(extension_));
    if (!sameAs_.empty()) pairs.push_back("2=" + WithoutLineBreaks(sameAs_));
    pairs.push_back("3=" + std::to_string(risk_));
    if (!descriptions_.empty())
        pairs.push_back("4=" + ToCommaText(WithoutLineBreaks(descriptions_)));
    if (!references_.empty()) pairs.push_back("5=" + ToCommaText(WithoutLineBreaks(references_)));
    return ToCommaText(pairs);
}

void TFileExtension::FromLine(std::string_view line) {
    const std::vector<std::string> pairs = FromCommaText(line);
    auto value = [&pairs](std::string_view key) {
        return ValueOfName(pairs, key).value_or(std::string());
    };
    SetExtension(value("1"));
    SetSameAs(value("2"));
    std::optional<std::string> risk = ValueOfName(pairs, "3");
    risk_ = risk ? ParseRisk(*risk) : kRiskNotSet;
    descriptions_ = FromCommaText(value("4"));
    references_ = FromCommaText(value("5"));
}

void TFileExtension::WriteTo(std::ostream& stream) const {
    stream << ToLine() << "\r\n";
}

bool TFileExtension::ReadFrom(std::istream& stream) {
    std::streambuf* buffer = stream.rdbuf();
    using Traits = std::char_traits<char>;
    if (buffer == nullptr || !stream.good() || Traits::eq_int_type(buffer->sgetc(), Traits::eof()))
        return false;
    std::string line;
    for (int c = buffer->sbumpc(); !Traits::eq_int_type(c, Traits::eof()); c = buffer->sbumpc()) {
        char ch = Traits::to_char_type(c);
        if (ch == '\r' && Traits::eq_int_type(buffer->sgetc(), Traits::to_int_type('\n'))) {
            buffer->sbumpc();
            break;
        }
        line += ch;
    }
    FromLine(line);
    return true;
}

void TFileExtension::Assign(const TFileExtension* other) {
    if (other == nullptr || other == this) return;
    extension_ = other->extension_;
    sameAs_ = other->sameAs_;
    risk_ = other->risk_;
    descriptions_ = other->descriptions_;
    references_ = other->references_;
}

bool TFileExtension::IsEmpty() const {
    if (extension_.empty()) return true;
    return risk_ == kRiskNotSet && descriptions_.empty() && references_.empty() &&
           extension_.find('{') == std::string::npos;
}

bool TFileExtension::LookUpClassId(std::string& name) const {
    return gatemoor::LookUpClassId(extension_, name);
}

// --- the loading thread ----------------------------------------------------------------

// Shared by the list and its loading threads, so that a thread that starts late or ends
// late never reaches a list that is gone.
struct TFileExtensionList::LoaderState {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> closing{false};
    int running = 0;  // threads inside the list
    int pending = 0;  // threads started and not yet finished
};

class TFileExtensionList::TLoadFileExtFromFileThread : public TVornThread {
public:
    TLoadFileExtFromFileThread(TFileExtensionList* list, std::string path,
                               std::shared_ptr<LoaderState> state)
        : TVornThread(true), list_(list), path_(std::move(path)), state_(std::move(state)) {}

    [[nodiscard]] std::string ClassName() const override { return "TLoadFileExtFromFileThread"; }

protected:
    void Execute() override {
        bool entered = false;
        {
            std::lock_guard<std::mutex> guard(state_->mutex);
            if (!state_->closing) {
                ++state_->running;
                entered = true;
            }
        }
        if (entered) {
            try {
                list_->LoadLinesOfFile(path_, &state_->closing);
            } catch (...) {
                // A background load ends quietly; the records read so far stay.
            }
        }
        std::lock_guard<std::mutex> guard(state_->mutex);
        if (entered) --state_->running;
        --state_->pending;
        state_->changed.notify_all();
    }

private:
    TFileExtensionList* list_;
    std::string path_;
    std::shared_ptr<LoaderState> state_;
};

// --- TFileExtensionList ----------------------------------------------------------------

TFileExtensionList::TFileExtensionList() : loader_(std::make_shared<LoaderState>()) {}

TFileExtensionList::~TFileExtensionList() {
    // Without the list's lock: a loader waiting for it must be able to finish.
    std::unique_lock<std::mutex> guard(loader_->mutex);
    loader_->closing = true;
    loader_->changed.wait(guard, [this] { return loader_->running == 0; });
}

void TFileExtensionList::Append(std::unique_ptr<TFileExtension> record) {
    records_.push_back(std::move(record));
}

void TFileExtensionList::RestoreOrder() {
    if (!std::is_sorted(records_.begin(), records_.end(), ExtensionLess))
        std::stable_sort(records_.begin(), records_.end(), ExtensionLess);
}

void TFileExtensionList::LoadDefaults() {
    CriticalSectionGuard guard(lock_);
    std::string table;
    for (std::string_view line : DefaultFileExtensionLines()) {
        table += line;
        table += "\r\n";
    }
    std::istringstream stream(std::move(table));
    LoadFromStream(stream);
}

void TFileExtensionList::LoadFromFile(const std::string& path, bool inThread) {
    if (!inThread) {
        LoadLinesOfFile(path, nullptr);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(loader_->mutex);
        if (loader_->closing) return;
        ++loader_->pending;
    }
    try {
        auto* thread = new TLoadFileExtFromFileThread(this, path, loader_);
        thread->SetFreeOnTerminate(true);
        loaderHandle_ = thread->Handle();
        thread->Resume();
    } catch (...) {
        std::lock_guard<std::mutex> guard(loader_->mutex);
        --loader_->pending;
        loader_->changed.notify_all();
    }
}

void TFileExtensionList::LoadLinesOfFile(const std::string& path, const std::atomic<bool>* stop) {
    CriticalSectionGuard guard(lock_);
    try {
        std::ifstream file(path, std::ios::binary);
        if (!file) return;
        std::string line;
        while ((stop == nullptr || !*stop) && ReadTextLine(file, line)) {
            auto record = std::make_unique<TFileExtension>();
            record->FromLine(line);
            Append(std::move(record));
            ReportProgress();
        }
    } catch (const std::exception&) {
        // An unreadable rest of the file ends the load; what was read stays.
    }
    RestoreOrder();
}

void TFileExtensionList::LoadFromStream(std::istream& stream) {
    CriticalSectionGuard guard(lock_);
    stream.clear();
    stream.seekg(0);
    stream.clear();  // a stream that cannot seek is read from where it stands
    for (;;) {
        auto record = std::make_unique<TFileExtension>();
        if (!record->ReadFrom(stream)) break;
        Append(std::move(record));
        ReportProgress();
    }
    RestoreOrder();
}

void TFileExtensionList::SaveToStream(std::ostream& stream) {
    CriticalSectionGuard guard(lock_);
    for (const auto& record : records_)
        if (!record->IsEmpty()) record->WriteTo(stream);
}

bool TFileExtensionList::Find(std::string_view extension, int& position) {
    CriticalSectionGuard guard(lock_);
    const std::string wanted = NormaliseExtension(extension);
    position = 0;
    if (wanted.empty()) return false;
    auto at =
        std::lower_bound(records_.begin(), records_.end(), wanted,
                         [](const std::unique_ptr<TFileExtension>& record, const std::string& key) {
                             return CompareExtensions(record->Extension(), key) < 0;
                         });
    position = static_cast<int>(at - records_.begin());
    return at != records_.end() && CompareExtensions((*at)->Extension(), wanted) == 0;
}

TFileExtension* TFileExtensionList::FindOrAdd(std::string_view extension) {
    CriticalSectionGuard guard(lock_);
    const std::string wanted = NormaliseExtension(extension);
    if (wanted.empty()) return nullptr;
    int position = 0;
    if (Find(wanted, position)) return records_[static_cast<std::size_t>(position)].get();
    auto record = std::make_unique<TFileExtension>();
    record->SetExtension(wanted);
    TFileExtension* added = record.get();
    records_.insert(records_.begin() + position, std::move(record));
    return added;
}

std::unique_ptr<TFileExtension> TFileExtensionList::CopyOf(std::string_view extension) {
    CriticalSectionGuard guard(lock_);
    auto copy = std::make_unique<TFileExtension>();
    copy->Assign(FindOrAdd(extension));
    return copy;
}

TFileExtension* TFileExtensionList::FindByMimeType(std::string_view mimeType) {
    CriticalSectionGuard guard(lock_);
    std::string extension;
    if (!ExtensionOfMimeType(mimeType, extension)) return nullptr;
    int position = 0;
    if (!Find(extension, position)) return nullptr;
    return records_[static_cast<std::size_t>(position)].get();
}

int TFileExtensionList::IndexOf(const TFileExtension* record) {
    CriticalSectionGuard guard(lock_);
    for (std::size_t i = 0; i < records_.size(); ++i)
        if (records_[i].get() == record) return static_cast<int>(i);
    return -1;
}

void TFileExtensionList::Delete(int position) {
    CriticalSectionGuard guard(lock_);
    if (position < 0 || static_cast<std::size_t>(position) >= records_.size()) return;
    records_.erase(records_.begin() + position);
}

int TFileExtensionList::Count() {
    CriticalSectionGuard guard(lock_);
    return static_cast<int>(records_.size());
}

TFileExtension* TFileExtensionList::Items(int position) {
    CriticalSectionGuard guard(lock_);
    if (position < 0 || static_cast<std::size_t>(position) >= records_.size()) return nullptr;
    return records_[static_cast<std::size_t>(position)].get();
}

bool TFileExtensionList::WaitForLoading(int timeoutMs) {
    std::unique_lock<std::mutex> guard(loader_->mutex);
    return loader_->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                     [this] { return loader_->pending == 0; });
}

}  // namespace gatemoor
