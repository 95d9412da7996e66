#include "screening/VornUtilLines.h"

#include <string_view>
#include <utility>

#include "screening/VornUtil.h"

namespace gatemoor {

namespace {

// Lines shorter than this stay as the blank clean-up leaves them.
constexpr std::size_t kReflowMinLength = 72;
// A sentence cut is made after this many characters at the earliest...
constexpr std::size_t kSentenceMinLength = 50;
// ...and only while the rest of the line is longer than this.
constexpr std::size_t kSentenceMaxRest = 70;

// In this order: "U.S.A." must go before "U.S.", and the list keeps the order in
// which "B.C." comes before "B.C.E.".
constexpr std::pair<std::string_view, std::string_view> kAbbreviations[] = {
    {"e.g.", "eg"},       {"i.e.", "ie"},       {"p.o.", "po"},    {"P.O.", "po"},
    {"et al.", "et al"},  {"Mrs. ", "mrs "},    {"Mr. ", "mr "},   {"Dr. ", "dr "},
    {"Ms. ", "ms "},      {"Prof. ", "prof "},  {"Gen. ", "Gen "}, {"Rep. ", "Rep "},
    {"Sen. ", "Sen "},    {"St. ", "St "},      {"Sr. ", "Sr "},   {"Jr. ", "Jr "},
    {"Ph.D. ", "PhD "},   {"M.D. ", "MD "},     {"U.S.A.", "usa"}, {"U.S.", "us"},
    {"U.K.", "uk"},       {"B.C.", "bc"},       {"A.D.", "ad"},    {"B.C.E.", "bce"},
    {"C.E.", "ce"},       {"ea.", "ea"},        {"a.m.", "am"},    {"p.m.", "pm"},
    {"a.s.a.p.", "asap"}, {"r.s.v.p.", "rsvp"},
};

std::size_t LeadingBlanks(std::string_view line) {
    const auto first = line.find_first_not_of(' ');
    return first == std::string_view::npos ? line.size() : first;
}

void DropLeadingBlank(std::string& text) {
    if (!text.empty() && text[0] == ' ') text.erase(0, 1);
}

// Where to cut a line that is too long, or npos.
std::size_t WrapPosition(std::string_view line, std::size_t width) {
    const std::size_t indent = LeadingBlanks(line);
    std::size_t cut = std::string_view::npos;
    if (width > 0) cut = line.rfind(' ', width - 1);
    if (cut == std::string_view::npos || cut < indent) cut = line.find(' ', indent);
    if (cut == std::string_view::npos || cut + 1 >= line.size()) return std::string_view::npos;
    return cut;
}

std::vector<std::string> SplitSentences(std::string line) {
    std::vector<std::string> pieces;
    while (line.size() > kSentenceMaxRest) {
        const std::size_t end = line.find_first_of("!.?", kSentenceMinLength - 1);
        std::string piece;
        if (end == std::string::npos) {
            piece = std::move(line);
            line.clear();
        } else {
            piece = line.substr(0, end + 1);
            line.erase(0, end + 1);
        }
        DropLeadingBlank(piece);
        pieces.push_back(std::move(piece));
    }
    // A line that the deletions emptied stays as an empty line.
    if (!line.empty() || pieces.empty()) {
        DropLeadingBlank(line);
        pieces.push_back(std::move(line));
    }
    return pieces;
}

}  // namespace

void WrapLines(std::vector<std::string>& list, int width, bool keepIndent) {
    const std::size_t limit = width > 0 ? static_cast<std::size_t>(width) : 0;
    // Each cut moves at least one non-blank character into the line before it, so the
    // rest shrinks even when it takes the indentation along.
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].size() <= limit) continue;
        const std::size_t cut = WrapPosition(list[i], limit);
        if (cut == std::string::npos) continue;
        std::string rest = list[i].substr(cut + 1);
        if (keepIndent) rest.insert(0, LeadingBlanks(list[i]), ' ');
        list[i].resize(cut);
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(rest));
    }
}

void PadLines(std::vector<std::string>& list, int width, char fill) {
    if (width <= 0) return;
    for (auto& line : list) {
        if (line.size() < static_cast<std::size_t>(width)) line.resize(width, fill);
    }
}

void ReflowText(std::vector<std::string>& list) {
    for (std::size_t i = list.size(); i-- > 0;) {
        std::string& line = list[i];
        ReplaceEvery("  ", " ", line);
        ReplaceEvery(" .", ".", line);
        DropLeadingBlank(line);
        if (line.size() < kReflowMinLength) continue;

        ReplaceEvery("-----original message-----", "", line);
        ReplaceEvery("..", ".", line);
        ReplaceEvery("!!", "!", line);
        ReplaceEvery("??", "?", line);
        ReplaceEvery("  ", " ", line);
        for (const auto& [abbreviation, replacement] : kAbbreviations) {
            ReplaceEvery(abbreviation, replacement, line);
        }
        std::vector<std::string> pieces = SplitSentences(std::move(line));
        const auto at = list.begin() + static_cast<std::ptrdiff_t>(i);
        *at = std::move(pieces[0]);
        list.insert(at + 1, std::make_move_iterator(pieces.begin() + 1),
                    std::make_move_iterator(pieces.end()));
    }
    for (std::size_t i = list.size(); i-- > 1;) {
        if (list[i].empty() && list[i - 1].empty()) list.erase(list.begin() + i);
    }
}

}  // namespace gatemoor
