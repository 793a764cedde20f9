#pragma once
// One analytics event: where it comes from and what it says.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class GoogleEvent {
public:
    // Null when the domain name, category, action or label is empty; the value may be null.
    static std::shared_ptr<GoogleEvent> initWithParams(const std::string& domainName,
                                                       const std::string& category,
                                                       const std::string& action,
                                                       const std::string& label,
                                                       std::optional<std::int64_t> value);

    const std::string& domainName() const { return domainName_; }
    void setDomainName(std::string domainName) { domainName_ = std::move(domainName); }
    const std::string& category() const { return category_; }
    void setCategory(std::string category) { category_ = std::move(category); }
    const std::string& action() const { return action_; }
    void setAction(std::string action) { action_ = std::move(action); }
    const std::string& label() const { return label_; }
    void setLabel(std::string label) { label_ = std::move(label); }
    const std::optional<std::int64_t>& val() const { return val_; }
    void setVal(std::optional<std::int64_t> val) { val_ = val; }

private:
    GoogleEvent() = default;

    std::string domainName_;
    std::string category_;
    std::string action_;
    std::string label_;
    std::optional<std::int64_t> val_;
};
