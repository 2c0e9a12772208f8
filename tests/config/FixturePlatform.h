#pragma once

#include "src/Platform/Platform.h"

#include <memory>
#include <string>

// The system's platform layer with a fixture folder as program directory;
// counts the set-up runs. For tests that load the real (stand-in) driver
// library.
class FixturePlatform : public Platform {
public:
    explicit FixturePlatform(std::string dir) : dir_(std::move(dir)), system_(createSystemPlatform()) {}
    std::string programDirectory() override { return dir_; }
    DllVelmorafindFn findDriverEntry(const std::string &dir) override { return system_->findDriverEntry(dir); }
    bool runSetupProgram(const std::string &dir) override
    {
        ++setupRuns;
        return system_->runSetupProgram(dir);
    }
    bool removeFile(const std::string &path) override { return system_->removeFile(path); }
    bool listLinkLocalInterfaces(InterfaceMap &out) override { return system_->listLinkLocalInterfaces(out); }
    char separator() const override { return system_->separator(); }
    int setupRuns = 0;

private:
    std::string dir_;
    std::unique_ptr<Platform> system_;
};
