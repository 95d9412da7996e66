// Builders of notice and report text. Every line carries a level and an output mode,
// so that one builder yields both the HTML body and the plain-text body of a notice.
// The report service's URLs (TVornUrl) belong to this module too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/VornUrl.h"

namespace gatemoor {

// Which output a line belongs to.
enum class TSimpleHtmlMode : std::uint8_t {
    Both = 0,
    HtmlOnly = 1,
    TextOnly = 2,
};

class TSimpleHtml {
public:
    // The level a line gets when nothing says otherwise.
    static constexpr int kDefaultLevel = 5;
    static constexpr int kMaxLevel = 255;
    // The dashed rule that frames a box in plain text.
    static constexpr std::size_t kBoxRuleLength = 69;

    // Appends `text`, after "<br>" when `withBreak`. A negative level takes the level
    // of the last line (kDefaultLevel when there is none) and always puts "<br>" first.
    void AddLine(std::string_view text, int level = -1, bool withBreak = true,
                 TSimpleHtmlMode mode = TSimpleHtmlMode::Both);
    // Inserts `text` before line `index` (at the end when beyond it), after "<br>" only
    // when `withBreak` and the builder already holds lines.
    void InsertLine(std::size_t index, std::string_view text, bool withBreak = true,
                    TSimpleHtmlMode mode = TSimpleHtmlMode::Both, int level = kDefaultLevel);
    // Appends `text` to the last line, or adds it as the first line.
    void AppendToLast(std::string_view text);
    // Appends the line "<br>" (level 0, both outputs).
    void AddBreak();

    [[nodiscard]] std::size_t Count() const { return lines_.size(); }
    [[nodiscard]] bool Empty() const { return lines_.empty(); }
    [[nodiscard]] const std::string& Line(std::size_t i) const { return lines_.at(i).text; }
    // The texts of all lines, in order.
    [[nodiscard]] std::vector<std::string> Lines() const;
    void Clear() { lines_.clear(); }

    // Level and mode of line `i`; 0 and Both for an index beyond the lines. Levels are
    // kept within 0..kMaxLevel; setting beyond the lines does nothing.
    [[nodiscard]] int LevelOf(std::size_t i) const;
    void SetLevel(std::size_t i, int level);
    [[nodiscard]] TSimpleHtmlMode ModeOf(std::size_t i) const;
    void SetMode(std::size_t i, TSimpleHtmlMode mode);

    // For HtmlOnly or TextOnly: deletes every line of the other single output. Both
    // does nothing.
    void KeepMode(TSimpleHtmlMode mode);
    // Appends, without "<br>" and with their level and mode, the lines of `source`
    // whose level is at most `maxLevel`; `filter` TextOnly skips HTML-only lines and
    // HtmlOnly skips text-only lines.
    void CopyLines(const TSimpleHtml& source, TSimpleHtmlMode filter, int maxLevel);
    // Replaces every occurrence of `oldText` by `newText` in every line (ReplaceAll
    // of the utility module); refuses when the texts are equal or `newText` contains
    // `oldText`. True when any line changed.
    bool ReplaceAll(std::string_view oldText, std::string_view newText);
    // Frames the lines: in plain text the title between two dashed rules; in HTML a
    // two-column table with the title, an optional "Help" link and the lines below. A
    // positive `hrWidth` puts a rule of that width (in %) above the table, a negative
    // one below it.
    void WrapInBox(std::string_view title, std::string_view helpUrl, int hrWidth);
    // `target` receives all lines converted to plain text with HtmlToText.
    void ToText(std::vector<std::string>& target) const;

private:
    struct TLine {
        std::string text;
        std::uint8_t level;
        TSimpleHtmlMode mode;
    };

    static std::uint8_t ClampLevel(int level);
    void Append(std::string text, int level, TSimpleHtmlMode mode);

    std::vector<TLine> lines_;
};

// An owning list of builders: destroying the list destroys them.
class TSimpleHtmlList {
public:
    // A new empty builder at the end of the list.
    TSimpleHtml& Add();
    [[nodiscard]] std::size_t Count() const { return items_.size(); }
    [[nodiscard]] TSimpleHtml& operator[](std::size_t i) { return *items_.at(i); }
    [[nodiscard]] const TSimpleHtml& operator[](std::size_t i) const { return *items_.at(i); }
    void Delete(std::size_t i);
    void Clear() { items_.clear(); }

private:
    std::vector<std::unique_ptr<TSimpleHtml>> items_;
};

}  // namespace gatemoor
