#include "logging/DDFileName.h"

DDFileName::DDFileName(std::string_view bytes, bool copy) {
    if (copy) {
        owned_ = std::make_shared<const std::string>(bytes);
        view_ = *owned_;
    } else {
        view_ = bytes;
    }
}

DDFileName::DDFileName(const DDFileName& other) : owned_(other.owned_), view_(other.view_) {}

DDFileName& DDFileName::operator=(const DDFileName& other) {
    owned_ = other.owned_;
    view_ = other.view_;
    return *this;
}

std::optional<DDFileName> DDBaseFileName(const char* path, bool copy) {
    if (path == nullptr) {
        return std::nullopt;
    }
    const char* lastSlash = nullptr;
    const char* lastDot = nullptr;
    const char* p = path;
    for (; *p != '\0'; ++p) {
        if (*p == '/') {
            lastSlash = p;
            lastDot = nullptr; // only a dot after the last slash counts
        } else if (*p == '.') {
            lastDot = p;
        }
    }
    const char* start = lastSlash != nullptr ? lastSlash + 1 : path;
    const char* end = lastDot != nullptr ? lastDot : p;
    return DDFileName(std::string_view(start, static_cast<std::size_t>(end - start)), copy);
}
