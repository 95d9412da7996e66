#include "screening/HiddenForm.h"

#include <cstdint>
#include <ostream>

#include "screening/EmbeddedPictures.h"

namespace gatemoor {
namespace {

constexpr std::size_t kLengthBytes = 4;

// Each component with the picture file it holds; the report service serves it under
// the same name.
struct TPictureSource {
    TBinaryData THiddenForm1::*component;
    std::string_view fileName;
};

constexpr std::array<TPictureSource, THiddenForm1::kComponentCount> kSources{{
    {&THiddenForm1::Bulk_Gif, "bulk.gif"},
    {&THiddenForm1::ChainLetter_gif, "chainletter.gif"},
    {&THiddenForm1::hoax_gif, "hoax.gif"},
    {&THiddenForm1::joke_gif, "joke.gif"},
    {&THiddenForm1::Personal_gif, "Personal.gif"},
    {&THiddenForm1::Petition_gif, "Petition.gif"},
    {&THiddenForm1::spacer_gif, "spacer.gif"},
    {&THiddenForm1::spam_gif, "spam.gif"},
    {&THiddenForm1::UrbanLegend_gif, "UrbanLegend.gif"},
    {&THiddenForm1::ViewReport_gif, "ViewReport.gif"},
    {&THiddenForm1::Virus_gif, "Virus.gif"},
    {&THiddenForm1::Classify_gif, "Classify.gif"},
    {&THiddenForm1::DotClear_gif, "DotClear.gif"},
    {&THiddenForm1::Spam2_gif, "Spam2.gif"},
    {&THiddenForm1::Personal2_gif, "Personal2.gif"},
    {&THiddenForm1::ViewReport2_gif, "ViewReport2.gif"},
}};

// Blocked pictures link to the placeholder under both names.
constexpr std::string_view kBlockedImageName = "BlockedImage.gif";

}  // namespace

bool TBinaryData::CopyTo(std::ostream& stream) const {
    stream.write(data_.data(), static_cast<std::streamsize>(data_.size()));
    return static_cast<bool>(stream);
}

std::string TBinaryData::WriteTheData() const {
    const auto length = static_cast<std::uint32_t>(data_.size());
    std::string stored(kLengthBytes, '\0');
    for (std::size_t i = 0; i < kLengthBytes; ++i)
        stored[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return stored + data_;
}

bool TBinaryData::ReadTheData(std::string_view stored) {
    if (stored.size() < kLengthBytes) return false;
    std::uint64_t length = 0;
    for (std::size_t i = 0; i < kLengthBytes; ++i)
        length |= static_cast<std::uint64_t>(static_cast<unsigned char>(stored[i])) << (8 * i);
    if (length != stored.size() - kLengthBytes) return false;
    data_.assign(stored.substr(kLengthBytes));
    return true;
}

THiddenForm1::THiddenForm1() {
    for (const TPictureSource& source : kSources)
        (this->*source.component).Data() = std::string(EmbeddedPicture(source.fileName));
}

std::array<const TBinaryData*, THiddenForm1::kComponentCount> THiddenForm1::Components() const {
    std::array<const TBinaryData*, kComponentCount> components{};
    for (std::size_t i = 0; i < kSources.size(); ++i)
        components[i] = &(this->*kSources[i].component);
    return components;
}

const TBinaryData* THiddenForm1::FindComponent(std::string_view name) const {
    for (const TPictureSource& source : kSources) {
        const TBinaryData& component = this->*source.component;
        if (component.Name() == name) return &component;
    }
    return nullptr;
}

std::vector<THiddenForm1::TServedPicture> THiddenForm1::ServedPictures() const {
    std::vector<TServedPicture> served{{kBlockedImageName, &DotClear_gif}};
    for (const TPictureSource& source : kSources)
        served.push_back({source.fileName, &(this->*source.component)});
    return served;
}

}  // namespace gatemoor
