// Parses arbitrary bytes as two header blocks of one message (the main header and a
// part's), asks every question of both, writes them back and reads them again, and sets
// a parameter and reads it back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VornCriticalSections.h"
#include "mail/EmailHeader.h"
#include "mail/HeaderOwner.h"

namespace {

using Lines = std::vector<std::string>;

void Check(bool condition) {
    if (!condition) std::abort();
}

// Two headers; the part tree holds the main header at depth 0 and the second header
// at a depth the input chooses. Parts are addresses only: headers ask the owner about them.
class TFuzzOwner : public gatemoor::THeaderOwner {
public:
    TFuzzOwner() : main(this), part(this) {}

    gatemoor::TEmailHeader main;
    gatemoor::TEmailHeader part;
    int partDepth = 0;

    const gatemoor::TEmailHeader* MainHeader() const override { return &main; }
    void RegisterHeader(gatemoor::TEmailHeader&) override {}
    void UnregisterHeader(gatemoor::TEmailHeader&) override {}
    void MarkModified() override {}
    gatemoor::TAbstractCriticalSection& OwnerLock() const override { return lock_; }
    void WalkParts(const TPartVisitor& visit) const override {
        if (!visit(*AsPart(&slots_[0]), &main)) return;
        (void)visit(*AsPart(&slots_[1]), &part);
    }
    int PartDepth(const gatemoor::TEmailMsgPart& part) const override {
        return reinterpret_cast<const TSlot*>(&part) == &slots_[0] ? 0 : partDepth;
    }
    // Both parts hang under the main header.
    const gatemoor::TEmailHeader* EnclosingHeader(const gatemoor::TEmailMsgPart&) const override {
        return &main;
    }

private:
    // Aligned as any object, so that a reference to a part may bind to it.
    struct alignas(std::max_align_t) TSlot {
        char unused = 0;
    };
    static gatemoor::TEmailMsgPart* AsPart(const TSlot* slot) {
        return reinterpret_cast<gatemoor::TEmailMsgPart*>(const_cast<TSlot*>(slot));
    }
    mutable gatemoor::TMutexCriticalSection lock_{"EmailMsg_CS"};
    TSlot slots_[2];
};

Lines SplitLines(std::string_view text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

void AskEverything(const gatemoor::TEmailHeader& header) {
    std::string s;
    (void)header.IsMessageHeader();
    (void)header.OwningPart();
    (void)header.GetSubject(s);
    (void)header.GetContentType(s);
    (void)header.GetDecodedFieldValue("Content-Type", s);
    (void)header.GetFieldValue("Content-Disposition", s, true);
    (void)header.GetDecodedParam("Content-Type", "charset", s);
    (void)header.GetFileName(s);
    (void)header.GetTypeFileName(s);
    (void)header.GetDispositionFileName(s);
    (void)header.GetContentIdFileName(s);
    (void)header.GetTransferEncoding(s);
    (void)header.GetBoundary();
    (void)header.IsAttachment();
    (void)header.IsInline();
    (void)header.IsInlineAttachment();
    (void)header.IsRfc822();
    (void)header.IsMessagePart();
    (void)header.IsMultipart();
    (void)header.IsMultipartAlternative();
    (void)header.IsMultipartRelated();
    (void)header.IsMultipartMixed();
    (void)header.IsTextual();
    (void)header.IsPlainText();
    (void)header.IsHtml();
}

// Writing a header back and reading it again gives the same fields.
void CheckRoundTrip(const gatemoor::TEmailHeader& header) {
    Lines saved;
    header.SaveToLines(saved);
    gatemoor::TEmailHeader again;
    (void)again.LoadFromLines(saved);
    Check(again.FieldCount() == header.FieldCount());
    for (int i = 0; i < header.FieldCount(); ++i) {
        Check(again.FieldName(i) == header.FieldName(i));
        Check(again.FieldValue(i) == header.FieldValue(i));
    }
}

void CheckSetParam(gatemoor::TEmailHeader& header, std::string_view field) {
    constexpr std::string_view kValue = "fuzz-1";
    if (!header.SetParam(field, "X-Fuzz", kValue)) return;
    std::string value;
    Check(header.GetParam(field, "x-fuzz", value) && value == kValue);
    Check(header.SetParam(field, "X-Fuzz", ""));
    Check(!header.GetParam(field, "x-fuzz", value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    TFuzzOwner owner;
    owner.partDepth = data[0] & 1;
    Lines lines = SplitLines(input);
    (void)owner.main.LoadFromLines(lines);
    (void)owner.part.LoadFromLines(lines);

    for (gatemoor::TEmailHeader* header : {&owner.main, &owner.part}) {
        AskEverything(*header);
        CheckRoundTrip(*header);
        (void)header->UnfoldFileNames();
        (void)header->TrimFileNameDots();
        (void)header->CleanFileNames();
        CheckSetParam(*header, "Content-Type");
        CheckSetParam(*header, "Content-Disposition");
        (void)header->SetBoundary("b;\"1");
        AskEverything(*header);
    }
    return 0;
}
