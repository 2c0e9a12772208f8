#pragma once

// True when any argument after the program name is exactly "staging";
// every other argument is ignored.
bool stagingRequested(int argc, const char *const argv[]);
