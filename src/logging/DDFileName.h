#pragma once
// The name of a source file, as loggers show it: without directory and extension.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

// A file name that either refers to the path's own bytes or owns a copy of them.
class DDFileName {
public:
    DDFileName(std::string_view bytes, bool copy);
    DDFileName(const DDFileName& other);
    DDFileName& operator=(const DDFileName& other);
    std::string_view view() const { return view_; }
    bool ownsBytes() const { return owned_ != nullptr; }
    std::string str() const { return std::string(view_); }

private:
    std::shared_ptr<const std::string> owned_;
    std::string_view view_;
};

// The file name of a path without directory and extension; null for a null path. Without copy
// the result refers to the path's bytes, which must outlive it.
std::optional<DDFileName> DDBaseFileName(const char* path, bool copy);
