// The D-Bus server address syntax, and where the session bus is.
#include "platform/core/session_bus.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::string> unescape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            out += value[i];
            continue;
        }
        if (i + 2 >= value.size()) {
            return std::nullopt;
        }
        const int high = hexValue(value[i + 1]);
        const int low = hexValue(value[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::optional<BusAddressEntry> parseEntry(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    BusAddressEntry entry;
    entry.text = std::string(text);
    entry.transport = std::string(text.substr(0, colon));
    std::string_view rest = text.substr(colon + 1);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view pair = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            return std::nullopt;
        }
        auto value = unescape(pair.substr(equals + 1));
        if (!value) {
            return std::nullopt;
        }
        if (!entry.keys.emplace(std::string(pair.substr(0, equals)), std::move(*value)).second) {
            return std::nullopt;
        }
    }
    return entry;
}

} // namespace

std::optional<std::vector<BusAddressEntry>> parseBusAddress(std::string_view address) {
    std::vector<BusAddressEntry> entries;
    while (!address.empty()) {
        const std::size_t semicolon = address.find(';');
        const std::string_view text = address.substr(0, semicolon);
        address = semicolon == std::string_view::npos ? std::string_view()
                                                      : address.substr(semicolon + 1);
        if (text.empty()) {
            continue;
        }
        auto entry = parseEntry(text);
        if (!entry) {
            return std::nullopt;
        }
        entries.push_back(std::move(*entry));
    }
    return entries;
}

std::string sessionBusAddress(const char* dbusSessionBusAddress, const char* xdgRuntimeDir) {
    if (dbusSessionBusAddress != nullptr && *dbusSessionBusAddress != '\0') {
        return dbusSessionBusAddress;
    }
    if (xdgRuntimeDir == nullptr || *xdgRuntimeDir != '/') {
        return {};
    }
    const std::string socket = std::string(xdgRuntimeDir) + "/bus";
    struct stat st {};
    if (::lstat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
        return {};
    }
    // Escape what the address syntax reserves.
    std::string escaped;
    for (const char c : socket) {
        if (c == ',' || c == ';' || c == '%' || c == '=') {
            static const char digits[] = "0123456789abcdef";
            escaped += '%';
            escaped += digits[static_cast<unsigned char>(c) >> 4];
            escaped += digits[static_cast<unsigned char>(c) & 0xf];
        } else {
            escaped += c;
        }
    }
    return "unix:path=" + escaped;
}

} // namespace platform
