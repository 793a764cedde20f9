#pragma once

class AnalyticsHelper;

// What the memory panel asks of the application delegate.
class MCAppServices {
public:
    virtual ~MCAppServices() = default;
    // Brings the About window to the front, creating it on first use.
    virtual void showAboutWindow() = 0;
    // The one analytics helper made at start-up; null before it.
    virtual AnalyticsHelper* analyticsHelper() const = 0;
    // Brings the preferences window to the front, creating it on first use.
    virtual void showPreferencesWindow() {}
};
