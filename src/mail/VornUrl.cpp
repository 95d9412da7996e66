#include "mail/VornUrl.h"

#include <atomic>
#include <optional>

#include "screening/VornUtil.h"

namespace gatemoor {

namespace {

std::atomic<int> gReportServicePort{kDefaultReportServicePort};

constexpr int kMaxPort = 65535;

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// The name of a parameter line: the text before its first '=' (a bare name is all name).
std::string_view NameOf(std::string_view line) {
    return line.substr(0, line.find('='));
}

// A port number: decimal digits only, within the range of ports.
std::optional<int> PortNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > kMaxPort) return std::nullopt;
    }
    return value;
}

// Query text keeps the URL characters other than '%', '&' and '+'. '+' is encoded
// because decoding turns it into a blank: left as it is, a file name with a '+'
// would come back with a blank and name another file.
std::string EncodeQueryLine(std::string_view line) {
    return UrlEncode(line, "&");
}

}  // namespace

int ReportServicePort() {
    return gReportServicePort.load(std::memory_order_relaxed);
}

void SetReportServicePort(int port) {
    gReportServicePort.store(port, std::memory_order_relaxed);
}

std::string LastPathSegment(std::string_view text) {
    const std::size_t slash = text.rfind('/');
    return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

TVornUrl::TVornUrl() : scheme_("http"), host_(LocalHostName()), port_(ReportServicePort()) {}

void TVornUrl::Parse(std::string_view text) {
    params_.clear();
    scheme_ = "http";
    user_.clear();
    password_.clear();
    host_.clear();
    port_ = kDefaultPort;
    path_.clear();
    document_.clear();

    const std::size_t question = text.find('?');
    if (question != std::string_view::npos) {
        SetQueryString(text.substr(question + 1, kMaxQueryLength));
        text = text.substr(0, question);
    }
    const std::size_t schemeEnd = text.find("://");
    if (schemeEnd != std::string_view::npos) {
        scheme_ = text.substr(0, schemeEnd);
        text = text.substr(schemeEnd + 3, kMaxAddressLength);
    }
    ParseAddress(UrlDecode(text));
}

// `rest` is the decoded text after "://": [user[:password]@]host[:port][/path/document].
void TVornUrl::ParseAddress(std::string rest) {
    const std::size_t at = rest.find('@');
    if (at != std::string::npos && at < rest.find('/')) {
        const std::string_view credentials = std::string_view(rest).substr(0, at);
        const std::size_t colon = credentials.find(':');
        user_ = credentials.substr(0, colon);
        if (colon != std::string_view::npos) password_ = credentials.substr(colon + 1);
        rest.erase(0, at + 1);
    }

    // Only a ':' before the first '/' separates a port; one further on is part of
    // the path and must not turn the path into a host name.
    const std::size_t firstSlash = rest.find('/');
    const std::size_t colon = rest.find(':');
    if (colon != std::string::npos && colon < firstSlash) {
        host_ = rest.substr(0, colon);
        std::string afterColon = rest.substr(colon + 1);
        const std::size_t slash = afterColon.find('/');
        if (slash != std::string::npos) {
            port_ =
                PortNumber(std::string_view(afterColon).substr(0, slash)).value_or(kDefaultPort);
            rest = afterColon.substr(slash + 1);
        } else if (auto port = PortNumber(afterColon)) {
            port_ = *port;
            rest.clear();
        } else {
            port_ = kDefaultPort;
            rest = std::move(afterColon);
        }
    } else if (firstSlash != std::string::npos) {
        host_ = rest.substr(0, firstSlash);
        rest.erase(0, firstSlash + 1);
    } else {
        host_ = std::move(rest);
        return;
    }

    const std::size_t lastSlash = rest.rfind('/');
    if (lastSlash == std::string::npos) {
        document_ = std::move(rest);
    } else {
        document_ = rest.substr(lastSlash + 1, kMaxDocumentLength);
        path_ = rest.substr(0, lastSlash);
    }
}

std::string TVornUrl::ToString() const {
    std::string address = scheme_ + "://";
    if (!user_.empty()) {
        address += user_;
        if (!password_.empty()) address += ":" + password_;
    } else if (!password_.empty()) {
        // The ':' keeps a password without a user from reading back as the user.
        address += ":" + password_;
    }
    if (!user_.empty() || !password_.empty()) address += "@";
    address += host_;
    if (port_ != kDefaultPort) address += ":" + std::to_string(port_);
    if (!path_.empty()) address += "/" + path_;
    if (!document_.empty()) address += "/" + document_;

    std::string result = UrlEncode(address);
    const std::string query = QueryString();
    if (!query.empty()) result += "?" + query;
    return result;
}

std::string TVornUrl::QueryString() const {
    std::string result;
    for (std::size_t i = 0; i < params_.size(); ++i) {
        if (i > 0) result += "&";
        result += EncodeQueryLine(params_[i]);
    }
    return result;
}

void TVornUrl::SetQueryString(std::string_view text) {
    params_.clear();
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos) end = text.size();
        // An empty piece names nothing; kept, it would vanish when the URL is rebuilt.
        if (end > start) params_.push_back(UrlDecode(text.substr(start, end - start)));
        start = end + 1;
    }
}

bool TVornUrl::IsValid() const {
    return !scheme_.empty() && !host_.empty();
}

std::size_t TVornUrl::IndexOfName(std::string_view name) const {
    for (std::size_t i = 0; i < params_.size(); ++i) {
        if (SameTextIgnoringCase(NameOf(params_[i]), name)) return i;
    }
    return std::string::npos;
}

bool TVornUrl::HasParam(std::string_view name) const {
    return IndexOfName(name) != std::string::npos;
}

std::string TVornUrl::Value(std::string_view name) const {
    const std::size_t index = IndexOfName(name);
    if (index == std::string::npos) return {};
    const std::string& line = params_[index];
    const std::size_t equals = line.find('=');
    return equals == std::string::npos ? std::string() : line.substr(equals + 1);
}

void TVornUrl::SetValue(std::string_view name, std::string_view value) {
    const std::size_t index = IndexOfName(name);
    if (value.empty()) {
        if (index != std::string::npos) params_.erase(params_.begin() + static_cast<long>(index));
        return;
    }
    std::string line = std::string(name) + "=" + std::string(value);
    if (index == std::string::npos) {
        params_.push_back(std::move(line));
    } else {
        params_[index] = std::move(line);
    }
}

bool TVornUrl::RemoveParam(std::string_view name) {
    const std::size_t before = params_.size();
    std::erase_if(params_, [name](const std::string& line) {
        return SameTextIgnoringCase(NameOf(line), name);
    });
    return params_.size() != before;
}

}  // namespace gatemoor
