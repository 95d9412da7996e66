#include "mail/Html.h"

#include <algorithm>
#include <utility>

#include "mail/HTMLPars.h"
#include "screening/VornUtil.h"

namespace gatemoor {

namespace {

// Every line of a box frame has this level, so that the frame goes wherever its
// content goes.
constexpr int kBoxLevel = 1;

}  // namespace

std::uint8_t TSimpleHtml::ClampLevel(int level) {
    return static_cast<std::uint8_t>(std::clamp(level, 0, kMaxLevel));
}

void TSimpleHtml::Append(std::string text, int level, TSimpleHtmlMode mode) {
    lines_.push_back({std::move(text), ClampLevel(level), mode});
}

void TSimpleHtml::AddLine(std::string_view text, int level, bool withBreak, TSimpleHtmlMode mode) {
    if (level < 0) {
        level = lines_.empty() ? kDefaultLevel : lines_.back().level;
        withBreak = true;
    }
    Append((withBreak ? "<br>" : "") + std::string(text), level, mode);
}

void TSimpleHtml::InsertLine(std::size_t index, std::string_view text, bool withBreak,
                             TSimpleHtmlMode mode, int level) {
    std::string line = (withBreak && !lines_.empty() ? "<br>" : "") + std::string(text);
    index = std::min(index, lines_.size());
    lines_.insert(lines_.begin() + static_cast<long>(index),
                  TLine{std::move(line), ClampLevel(level), mode});
}

void TSimpleHtml::AppendToLast(std::string_view text) {
    if (lines_.empty()) {
        Append(std::string(text), kDefaultLevel, TSimpleHtmlMode::Both);
    } else {
        lines_.back().text += text;
    }
}

void TSimpleHtml::AddBreak() {
    Append("<br>", 0, TSimpleHtmlMode::Both);
}

std::vector<std::string> TSimpleHtml::Lines() const {
    std::vector<std::string> texts;
    texts.reserve(lines_.size());
    for (const auto& line : lines_)
        texts.push_back(line.text);
    return texts;
}

int TSimpleHtml::LevelOf(std::size_t i) const {
    return i < lines_.size() ? lines_[i].level : 0;
}

void TSimpleHtml::SetLevel(std::size_t i, int level) {
    if (i < lines_.size()) lines_[i].level = ClampLevel(level);
}

TSimpleHtmlMode TSimpleHtml::ModeOf(std::size_t i) const {
    return i < lines_.size() ? lines_[i].mode : TSimpleHtmlMode::Both;
}

void TSimpleHtml::SetMode(std::size_t i, TSimpleHtmlMode mode) {
    if (i < lines_.size()) lines_[i].mode = mode;
}

void TSimpleHtml::KeepMode(TSimpleHtmlMode mode) {
    if (mode == TSimpleHtmlMode::Both) return;
    std::erase_if(lines_, [mode](const TLine& line) {
        return line.mode != TSimpleHtmlMode::Both && line.mode != mode;
    });
}

void TSimpleHtml::CopyLines(const TSimpleHtml& source, TSimpleHtmlMode filter, int maxLevel) {
    // Counted up front: the source may be this builder.
    const std::size_t count = source.lines_.size();
    for (std::size_t i = 0; i < count; ++i) {
        const TLine line = source.lines_[i];
        if (line.level > maxLevel) continue;
        if (filter == TSimpleHtmlMode::TextOnly && line.mode == TSimpleHtmlMode::HtmlOnly) continue;
        if (filter == TSimpleHtmlMode::HtmlOnly && line.mode == TSimpleHtmlMode::TextOnly) continue;
        lines_.push_back(line);
    }
}

bool TSimpleHtml::ReplaceAll(std::string_view oldText, std::string_view newText) {
    bool changed = false;
    for (auto& line : lines_) {
        if (gatemoor::ReplaceAll(oldText, newText, line.text)) changed = true;
    }
    return changed;
}

void TSimpleHtml::WrapInBox(std::string_view title, std::string_view helpUrl, int hrWidth) {
    std::vector<TLine> content = std::move(lines_);
    lines_.clear();
    const std::string rule = "<br>" + std::string(kBoxRuleLength, '-');
    const auto html = [this](std::string text) {
        Append(std::move(text), kBoxLevel, TSimpleHtmlMode::HtmlOnly);
    };
    const auto hr = [](long long width) {
        return " <HR width=\"" + std::to_string(width) + "%\" align=\"left\">";
    };

    if (!title.empty()) Append("<br>" + std::string(title), kBoxLevel, TSimpleHtmlMode::TextOnly);
    Append(rule, kBoxLevel, TSimpleHtmlMode::TextOnly);
    std::string htmlTitle(title);
    EscapeHtml(htmlTitle);
    if (hrWidth > 0) html(hr(hrWidth));
    html(" <table width=\"100%\" border=\"0\" cols=2 rows=2 bgcolor=\"white\">");
    html("  <tr>");
    if (!htmlTitle.empty()) {
        html("   <td width=\"50%\"><font size=\"-1\"><b>" + htmlTitle + "</b></font></td>");
    }
    if (!helpUrl.empty()) {
        html("   <td width=\"50%\"><font size=\"-1\"><A HREF=" + std::string(helpUrl) +
             ">Help</a></font></td>");
    }
    html("  </tr>");
    html("  <tr><td colspan=\"2\"><font size=\"-1\"><BlockQuote>");
    for (auto& line : content)
        lines_.push_back(std::move(line));
    html("  </BlockQuote></font></td></tr>");
    html(" </table>");
    if (hrWidth < 0) html(hr(-static_cast<long long>(hrWidth)));
    Append(rule, kBoxLevel, TSimpleHtmlMode::TextOnly);
}

void TSimpleHtml::ToText(std::vector<std::string>& target) const {
    target = Lines();
    HtmlToText(target);
}

TSimpleHtml& TSimpleHtmlList::Add() {
    items_.push_back(std::make_unique<TSimpleHtml>());
    return *items_.back();
}

void TSimpleHtmlList::Delete(std::size_t i) {
    if (i < items_.size()) items_.erase(items_.begin() + static_cast<long>(i));
}

}  // namespace gatemoor
