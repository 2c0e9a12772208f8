#pragma once

#include "driver/DriverFinder.h"
#include "src/Network/Socket/NodeAddress.h"

#include <memory>
#include <string>

// What the main dialog needs from the operating system, behind one small
// interface so that start-up can be tested with a fake: a program directory
// of the test's own, a recorded set-up run, adapters of its choosing.
// Paths are UTF-8; Platform_win.cpp converts them to UTF-16.
class Platform {
public:
    virtual ~Platform() = default;

    // Folder of the running program, with its trailing separator; empty
    // when the system cannot say.
    virtual std::string programDirectory() = 0;
    // Walks dir depth first for the driver's library (".dll" on Windows,
    // ".so" elsewhere, compared case-sensitively), loads each and returns
    // the first "DllVelmorafind" found; nullptr if none. Libraries stay
    // loaded.
    virtual DllVelmorafindFn findDriverEntry(const std::string &dir) = 0;
    // Starts the driver's set-up program from dir and waits for it to end.
    // False when it could not be started.
    virtual bool runSetupProgram(const std::string &dir) = 0;
    // Deletes a file; a missing file is not an error.
    virtual bool removeFile(const std::string &path) = 0;
    // The host's link-local adapters.
    virtual bool listLinkLocalInterfaces(InterfaceMap &out) = 0;
    // Path separator of this platform ('\\' or '/').
    virtual char separator() const = 0;
};

// The implementation for the platform this was built for.
std::unique_ptr<Platform> createSystemPlatform();
